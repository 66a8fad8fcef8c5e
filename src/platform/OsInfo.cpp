#include "platform/OsInfo.h"

#include "platform/PlatformFiles.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <nettle/hmac.h>
#include <random>
#include <string>
#include <sys/utsname.h>

namespace {

using std::string;

// The value of KEY in an os-release text, with shell quoting removed.
string OsReleaseValue(const string& text, const string& key) {
    string value;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == string::npos) end = text.size();
        string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == string::npos || line[first] == '#') continue;
        line = line.substr(first);
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        string raw = line.substr(key.size() + 1);
        value.clear();
        char quote = 0;
        for (size_t i = 0; i < raw.size(); ++i) {
            char c = raw[i];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
                value += raw[++i];
            } else {
                value += c;
            }
        }
    }
    return value;
}

void OsVersion(int& major, int& minor, int& patch) {
    major = minor = patch = 0;
    DString text;
    if (Linux_ReadSmallFile(PlatformFiles().os_release.c_str(), text, 65536) ||
        Linux_ReadSmallFile(PlatformFiles().os_release_fallback.c_str(), text, 65536))
        Linux_ParseOsRelease(text.c_str(), major, minor, patch);
}

bool MachineId(string& id) {
    for (const DString* path : {&PlatformFiles().machine_id, &PlatformFiles().machine_id_fallback}) {
        DString text;
        if (!Linux_ReadSmallFile(path->c_str(), text, 4096)) continue;
        string s = text.c_str();
        while (!s.empty() && isspace(static_cast<unsigned char>(s.back())))
            s.pop_back();
        bool hex = s.size() == 32;
        for (char c : s)
            hex = hex && isxdigit(static_cast<unsigned char>(c));
        if (hex && s != string(32, '0')) {
            id = s;
            return true;
        }
    }
    return false;
}

} // namespace

void Linux_ParseOsRelease(const char* text, int& major, int& minor, int& patch) {
    major = minor = patch = 0;
    string version = OsReleaseValue(text ? text : "", "VERSION_ID");
    int* parts[] = {&major, &minor, &patch};
    size_t pos = 0;
    for (int* part : parts) {
        if (pos >= version.size()) break;
        size_t end = version.find('.', pos);
        string piece = version.substr(pos, end == string::npos ? string::npos : end - pos);
        *part = atoi(piece.c_str());
        if (*part < 0) *part = 0;
        if (end == string::npos) break;
        pos = end + 1;
    }
}

bool GetOSVersion(DString& out) {
    int major, minor, patch;
    OsVersion(major, minor, patch);
    out = (std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch)).c_str();
    return true;
}

bool GetOSType(DString& out) {
    int major, minor, patch;
    OsVersion(major, minor, patch);
    out = ("Linux " + std::to_string(major) + "." + std::to_string(minor)).c_str();
    return true;
}

bool GetOSEdition(DString& out) {
    int major, minor, patch;
    OsVersion(major, minor, patch);
    out = std::to_string(patch).c_str();
    return true;
}

bool GetOSBldVersion(DString& out) {
    out = "";
    struct utsname u;
    if (uname(&u) == 0) out = u.release;
    return true;
}

bool GetCarrier(DString& out) {
    out = "";
    return false;
}

bool GetPlatformName(DString& out) {
    out = "linux";
    return true;
}

bool GetComputerId(DString& out) {
    static const char kSalt[] = "Downloader2 computer identifier v1";
    string id;
    if (!MachineId(id)) {
        static std::once_flag once;
        static string per_run;
        std::call_once(once, [] {
            std::random_device rd;
            for (int i = 0; i < 4; ++i) {
                char buf[9];
                snprintf(buf, sizeof buf, "%08x", unsigned(rd()));
                per_run += buf;
            }
        });
        id = per_run;
    }
    struct hmac_sha256_ctx ctx;
    hmac_sha256_set_key(&ctx, id.size(), reinterpret_cast<const uint8_t*>(id.data()));
    hmac_sha256_update(&ctx, sizeof kSalt - 1, reinterpret_cast<const uint8_t*>(kSalt));
    uint8_t digest[SHA256_DIGEST_SIZE];
    hmac_sha256_digest(&ctx, sizeof digest, digest);
    out = HexDigits(digest, sizeof digest, false).c_str();
    return true;
}
