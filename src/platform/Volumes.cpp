#include "platform/Volumes.h"

#include "foundation/NomFitx.h"
#include "platform/PlatformFiles.h"
#include "platform/StandardFolders.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using std::string;

std::atomic<bool> volumes_override{false};

std::mutex& RefreshLock() {
    static std::mutex lock;
    return lock;
}

string WithFinalSlash(string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

// The name under a media root when target is exactly <root><name>, else "".
string NameUnderRoot(const string& target, const std::vector<string>& roots) {
    for (const string& r : roots) {
        string root = WithFinalSlash(r);
        if (target.size() <= root.size() || target.compare(0, root.size(), root) != 0) continue;
        string name = target.substr(root.size());
        if (name.find('/') == string::npos && name != "." && name != "..") return name;
    }
    return string();
}

bool ReadLink(const string& path, string& target) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) return false;
    target.assign(buf, size_t(n));
    return true;
}

// Points folder/name at target, replacing our old link atomically.
bool PlaceLink(const string& folder, const string& name, const string& target) {
    string temp = folder + "/.dl-link-" + std::to_string(getpid()) + "-" + name;
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (rename(temp.c_str(), (folder + "/" + name).c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string Linux_DecodeMountEscapes(const std::string& s) {
    string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
            s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<TMountEntry> Linux_ParseMountInfo(const char* text) {
    // id parent major:minor root mount_point options [optional fields...] - fstype source super_options
    std::vector<TMountEntry> out;
    std::istringstream in(text ? text : "");
    string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<string> f;
        string word;
        while (fields >> word)
            f.push_back(word);
        size_t dash = 0;
        for (size_t i = 6; i < f.size(); ++i)
            if (f[i] == "-") {
                dash = i;
                break;
            }
        if (f.size() < 6 || dash == 0 || dash + 2 >= f.size()) continue;
        TMountEntry e;
        char* end = nullptr;
        e.id = int(strtol(f[0].c_str(), &end, 10));
        if (!end || *end) continue;
        e.parent = int(strtol(f[1].c_str(), &end, 10));
        if (!end || *end) continue;
        e.root = Linux_DecodeMountEscapes(f[3]);
        e.mount_point = Linux_DecodeMountEscapes(f[4]);
        e.options = f[5];
        e.fstype = Linux_DecodeMountEscapes(f[dash + 1]);
        e.source = Linux_DecodeMountEscapes(f[dash + 2]);
        if (e.mount_point.empty() || e.mount_point[0] != '/') continue;
        out.push_back(e);
    }
    return out;
}

std::vector<TRemovableVolume> Linux_RemovableVolumes(const std::vector<TMountEntry>& mounts,
                                                     const std::vector<std::string>& media_roots) {
    std::vector<TRemovableVolume> out;
    for (const TMountEntry& m : mounts) {
        string name = NameUnderRoot(m.mount_point, media_roots);
        if (name.empty()) continue;
        bool seen = false;
        for (const TRemovableVolume& v : out)
            seen = seen || v.name == name;
        if (!seen) out.push_back({name, m.mount_point});
    }
    return out;
}

bool Linux_RefreshVolumeLinks(const char* links_folder, const std::vector<TMountEntry>& mounts,
                              const std::vector<std::string>& media_roots, DString* report) {
    string folder = links_folder ? links_folder : "";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty() || !Linux_PrivateFolder(folder.c_str())) return false;
    std::lock_guard<std::mutex> hold(RefreshLock());

    std::map<string, string> wanted; // name -> mount point
    for (const TRemovableVolume& v : Linux_RemovableVolumes(mounts, media_roots))
        wanted[v.name] = v.mount_point;

    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::map<string, string> ours;  // our links now present: name -> target
    std::map<string, bool> foreign; // other entries, left alone
    while (struct dirent* d = readdir(dir)) {
        string name = d->d_name;
        if (name == "." || name == "..") continue;
        string path = folder + "/" + name;
        struct stat st;
        string target;
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ReadLink(path, target) &&
            !NameUnderRoot(target, media_roots).empty())
            ours[name] = target;
        else if (name.compare(0, 9, ".dl-link-") != 0)
            foreign[name] = true;
    }
    closedir(dir);

    string notes, removed;
    for (const auto& link : ours) {
        auto w = wanted.find(link.first);
        if (w == wanted.end()) {
            if (unlink((folder + "/" + link.first).c_str()) == 0) removed += " . removed=" + link.first;
        }
    }
    for (const auto& w : wanted) {
        if (foreign.count(w.first)) {
            notes += " . skipped=" + w.first;
            continue;
        }
        auto o = ours.find(w.first);
        if (o != ours.end() && o->second == w.second) {
            notes += " . " + w.first + "=" + w.second;
            continue;
        }
        if (PlaceLink(folder, w.first, w.second))
            notes += " . " + w.first + "=" + w.second;
        else
            notes += " . failed=" + w.first;
    }
    if (report) *report = (notes + removed).c_str();
    return true;
}

bool Linux_RefreshVolumesRoot(DString* report) {
    if (report) *report = "";
    if (volumes_override) return true;
    std::vector<string> roots;
    std::istringstream list(RegistroCarpetas().media_roots.c_str());
    string root;
    while (std::getline(list, root, ';'))
        if (!root.empty()) roots.push_back(root);
    if (roots.empty()) return true;
    DString text;
    if (!Linux_ReadSmallFile(PlatformFiles().mountinfo.c_str(), text, 16 << 20)) return false;
    return Linux_RefreshVolumeLinks(TStringNomFitx::Ret_Volumes_Root().c_str(),
                                    Linux_ParseMountInfo(text.c_str()), roots, report);
}

void Linux_SetVolumesRootOverride(const char* folder) {
    if (!folder || !*folder) return;
    TStringNomFitx::Set_this_Volumes_Root(folder);
    volumes_override = true;
}

bool Linux_VolumesRootIsOverride() {
    return volumes_override;
}

void Linux_ClearVolumesRootOverride() {
    volumes_override = false;
}

bool Linux_FreeSpace(const char* path, int64_t& free_bytes, int64_t* total_bytes) {
    free_bytes = 0;
    if (total_bytes) *total_bytes = 0;
    struct statvfs sv;
    if (!path || !*path || statvfs(path, &sv) != 0) return false;
    free_bytes = int64_t(sv.f_bavail) * int64_t(sv.f_frsize);
    if (total_bytes) *total_bytes = int64_t(sv.f_blocks) * int64_t(sv.f_frsize);
    return true;
}
