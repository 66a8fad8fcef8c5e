#include "protocol/Product.h"

#include "foundation/Json.h"
#include "foundation/Registra.h"
#include "foundation/Threads.h"

#include <ctime>
#include <string>

namespace {

DString Texto(const CJSON* obj, const char* name) {
    const char* v = obj->GetObjectValueString(name);
    return DString(v ? v : "");
}

// What may be logged of a link's address: no query, which may carry a signature.
DString SinConsulta(const CDString& url) {
    int q = url.strchr('?');
    return q < 0 ? DString(url) : url.SubString(0, q);
}

void Log(const CDString& text) {
    CustomRegistraComun(text);
}

TProductLink LeeLink(const CJSON* item) {
    TProductLink link;
    link.url = Texto(item, "Url");
    link.installPath = Texto(item, "Path");
    link.name = Texto(item, "Name");
    link.fileName = Texto(item, "File");
    link.size = item->GetObjectValueInt64("Size");
    link.md5 = Texto(item, "Md5");
    link.md5.Elimina_Caracter_Todos('"');
    link.md5.A_Mayusculas();
    link.optional = item->GetObjectValueTrue("Optional");
    return link;
}

} // namespace

bool IsSafeServerPath(const CDString& path, bool install_path) {
    std::string p = path.c_str();
    if (p.empty()) return false;
    for (unsigned char c : p)
        if (c < 0x20 || c == 0x7f || c == ':') return false;
    if (install_path) {
        if (p[0] != '/') return false;
        p.erase(0, 1);
        if (!p.empty() && p.back() == '/') p.pop_back();
    }
    size_t start = 0;
    while (true) {
        size_t end = p.find_first_of("/\\", start);
        std::string part = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

int CurrentUtcYear() {
    time_t secs = static_cast<time_t>(ClockITV().UnixMicros() / 1000000);
    struct tm utc;
    if (!gmtime_r(&secs, &utc)) return 1970;
    return utc.tm_year + 1900;
}

bool GetInfoUpdateableFile(const CDString& file, DString& suffix, DString& base, DString& base_no_hd,
                           int current_year) {
    int underscore = file.strchr_inv('_');
    if (underscore < 0) return false;
    DString tail = file.SubString(underscore + 1);
    int dot = tail.strchr_inv('.');
    if (dot < 0) return false;
    DString year = tail.SubString(0, dot);
    if (year.Length() != 4) return false;
    for (int i = 0; i < 4; ++i)
        if (year[i] < '0' || year[i] > '9') return false;
    if (current_year == 0) current_year = CurrentUtcYear();
    int y = year.atoi();
    if (y < current_year - 20 || y > current_year + 5) return false;
    suffix = "";
    suffix << "_" << year << ".";
    int at = file.strstr(suffix.c_str());
    if (at >= 0) {
        base = file.SubString(0, at);
        base_no_hd = base;
        base_no_hd.Sustituye("_HD", "");
    }
    return true;
}

bool IsUpdateableFile(const CDString& file, int current_year) {
    DString suffix, base, base_no_hd;
    return GetInfoUpdateableFile(file, suffix, base, base_no_hd, current_year);
}

bool RecordLinkName(const CDString& name, VectorS<DString>& seen) {
    for (int i = 0; i < seen.Numero(); ++i)
        if (seen[i] == name) return false;
    seen.Anyade(DString(name));
    return true;
}

bool ReadProductList(const CJSON* products, VectorS<TProduct>& list, int current_year) {
    bool updateable = false;
    VectorS<DString> seen;
    int n = products ? products->GetArraySize() : 0;
    for (int i = 0; i < n; ++i) {
        const CJSON* item = products->GetArrayItem(i);
        TProduct product;
        product.id = item->GetObjectValueInt("Id");
        if (item->GetObjectItem("Retries")) product.retries = item->GetObjectValueInt("Retries");
        product.name = Texto(item, "Name");
        product.name2 = product.name;
        product.description = Texto(item, "Description");
        DString t;
        t << "* Product . Id=" << product.id << " . Name=" << product.name
          << " . Retries=" << product.retries;
        Log(t);

        const CJSON* links = item->GetObjectItem("Links");
        int nl = links ? links->GetArraySize() : 0;
        for (int j = 0; j < nl; ++j) {
            const CJSON* li = links->GetArrayItem(j);
            DString name = Texto(li, "Name");
            if (!RecordLinkName(name, seen)) {
                t = "";
                t << "   - ********* duplicate *** "
                  << " . Name=" << name;
                Log(t);
                continue;
            }
            TProductLink link = LeeLink(li);
            TStringNomFitx file(link.fileName);
            if (file.es_extension("imp") && link.optional) {
                link.optional = false;
                Log("  ---> optional forced to not, imp map");
            }
            t = "";
            t << "   - Link . Name=" << link.name << " . File=" << link.fileName
              << " . Path=" << link.installPath << " . Size=" << link.size << " . Md5=" << link.md5
              << " . Optional=" << link.optional << " . Url=" << SinConsulta(link.url);
            Log(t);
            if (link.fileName.IsEmpty() || link.installPath.IsEmpty() || link.url.IsEmpty()) continue;
            if (!IsSafeServerPath(link.fileName, false) || !IsSafeServerPath(link.installPath, true)) {
                t = HEADER_ERROR;
                t << "ReadProductList() . unsafe File or Path from the server, link dropped . Name="
                  << link.name << " . File=" << link.fileName << " . Path=" << link.installPath;
                Log(t);
                continue;
            }
            if (IsUpdateableFile(link.fileName, current_year)) {
                link.updateable = true;
                updateable = true;
            }
            product.links.Anyade(link);
        }

        if (!product.name.IsEmpty() && product.links.Numero() > 0 && product.id != 0) {
            list.Anyade(product);
            Log("*  ------ product added ------");
        } else {
            Log("*  ****** product NOT added ******");
        }
    }
    return updateable;
}
