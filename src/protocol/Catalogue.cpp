#include "protocol/Catalogue.h"

#include "platform/StandardFolders.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/translation.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The bytes of resources/messages.po compiled by msgfmt (library dl_resources).
extern const unsigned char dl_messages_mo[];
extern const unsigned long dl_messages_mo_size;

const char* const kCatalogueDomain = "messages";
const char* const kCatalogueLocaleNames[4] = {"en", "en_UK", "en_UK.unknown-47.lproj",
                                              "en_GB.unknown-47.lproj"};

namespace {

// Guards the process-wide wxTranslations object against a selection during a lookup.
std::shared_mutex g_lock;
bool g_selected = false;

std::string Carpeta(const TStringNomFitx& folder) {
    std::string f = folder.c_str();
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    return f;
}

// Finds "<folder>/<lang>/LC_MESSAGES/<domain>.mo" for the languages the translations object asks
// for ("en_GB", then "en"). Loading never shows anything: errors only make the load fail.
class TLocaleFolderLoader : public wxTranslationsLoader {
public:
    explicit TLocaleFolderLoader(std::string folder) : folder_(std::move(folder)) {}

    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& lang) override {
        std::string name = lang.utf8_string();
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
            return nullptr;
        std::string file = folder_ + "/" + name + "/LC_MESSAGES/" + domain.utf8_string() + ".mo";
        struct stat st;
        if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        wxLogNull quiet;
        return wxMsgCatalog::CreateFromFile(wxString::FromUTF8(file.c_str()), domain);
    }

    wxArrayString GetAvailableTranslations(const wxString& domain) const override {
        wxArrayString names;
        for (const char* name : kCatalogueLocaleNames) {
            std::string file = folder_ + "/" + name + "/LC_MESSAGES/" + domain.utf8_string() + ".mo";
            struct stat st;
            if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                names.push_back(wxString::FromUTF8(name));
        }
        return names;
    }

private:
    std::string folder_;
};

bool EsPlaceholder(const char* p, size_t& len) {
    size_t i = 1;
    if (p[i] == 'l') ++i;
    if (p[i] == 'l') ++i;
    if (p[i] == 's' && i == 1) {
        len = 2;
        return true;
    }
    if (p[i] == 'd' || p[i] == 'i' || p[i] == 'u') {
        len = i + 1;
        return true;
    }
    return false;
}

} // namespace

DString GetTxt(const char* key) {
    if (!key) return DString("");
    std::shared_lock<std::shared_mutex> hold(g_lock);
    wxTranslations* t = g_selected ? wxTranslations::Get() : nullptr;
    if (t) {
        const wxString* s = t->GetTranslatedString(wxString::FromUTF8(key), kCatalogueDomain);
        if (s) return DString(s->utf8_str().data());
    }
    return DString(key);
}

DString FillTxt(const CDString& text, std::initializer_list<CDString> args) {
    std::string out;
    const char* p = text.c_str();
    auto next = args.begin();
    while (*p) {
        size_t len = 0;
        if (p[0] == '%' && p[1] == '%') {
            out += '%';
            p += 2;
        } else if (p[0] == '%' && EsPlaceholder(p, len) && next != args.end()) {
            out += next->c_str();
            ++next;
            p += len;
        } else {
            out += *p++;
        }
    }
    return DString(out.c_str());
}

DString GetTxtF(const char* key, std::initializer_list<CDString> args) {
    return FillTxt(GetTxt(key), args);
}

const unsigned char* EmbeddedCatalogue(size_t& size) {
    size = static_cast<size_t>(dl_messages_mo_size);
    return dl_messages_mo;
}

bool CreateLocale(const void* bytes, size_t size, const TStringNomFitx& folder, const char* name,
                  TStringErr& err) {
    std::string base = Carpeta(folder);
    if (base.empty() || !name || !*name || std::strchr(name, '/')) {
        err = "CreateLocale() . bad locale folder or name";
        return false;
    }
    std::string dir = base + "/" + name + "/LC_MESSAGES";
    VerificaCreaCarpeta(dir.c_str());
    std::string target = dir + "/" + kCatalogueDomain + ".mo";
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        DString e;
        e << "CreateLocale() . cannot write in " << dir.c_str() << " (" << std::strerror(errno) << ")";
        err = e;
        return false;
    }
    const char* p = static_cast<const char*>(bytes);
    size_t left = size;
    bool ok = true;
    while (ok && left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    int saved = errno;
    fchmod(fd, 0644);
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        DString e;
        e << "CreateLocale() . cannot write " << target.c_str() << " (" << std::strerror(saved) << ")";
        err = e;
    }
    return ok;
}

bool MoveLocaleToFolder(const TStringNomFitx& folder, TStringErr& err) {
    size_t size = 0;
    const unsigned char* bytes = EmbeddedCatalogue(size);
    bool all = true;
    for (const char* name : kCatalogueLocaleNames) {
        TStringErr_i one;
        if (!CreateLocale(bytes, size, folder, name, one)) {
            if (all) err = one;
            all = false;
        }
    }
    return all;
}

bool SelectCatalogue(const TStringNomFitx& folder) {
    wxTranslations* t = new wxTranslations;
    t->SetLoader(new TLocaleFolderLoader(Carpeta(folder)));
    t->SetLanguage(wxString("en_GB"));
    bool ok;
    {
        wxLogNull quiet;
        ok = t->AddCatalog(kCatalogueDomain, wxLANGUAGE_ENGLISH_US) && t->IsLoaded(kCatalogueDomain);
    }
    std::unique_lock<std::shared_mutex> hold(g_lock);
    if (!ok) {
        delete t;
        t = nullptr;
    }
    wxTranslations::Set(t); // deletes the one selected before
    g_selected = ok;
    return ok;
}

void ReleaseCatalogue() {
    std::unique_lock<std::shared_mutex> hold(g_lock);
    wxTranslations::Set(nullptr);
    g_selected = false;
}

bool CatalogueSelected() {
    std::shared_lock<std::shared_mutex> hold(g_lock);
    return g_selected;
}
