#include "transfer/ManagerComm.h"

#include "files/FitxUtils.h"
#include "foundation/Json.h"
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "foundation/Threads.h"
#include "platform/StandardFolders.h"
#include "protocol/Catalogue.h"
#include "protocol/ServerProtocol.h"
#include "transfer/InternetITV.h"

namespace {

const char* const kNoLinked = "No Linked";

void Log(const CDString& text) {
    CustomRegistraComun(text);
}

// Creates the folder when missing: three tries, 300 and 400 ms apart.
bool CheckFolderDefault(const TStringNomFitx& folder) {
    const int pausas[] = {300, 400};
    for (int intento = 0; intento < 3; ++intento) {
        if (TFitxUtils::Verifica_Existencia_Carpeta(folder)) return true;
        TStringErr_i err;
        if (TFitxUtils::Crea_Carpeta(folder, false, &err)) return true;
        if (intento < 2) Sleep(pausas[intento]);
    }
    return false;
}

// "Downloader/qiwdata" at the root of the folder's volume; for a folder that is on no volume, the
// user's home (never the root of the system disk).
TStringNomFitx CarpetaAlternativa(const TStringNomFitx& folder) {
    TStringNomFitx root;
    if (!folder.Obten_Unidad().IsEmpty())
        root = folder.Obten_Unidad_Formateada();
    else
        root = Linux_HomeFolder();
    root << "Downloader"
         << "qiwdata";
    root.Set_Final_Slash();
    return root;
}

void SetError(TStringErr& err, const CDString& text, int code) {
    err = text;
    if (code) ManageError(code, kNoLinked, kNoLinked);
}

// Writes the alarm line "<where> . <detail>" to the log; always false.
bool Alarma(const char* where, const CDString& detail) {
    DString t;
    t << HEADER_ERROR << where << " . " << detail;
    Log(t);
    return false;
}

// Fetches and deciphers the server's answer to `query`. On failure err gets the text `txt_key`
// with the reason (error `code`), the log an alarm line of `where`, and the result is false.
bool PideRespuesta(TManagerComm& comm, const DString& query, TManagerCommData& data, const char* where,
                   const char* txt_key, int code, TStringErr& err, TMonitorProc* monitor) {
    TStringErr_i fetch_err;
    if (comm.GetURLParams(query, data.url) && comm.FuncDownloadData(data, fetch_err, monitor, true))
        return true;
    SetError(err, GetTxtF(txt_key, {fetch_err.IsEmpty() ? CDString(" ") : CDString(fetch_err)}), code);
    return Alarma(where, DString("fetch failed . strError=") << AnswerForLog(err));
}

} // namespace

TManagerComm::TManagerComm(const TStringNomFitx& folder, TCheckFolderFn check) {
    Log("TManagerComm()");
    if (!check) check = CheckFolderDefault;
    temp_data_path_ = folder.IsEmpty() ? TStringNomFitx(GetEnvironmentDemandedPath("qiwdata")) : folder;
    temp_data_path_.Set_Final_Slash();
    if (check(temp_data_path_)) return;
    TStringNomFitx old = temp_data_path_;
    TStringNomFitx alternativa = CarpetaAlternativa(old);
    if (check(alternativa)) {
        temp_data_path_ = alternativa;
        DString t;
        t << "TManagerComm::TManagerComm()"
          << " - New qiwdata=" << alternativa;
        Log(t);
        return;
    }
    temp_data_path_ = old;
    no_temp_folder_ = true;
    DString t;
    t << "TManagerComm::TManagerComm()"
      << " - New qiwdata . Changed again to old=" << old;
    Log(t);
}

TManagerComm::~TManagerComm() = default;

void TManagerComm::SetIdiomaMsgs() {
    TInternetITV::Set_Progress_Formats(GetTxt("Txt.MgrComm.Transferred1"),
                                       GetTxt("Txt.MgrComm.Transferred2"));
}

bool TManagerComm::GetURLParams(const DString& query, DString& url, const TURLParamsInfo* info) {
    DString host = server_www_com;
    GetUrlQuillWebDownloader(false, 37, host);
    bool ok = BuildRequestUrl(query, info ? info->devid : DString(), host, url);
    DString t;
    t << "TManagerComm::GetURLParams() . ok=" << ok << " . query=" << QueryForLog(query);
    Log(t);
    return ok;
}

