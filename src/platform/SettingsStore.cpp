#include "platform/SettingsStore.h"

#include "foundation/NomFitx.h"
#include "platform/PlatformFiles.h"
#include "platform/StandardFolders.h"

#include <cerrno>
#include <cstring>
#include <expat.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::string;

const int kMaxStoreBytes = 4 << 20;

std::mutex& StoreLock() {
    static std::mutex lock;
    return lock;
}

// ---- reading ----

struct ParseState {
    std::vector<TPListEntry>* out;
    int depth = 0;        // element depth (plist = 1, top dict = 2, its children = 3)
    bool bad = false;     // not a plist with a top-level dict
    bool complex = false; // nested values present
    string text;          // character data of the current leaf
    string pending_key;   // the last <key> read, waiting for its value
    bool have_key = false;
    int complex_depth = 0; // >0 while inside a nested array or dict value
};

bool IsScalar(const char* name) {
    static const char* const kScalars[] = {"string", "integer", "real", "true", "false", "date"};
    for (const char* s : kScalars)
        if (strcmp(name, s) == 0) return true;
    return false;
}

void XMLCALL OnStart(void* data, const char* name, const char**) {
    ParseState& st = *static_cast<ParseState*>(data);
    ++st.depth;
    st.text.clear();
    if (st.complex_depth > 0) {
        ++st.complex_depth;
        return;
    }
    if (st.depth == 1) {
        if (strcmp(name, "plist") != 0) st.bad = true;
    } else if (st.depth == 2) {
        if (strcmp(name, "dict") != 0) st.bad = true;
    } else if (st.depth == 3) {
        if (strcmp(name, "key") == 0) return;
        if (!st.have_key) {
            st.bad = true;
            return;
        }
        if (!IsScalar(name)) {
            st.complex = true;
            st.complex_depth = 1;
            st.out->push_back({st.pending_key, name, ""});
            st.have_key = false;
        }
    } else {
        st.bad = true; // children of a scalar
    }
}

void XMLCALL OnEnd(void* data, const char* name) {
    ParseState& st = *static_cast<ParseState*>(data);
    if (st.complex_depth > 0) {
        --st.complex_depth;
        --st.depth;
        return;
    }
    if (st.depth == 3) {
        if (strcmp(name, "key") == 0) {
            if (st.have_key) st.bad = true; // two keys in a row
            st.pending_key = st.text;
            st.have_key = true;
        } else if (st.have_key) {
            string text = st.text;
            if (strcmp(name, "true") == 0)
                text = "1";
            else if (strcmp(name, "false") == 0)
                text = "0";
            st.out->push_back({st.pending_key, name, text});
            st.have_key = false;
        }
    }
    st.text.clear();
    --st.depth;
}

void XMLCALL OnText(void* data, const char* s, int len) {
    ParseState& st = *static_cast<ParseState*>(data);
    if (st.complex_depth == 0 && st.depth == 3) st.text.append(s, size_t(len));
}

// ---- writing ----

bool ValidUtf8(const string& s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra;
        unsigned cp;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

// XML 1.0 cannot carry control characters other than tab, LF and CR.
bool Storable(const string& s) {
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return ValidUtf8(s);
}

string Escape(const string& s) {
    string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool WriteAll(int fd, const string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

bool ReadStore(const char* file, std::vector<TPListEntry>& entries, bool* complex) {
    DString text;
    if (!Linux_ReadSmallFile(file, text, kMaxStoreBytes)) return false;
    return Linux_ParsePList(text.c_str(), entries, complex);
}

bool RegularFileExists(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool Linux_ParsePList(const string& xml, std::vector<TPListEntry>& out, bool* complex) {
    out.clear();
    if (complex) *complex = false;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser) return false;
    ParseState st;
    st.out = &out;
    XML_SetUserData(parser, &st);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    bool ok = XML_Parse(parser, xml.data(), int(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    // A document without the dictionary (an empty file, a bare <plist/>) is not a store.
    ok = ok && !st.bad && !xml.empty() && xml.find("<dict") != string::npos;
    if (!ok) out.clear();
    if (complex) *complex = st.complex;
    return ok;
}

string Linux_FormatPList(const std::vector<TPListEntry>& entries) {
    string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                 "<plist version=\"1.0\">\n<dict>\n";
    for (const TPListEntry& e : entries) {
        xml += "\t<key>" + Escape(e.name) + "</key>\n";
        if (e.type == "true" || e.type == "false")
            xml += "\t<" + e.type + "/>\n";
        else {
            string type = e.type.empty() ? "string" : e.type;
            xml += "\t<" + type + ">" + Escape(e.text) + "</" + type + ">\n";
        }
    }
    xml += "</dict>\n</plist>\n";
    return xml;
}

bool Linux_WriteFileAtomic(const char* path, const string& data, unsigned mode) {
    if (!path || !*path) return false;
    string target = path;
    size_t slash = target.rfind('/');
    string folder = slash == string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    string temp = target + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back(0);
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(name.data(), target.c_str()) == 0;
    if (!ok) {
        unlink(name.data());
        return false;
    }
    int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

bool Apple_GetApppList_Path(const char* app_name, DString& folder, DString& file) {
    string base = Mac_GetPathAppData().c_str();
    string name = app_name ? app_name : "";
    if (base.empty() || name.empty()) {
        folder = "";
        file = "";
        return false;
    }
    string f = base + "/" + name + "/";
    folder = f.c_str();
    file = (f + name + "-CustomInfo.plist").c_str();
    return true;
}

bool Apple_InitFTPpList(const char* app_name) {
    DString folder, file;
    if (!Apple_GetApppList_Path(app_name, folder, file)) return false;
    std::lock_guard<std::mutex> hold(StoreLock());
    Linux_PrivateFolder(folder.c_str());
    if (RegularFileExists(file.c_str())) return true;
    // The template beside the program's data, when it is a readable dictionary.
    string content;
    TStringNomFitx templ((string(app_name) + "-CustomInfo.plist").c_str());
    std::vector<TPListEntry> entries;
    DString text;
    if (templ.Set_Path_Exe() && Linux_ReadSmallFile(templ.c_str(), text, kMaxStoreBytes) &&
        Linux_ParsePList(text.c_str(), entries))
        content = text.c_str();
    else
        content = Linux_FormatPList({});
    return Linux_WriteFileAtomic(file.c_str(), content, 0600);
}

bool Apple_GetValuepList(const char* file, const char* name, DString& value) {
    value = "";
    std::vector<TPListEntry> entries;
    std::lock_guard<std::mutex> hold(StoreLock());
    if (!ReadStore(file, entries, nullptr)) return false;
    for (const TPListEntry& e : entries)
        if (e.name == (name ? name : "")) value = e.text.c_str(); // a later duplicate wins
    return true;
}

bool Apple_SetValuepList(const char* file, const char* name, const char* value) {
    string key = name ? name : "";
    string text = value ? value : "";
    if (key.empty() || !Storable(key) || !Storable(text)) return false;
    std::lock_guard<std::mutex> hold(StoreLock());
    if (!RegularFileExists(file) || access(file, W_OK) != 0) return false;
    std::vector<TPListEntry> entries;
    bool complex = false;
    if (!ReadStore(file, entries, &complex) || complex) return false;
    bool found = false;
    std::vector<TPListEntry> updated;
    for (const TPListEntry& e : entries) {
        if (e.name != key) {
            updated.push_back(e);
        } else if (!found) {
            updated.push_back({key, "string", text});
            found = true;
        }
    }
    if (!found) updated.push_back({key, "string", text});
    return Linux_WriteFileAtomic(file, Linux_FormatPList(updated), 0600);
}
