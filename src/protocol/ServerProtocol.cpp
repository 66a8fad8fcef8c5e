#include "protocol/ServerProtocol.h"

#include "foundation/Json.h"
#include "foundation/Registra.h"
#include "foundation/StringErr.h"
#include "foundation/NomFitx.h"
#include "platform/OsInfo.h"
#include "platform/StandardFolders.h"
#include "protocol/Catalogue.h"
#include "protocol/CryptITV.h"

#include <string>

const char appkey[] = "Qm7-Vx2.Lp9_Rt4+Wz6=Hs1:Jd8,Nc3";
DString downloader_version = "149";
const char* const kDefaultServerWwwCom = "www.orvane.example";
DString server_www_com = kDefaultServerWwwCom;

namespace {

const char* const kMask = "********";
// Request fields and answer members that never reach the log in clear.
const char* const kSecretFields[] = {"pwd", "Token", "sessionId"};
const char* const kSecretMembers[] = {"SessionId", "Token", "Pwd"};

bool EsSecreto(const CDString& name, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (name.Strcmpi(list[i]) == 0) return true;
    return false;
}

// Removes the secret members of every object in the tree.
void QuitaSecretos(CJSON* node) {
    for (CJSON* c = node ? node->child : nullptr; c;) {
        CJSON* next = c->next;
        if (node->type == CJSON::cJSON_Object &&
            EsSecreto(c->key, kSecretMembers, sizeof(kSecretMembers) / sizeof(kSecretMembers[0]))) {
            if (c->prev)
                c->prev->next = c->next;
            else
                node->child = c->next;
            if (c->next)
                c->next->prev = c->prev;
            else
                node->child_last = c->prev;
            c->next = c->prev = nullptr;
            delete c;
        } else {
            QuitaSecretos(c);
        }
        c = next;
    }
}

} // namespace

DString GetUrlQuillWeb(int entry, const CDString& host) {
    DString url;
    switch (entry) {
    case 37:
        url << "https://" << host << "/installwizard/index.php?";
        break;
    case 38:
        url << "https://" << host << "/installwizard/enviaemail.php";
        break;
    case 33:
        url << "http://" << host << "/middleware/StatusInformation/index.php?par=";
        break;
    default:
        break;
    }
    return url;
}

DString GetUrlQuillWebDownloader(bool flag, int entry, const CDString& host) {
    DString url = GetUrlQuillWeb(entry, host);
    DString t;
    t << "GetUrlQuillWebDownloader() . entry=" << entry << " . url=" << url;
    CustomRegistraComun(t);
    return url;
}

DString RequestPlainText(const CDString& query, const CDString& device_id, const CDString& nonce) {
    DString plain;
    plain << query << "&version=" << downloader_version << "&Device_product="
          << "Downloader"
          << "OS"
          << "&ptf="
          << "mac"
          << "&lang="
          << "en"
          << "&devid=" << device_id << "&" << nonce;
    return plain;
}

DString ThisComputerId() {
    DString id;
    GetComputerId(id);
    return id;
}

bool BuildRequestUrl(const CDString& query, const CDString& device_id, const CDString& host, DString& url) {
    url = "";
    DString nonce;
    Rand::RandomText(nonce, kRequestNonceLength);
    DString plain =
        RequestPlainText(query, device_id.IsEmpty() ? ThisComputerId() : DString(device_id), nonce);
    TCryptITV crypt("TwoFish");
    crypt.Carga_Llave(appkey);
    DString cifrado;
    crypt.Encripta(plain, cifrado);
    if (cifrado.IsEmpty()) return false;
    url << GetUrlQuillWeb(37, host) << "par=" << cifrado;
    return true;
}

bool DecipherAnswer(const CDString& raw, DString& answer) {
    TCryptITV crypt("TwoFish");
    crypt.Carga_Llave(appkey);
    return crypt.Desencripta(raw, answer);
}

bool CheckErrorAnswer(const CDString& answer, DString& error) {
    if (answer.IsEmpty()) {
        error = GetTxt("Txt.MgrComm.Err.DownloadData.NoAnswer");
        ManageError(73121, "No Linked", "No Linked");
        return true;
    }
    CJSON json;
    if (json.Parse(answer) && json.type == CJSON::cJSON_Object) {
        DString msg = json.GetObjectValueString("errorMsg");
        int at = msg.strstr("ERROR");
        if (at < 0) return false;
        error = msg.SubString(at);
        return true;
    }
    int at = answer.strstr("ERROR");
    if (at < 0) return false;
    DString texto = answer.SubString(at);
    int cut = texto.strchr('}');
    if (cut >= 0) texto = texto.SubString(0, cut);
    cut = texto.strchr('"');
    if (cut >= 0) texto = texto.SubString(0, cut);
    error = texto;
    return true;
}

DString QueryForLog(const CDString& query) {
    std::string out;
    std::string q = query.c_str();
    size_t start = 0;
    while (start <= q.size()) {
        size_t end = q.find('&', start);
        if (end == std::string::npos) end = q.size();
        std::string piece = q.substr(start, end - start);
        size_t eq = piece.find('=');
        if (eq != std::string::npos && EsSecreto(DString(piece.substr(0, eq).c_str()), kSecretFields,
                                                 sizeof(kSecretFields) / sizeof(kSecretFields[0])))
            piece = piece.substr(0, eq + 1) + kMask;
        if (start > 0) out += '&';
        out += piece;
        start = end + 1;
    }
    return DString(out.c_str());
}

DString AnswerForLog(const CDString& answer) {
    CJSON json;
    if (!json.Parse(answer) || (json.type != CJSON::cJSON_Object && json.type != CJSON::cJSON_Array))
        return DString(answer);
    QuitaSecretos(&json);
    DString out;
    json.PrintUnformatted(out);
    return out;
}

DString UrlForLog(const CDString& url) {
    int q = url.strchr('?');
    return q < 0 ? DString(url) : url.SubString(0, q);
}

DString GetEnvironmentDemandedPath(const char* name) {
    TStringNomFitx data(TStringNomFitx::Ret_Path_AppData());
    if (data.IsEmpty()) {
        data = Mac_GetPathAppData();
        data << "Downloader2";
    }
    data.Quita_Final_Slash();
    TStringNomFitx folder = data.npath();
    folder << "Downloader_Env" << (name ? name : "");
    folder.Set_Final_Slash();
    return folder;
}
