#include "platform/StandardFolders.h"

#include "foundation/NomFitx.h"
#include "platform/PlatformFiles.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using std::string;

string Env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

string PasswdField(bool home) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? size_t(size) : 16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return "";
    const char* v = home ? found->pw_dir : found->pw_name;
    return v ? v : "";
}

string WithoutFinalSlash(string s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

// An XDG base folder: the variable when absolute, else $HOME + fallback.
string XdgBase(const char* var, const char* fallback) {
    string v = Env(var);
    if (!v.empty() && v[0] == '/') return WithoutFinalSlash(v);
    return WithoutFinalSlash(string(Linux_HomeFolder().c_str()) + "/" + fallback);
}

// One value of user-dirs.dirs: "$HOME/Documents" or "/abs/path", shell double-quoted.
bool UserDirsValue(const string& raw, const string& home, string& out) {
    string v = raw;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    string unescaped;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) ++i;
        unescaped += v[i];
    }
    // "$HOME/" alone (a disabled folder) gives the home folder itself.
    if (unescaped.compare(0, 5, "$HOME") == 0 && (unescaped.size() == 5 || unescaped[5] == '/'))
        unescaped = home + unescaped.substr(5);
    else if (unescaped.empty() || unescaped[0] != '/')
        return false;
    out = WithoutFinalSlash(unescaped);
    return true;
}

bool IsDirectory(const string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirs(const string& path, unsigned mode) {
    if (path.empty()) return false;
    size_t pos = 0;
    while (pos != string::npos) {
        pos = path.find('/', pos + 1);
        string part = path.substr(0, pos);
        if (part.empty() || part == "/") continue;
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return IsDirectory(path);
}

} // namespace

DString Linux_HomeFolder() {
    string home = Env("HOME");
    if (home.empty() || home[0] != '/') home = PasswdField(true);
    if (home.empty()) home = "/";
    return WithoutFinalSlash(home).c_str();
}

DString Linux_UserName() {
    string name = PasswdField(false);
    if (name.empty()) name = Env("USER");
    if (name.empty() || name.find('/') != string::npos) name = std::to_string(geteuid());
    return name.c_str();
}

DString Linux_DataHome() {
    return XdgBase("XDG_DATA_HOME", ".local/share").c_str();
}
DString Linux_CacheHome() {
    return XdgBase("XDG_CACHE_HOME", ".cache").c_str();
}
DString Linux_ConfigHome() {
    return XdgBase("XDG_CONFIG_HOME", ".config").c_str();
}

DString Linux_UserDir(const char* key) {
    string var = string("XDG_") + key + "_DIR";
    string home = Linux_HomeFolder().c_str();
    string env = Env(var.c_str());
    if (!env.empty() && env[0] == '/') return WithoutFinalSlash(env).c_str();
    DString text;
    string file = string(Linux_ConfigHome().c_str()) + "/user-dirs.dirs";
    if (Linux_ReadSmallFile(file.c_str(), text, 65536)) {
        string all = text.c_str();
        string found;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == string::npos) end = all.size();
            string line = all.substr(start, end - start);
            start = end + 1;
            size_t first = line.find_first_not_of(" \t");
            if (first == string::npos || line[first] == '#') continue;
            line = line.substr(first);
            if (line.compare(0, var.size() + 1, var + "=") != 0) continue;
            string value;
            if (UserDirsValue(line.substr(var.size() + 1), home, value))
                found = value; // a later line wins, as when the shell reads the file
        }
        if (!found.empty()) return found.c_str();
    }
    return home.c_str();
}

DString Mac_GetPathExe() {
    char buf[4096];
    ssize_t n = readlink(PlatformFiles().self_exe.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return DString();
    buf[n] = 0;
    return buf;
}

DString Linux_InstalledDataFolder() {
    // <prefix>/bin/downloader2 -> <prefix>/share/downloader2
    TStringNomFitx exe(Mac_GetPathExe());
    TStringNomFitx prefix = exe.npath().npath();
    if (prefix.IsEmpty()) prefix = "/usr";
    return (string(prefix.c_str()) + "/share/downloader2").c_str();
}

DString Mac_GetPathDocs() {
    return Linux_UserDir("DOCUMENTS");
}
DString Mac_GetPathAppData() {
    return Linux_DataHome();
}
DString Mac_GetPathDesktop() {
    return Linux_UserDir("DESKTOP");
}

void VerificaCreaCarpeta(const char* folder, unsigned mode) {
    if (folder && *folder && !IsDirectory(folder)) MakeDirs(folder, mode);
}

bool Linux_PrivateFolder(const char* folder) {
    if (!folder || !*folder) return false;
    string path = WithoutFinalSlash(folder);
    if (!IsDirectory(path) && !MakeDirs(path, 0700)) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) != 0)
        chmod(path.c_str(), st.st_mode & 0700);
    return true;
}

DString AppleGetTempFolder(const char* app_name) {
    string folder = string(Linux_CacheHome().c_str()) + "/" + (app_name ? app_name : "Downloader2") + "/tmp";
    Linux_PrivateFolder(folder.c_str());
    return (folder + "/").c_str();
}

void Apple_Init_Paths(const char* app_name) {
    string name = app_name ? app_name : "Downloader2";
    string package = Mac_GetPathExe().c_str();
    string appdata_root = Mac_GetPathAppData().c_str();
    string docs = string(Mac_GetPathDocs().c_str()) + "/" + name;
    string appdata = appdata_root + "/" + name;
    string cache = string(Linux_CacheHome().c_str()) + "/" + name;
    string temp = AppleGetTempFolder(name.c_str()).c_str();

    VerificaCreaCarpeta(docs.c_str(), 0755);
    VerificaCreaCarpeta(appdata.c_str());
    VerificaCreaCarpeta(cache.c_str());
    // The shared folder holds the log, the configuration and the settings store.
    Linux_PrivateFolder((appdata_root + "/Downloader").c_str());
    Linux_PrivateFolder(appdata.c_str());
    Linux_PrivateFolder(cache.c_str());

    string volumes = cache + "/Volumes/";
    Linux_PrivateFolder(volumes.c_str());
    string user = Linux_UserName().c_str();

    TStringNomFitx::Set_this_Path_Exe(
        (string(Linux_InstalledDataFolder().c_str()) + "/" + name + ".exe").c_str());
    TStringNomFitx::Set_this_Path_de_AppData(appdata.c_str(), false);
    TStringNomFitx::Set_this_Path_MyDocuments(docs.c_str());
    TStringNomFitx::Set_this_Path_Temp(temp.c_str());
    TStringNomFitx::Set_this_Path_Main_App(TStringNomFitx(package.c_str()).npath().c_str());
    TStringNomFitx::Set_this_Volumes_Root(volumes.c_str());
    TStringNomFitx::Set_this_Media_Roots(("/run/media/" + user + "/;/media/" + user + "/").c_str());
}