bool TManagerComm::CheckErrorResp(const DString& resp, DString& error) {
    return CheckErrorAnswer(resp, error);
}

bool TManagerComm::FuncDownloadData(TManagerCommData& data, TStringErr& err, TMonitorProc* monitor,
                                    bool decipher) {
    bool ok = false;
    for (int intento = 1; intento <= 3; ++intento) {
        err.Vacia();
        data.resp = "";
        DString raw;
        TStringErr_i fetch_err;
        TInternetITV net;
        int64_t inicio = GetTickCount64();
        bool fetched = net.DescargaHTTP_ITV_Str(data.url, raw, fetch_err, monitor);
        DString t;
        t << "TManagerComm::FuncDownloadData() . time DescargaHTTP_ITV_Str() . "
          << "elapsed time=" << (GetTickCount64() - inicio) << " ms";
        Log(t);

        bool error_answer = false;
        if (!fetched) {
            last_conn_error_ = fetch_err.Detail().IsEmpty() ? DString(fetch_err) : fetch_err.Detail();
            err = fetch_err.IsEmpty() ? DString("Error fetching the answer") : DString(fetch_err);
        } else if (decipher) {
            if (DecipherAnswer(raw, data.resp)) {
                DString error;
                if (CheckErrorResp(data.resp, error)) {
                    err = error;
                    error_answer = true;
                }
            } else {
                err = data.resp;
                error_answer = true;
            }
        } else {
            data.resp = raw;
        }
        ok = fetched && !error_answer;

        t = "";
        t << "TManagerComm::FuncDownloadData() . try=" << intento << " . ok=" << ok
          << " . url=" << UrlForLog(data.url) << " . resp=" << AnswerForLog(data.resp);
        if (!err.IsEmpty()) t << " . strError=" << AnswerForLog(err);
        Log(t);

        if (ok) break;
        if (err.Contains("ERROR 2526")) {
            ok = true;
            break;
        }
        if (MonHayStop(monitor)) break;
        Sleep(1000);
    }
    if (!ok && data.resp.IsEmpty() && !err.IsEmpty()) data.resp = err;
    return ok;
}

bool TManagerComm::Server_Login_Check(const DString& user, const DString& password, DString& token,
                                      DString& session_id, const DString& second, TStringErr& err,
                                      TMonitorProc* monitor) {
    DString query;
    query << "func=LOGINCHECK"
          << "&Token=" << token << "&sessionId=" << session_id << "&usr=" << user << "&pwd=" << password;
    const char* const where = "TManagerComm::Server_Login_Check()";
    TManagerCommData data;
    if (!PideRespuesta(*this, query, data, where, "Txt.MgrComm.Err.DownloadData.BadResponse", 7310901, err,
                       monitor))
        return false;
    CJSON json;
    if (!json.Parse(data.resp)) {
        DString msg = GetTxt("Txt.MgrComm.Err.Login.BadResponse");
        msg << " . (Parse) data.resp=" << data.resp;
        SetError(err, msg, 7310601);
        return Alarma(where, DString("(Parse) data.resp=") << AnswerForLog(data.resp));
    }
    const char* error_msg = json.GetObjectValueString("errorMsg");
    if (error_msg && *error_msg) {
        SetError(err, error_msg, 0);
        return Alarma(where, DString("errorMsg=") << error_msg);
    }
    if (!json.GetObjectValueTrue("loginOK")) {
        SetError(err, GetTxt("Txt.MgrComm.Err.Login.KO"), 73108);
        return Alarma(where, "loginOK=0");
    }
    const char* sid = json.GetObjectValueString("SessionId");
    const char* tok = json.GetObjectValueString("Token");
    session_id = sid ? sid : "";
    token = tok ? tok : "";
    if (session_id.IsEmpty()) {
        SetError(err, GetTxt("Txt.MgrComm.Err.Login.BadResponse"), 7310602);
        return Alarma(where, "loginOK=1 . no SessionId");
    }
    err.Vacia();
    Log("TManagerComm::Server_Login_Check() . loginOK=1");
    return true;
}

