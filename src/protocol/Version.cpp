#include "protocol/Version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

const char* const kEarlierBundleName = "Downloader.app";
const char* const kReplacementPrefix = "___";
const char* const kAsideSuffix = ".___old";

DString Format_Version(const CDString& version) {
    int v = version.atoi();
    DString out;
    out.Dsprintf("%d.%d.%d", v / 100, (v / 10) % 10, v % 10);
    return out;
}

bool IsNewVersion(const CDString& new_version_text) {
    return !new_version_text.IsEmpty();
}

TStringNomFitx PathEarlierApplication(const CDString& main_app_folder) {
    DString p;
    p << main_app_folder << "/"
      << "Downloader"
      << ".app"
      << "/Contents/MacOS/Downloader";
    return TStringNomFitx(p);
}

TStringNomFitx PathThisApplication(const CDString& main_app_folder) {
    DString p;
    p << main_app_folder << "/"
      << "Downloader2"
      << ".app"
      << "/Contents/MacOS/Downloader"
      << "2";
    return TStringNomFitx(p);
}

namespace {

enum class EKind { kMissing, kFolder, kLink, kOther };

EKind KindOf(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return EKind::kMissing;
    if (S_ISLNK(st.st_mode)) return EKind::kLink;
    if (S_ISDIR(st.st_mode)) return EKind::kFolder;
    return EKind::kOther;
}

// rename() that never replaces an existing target.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: check, then rename.
    if (KindOf(to) != EKind::kMissing) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

void Note(DString* report, const std::string& line) {
    if (!report) return;
    if (!report->IsEmpty()) *report << "\n";
    *report << line.c_str();
}

std::string ErrnoText() {
    return std::string(" (") + std::strerror(errno) + ")";
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    int r = (type == FTW_DP) ? rmdir(path) : unlink(path);
    return (r == 0 || errno == ENOENT) ? 0 : -1;
}

} // namespace

bool RemoveTreeNoFollow(const char* path) {
    if (!path || path[0] != '/') return false;
    EKind kind = KindOf(path);
    if (kind == EKind::kMissing) return true;
    if (kind != EKind::kFolder) return unlink(path) == 0 || errno == ENOENT;
    nftw(path, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    return KindOf(path) == EKind::kMissing;
}

EReplacement ReplaceEarlierApplication(const TStringNomFitx& earlier_exe, DString* report) {
    std::string exe = earlier_exe.c_str();
    // "<P>/<N>/Contents/MacOS/<name>": the bundle is two folders above the executable's folder.
    const std::string tail = "/Contents/MacOS/";
    size_t slash = exe.rfind('/');
    if (exe.empty() || exe[0] != '/' || slash == std::string::npos || slash + 1 >= exe.size() ||
        exe.find("/../") != std::string::npos || exe.find("/./") != std::string::npos) {
        Note(report, "ReplaceEarlierApplication() . refused . not an absolute path=" + exe);
        return EReplacement::kRefused;
    }
    std::string folder = exe.substr(0, slash + 1);
    if (folder.size() < tail.size() || folder.compare(folder.size() - tail.size(), tail.size(), tail) != 0) {
        Note(report, "ReplaceEarlierApplication() . refused . not inside a bundle=" + exe);
        return EReplacement::kRefused;
    }
    std::string bundle = folder.substr(0, folder.size() - tail.size());
    size_t cut = bundle.rfind('/');
    std::string parent = bundle.substr(0, cut + 1); // with its final '/'
    std::string name = bundle.substr(cut + 1);
    if (name != kEarlierBundleName || parent.empty()) {
        Note(report, "ReplaceEarlierApplication() . refused . bundle name=" + name);
        return EReplacement::kRefused;
    }
    if (KindOf(parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent) != EKind::kFolder) {
        Note(report, "ReplaceEarlierApplication() . refused . folder=" + parent);
        return EReplacement::kRefused;
    }

    const std::string b = parent + name;
    const std::string r = parent + kReplacementPrefix + name;
    const std::string a = b + kAsideSuffix;

    // An earlier run stopped half-way: finish it or undo it.
    if (KindOf(a) != EKind::kMissing) {
        if (KindOf(b) != EKind::kMissing) {
            bool gone = RemoveTreeNoFollow(a.c_str());
            Note(report, "ReplaceEarlierApplication() . removed the old bundle left aside . ok=" +
                             std::to_string(gone) + " . path=" + a);
        } else if (KindOf(r) == EKind::kMissing) {
            bool back = RenameNoReplace(a, b);
            Note(report, "ReplaceEarlierApplication() . restored the old bundle left aside . ok=" +
                             std::to_string(back) + " . path=" + b);
        }
    }

    EKind rk = KindOf(r);
    if (rk == EKind::kMissing) return EReplacement::kNothing;
    if (rk != EKind::kFolder) {
        Note(report, "ReplaceEarlierApplication() . refused . the replacement is not a folder=" + r);
        return EReplacement::kRefused;
    }

    bool aside = false;
    if (KindOf(b) != EKind::kMissing) {
        if (KindOf(a) != EKind::kMissing || !RenameNoReplace(b, a)) {
            Note(report, "ReplaceEarlierApplication() . cannot move the old bundle aside" + ErrnoText() +
                             " . path=" + b);
            return EReplacement::kFailed;
        }
        aside = true;
    }
    if (!RenameNoReplace(r, b)) {
        std::string why = ErrnoText();
        bool back = !aside || RenameNoReplace(a, b);
        Note(report, "ReplaceEarlierApplication() . cannot move the replacement in" + why +
                         " . rolled back=" + std::to_string(back) + " . path=" + r);
        return EReplacement::kRolledBack;
    }
    bool removed = KindOf(a) == EKind::kMissing || RemoveTreeNoFollow(a.c_str());
    Note(report, "ReplaceEarlierApplication() . replaced . path=" + b +
                     " . old bundle removed=" + std::to_string(removed));
    return EReplacement::kReplaced;
}