bool TManagerComm::Server_User_Products(const DString& session_id, const DString& token, TUserInfo& user,
                                        VectorS<TProduct>& list, const DString& second, TStringErr& err,
                                        TMonitorProc* monitor) {
    list.Vacia();
    DString query;
    query << "func=PRODUCTSTOINSTALL"
          << "&sessionId=" << session_id << "&Token=" << token;
    const char* const where = "TManagerComm::Server_User_Products()";
    TManagerCommData data;
    if (!PideRespuesta(*this, query, data, where, "Txt.MgrComm.Err.Products.BadResponse", 7311001, err,
                       monitor))
        return false;
    CJSON json;
    if (!json.Parse(data.resp)) {
        // The raw answer means nothing to the user: it goes to the log only.
        SetError(err, GetTxtF("Txt.MgrComm.Err.Products.BadResponse", {""}), 7311002);
        return Alarma(where, DString("(Parse) data.resp=") << AnswerForLog(data.resp));
    }
    if (!json.GetObjectValueTrue("sessionOK")) {
        SetError(err, GetTxt("Txt.MgrComm.Err.Products.KO"), 73111);
        return Alarma(where, DString("sessionOK=0 . data.resp=") << AnswerForLog(data.resp));
    }
    DString t;
    const char* name = json.GetObjectValueString("UserName");
    const char* email = json.GetObjectValueString("Email");
    user.userName = name ? name : "";
    user.email = email ? email : "";
    const CJSON* products = json.GetObjectItem("Products");
    if (products) {
        GetProductList(list, products);
        if (list.Numero() == 0) {
            t << "ok=" << 1 << ". no products in url resp func=PRODUCTSTOINSTALL";
            Log(t);
            SetError(err, GetTxt("Txt.MgrComm.Err.Login.NoProducts"), 73112);
            return false;
        }
    }
    err.Vacia();
    t << "TManagerComm::Server_User_Products() . ok=1 . products=" << list.Numero();
    Log(t);
    return true;
}

bool TManagerComm::GetProductList(VectorS<TProduct>& list, const CJSON* products) {
    if (ReadProductList(products, list)) has_updateable_ = true;
    return true;
}

bool TManagerComm::FileDescargarManageLista(const DString& name, VectorS<DString>& seen) {
    return RecordLinkName(name, seen);
}

bool TManagerComm::CheckUpdateableFile(TProductLink& link, const DString& file) {
    if (!::IsUpdateableFile(file)) return false;
    link.updateable = true;
    has_updateable_ = true;
    return true;
}

bool TManagerComm::IsUpdateableFile(const DString& file) {
    return ::IsUpdateableFile(file);
}

bool TManagerComm::GetInfoUpdateableFile(const DString& file, DString& suffix, DString& base,
                                         DString& base_no_hd) {
    return ::GetInfoUpdateableFile(file, suffix, base, base_no_hd);
}

bool TServerSession::GetProducts(TStringErr& err, TMonitorProc* monitor) {
    if (!managerComm) {
        err = GetTxt("Txt.MgrComm.Err.Products.KO");
        return false;
    }
    TUserInfo info;
    VectorS<TProduct> list;
    bool ok = managerComm->Server_User_Products(sessionId, token, info, list, idioma, err, monitor);
    if (!ok && !MonHayStop(monitor)) {
        DString t;
        t << HEADER_ERROR << "TManagerUtils_base::GetProducts() . strError=" << err
          << " . In 7 segs. try again";
        Log(t);
        // A stop request during the pause ends it and skips the second try.
        if (SleepOrStop(7000, monitor)) {
            ResetErrorFlags();
            err.Vacia();
            ok = managerComm->Server_User_Products(sessionId, token, info, list, idioma, err, monitor);
        }
    }
    if (ok) {
        products = list;
        userInfo = info;
    }
    DString t;
    t << "TManagerUtils_base::GetProducts() . ok=" << ok << " . products=" << products.Numero();
    Log(t);
    return ok;
}
