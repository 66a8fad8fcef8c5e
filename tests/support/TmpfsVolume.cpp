#include "support/TmpfsVolume.h"

#include "support/TempDir.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dltest {

namespace {

struct NamespaceState {
    bool tried = false;
    bool ok = false;
    bool not_permitted = false;
    std::string why;
};

NamespaceState& State() {
    static NamespaceState state;
    return state;
}

bool IsDenied(int err) {
    return err == EPERM || err == EACCES;
}

} // namespace

bool EnterPrivateMountNamespace(std::string* why) {
    NamespaceState& st = State();
    if (!st.tried) {
        st.tried = true;
        if (unshare(CLONE_NEWNS) != 0) {
            st.not_permitted = IsDenied(errno);
            st.why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
        } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            st.not_permitted = IsDenied(errno);
            st.why = std::string("mount --make-rprivate /: ") + strerror(errno);
        } else {
            st.ok = true;
        }
    }
    if (!st.ok && why) *why = st.why;
    return st.ok;
}

TmpfsVolume::TmpfsVolume(const std::string& path, int size_mb) : path_(path) {
    while (path_.size() > 1 && path_.back() == '/')
        path_.pop_back();
    if (!EnterPrivateMountNamespace(&error_)) {
        not_permitted_ = State().not_permitted;
        return;
    }
    // Remember the first missing folder so that the destructor removes exactly what we made.
    struct stat st;
    if (stat(path_.c_str(), &st) != 0) {
        std::string probe;
        size_t pos = 0;
        while (pos != std::string::npos) {
            pos = path_.find('/', pos + 1);
            probe = path_.substr(0, pos);
            if (!probe.empty() && lstat(probe.c_str(), &st) != 0) {
                created_top_ = probe;
                break;
            }
        }
        if (!MakeDirs(path_)) {
            error_ = "cannot create " + path_ + ": " + strerror(errno);
            return;
        }
    }
    std::string opts = "size=" + std::to_string(size_mb) + "m,mode=0755";
    if (mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) != 0) {
        not_permitted_ = IsDenied(errno);
        error_ = "mount tmpfs at " + path_ + ": " + strerror(errno);
        return;
    }
    mounted_ = true;
}

TmpfsVolume::~TmpfsVolume() {
    if (mounted_ && umount(path_.c_str()) != 0) umount2(path_.c_str(), MNT_DETACH);
    if (!created_top_.empty()) RemoveTree(created_top_);
}

bool TmpfsVolume::Remount(bool read_only) {
    if (!mounted_) {
        error_ = "not mounted";
        return false;
    }
    unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
    if (mount(nullptr, path_.c_str(), nullptr, flags, nullptr) != 0) {
        error_ = std::string("remount ") + (read_only ? "ro" : "rw") + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool TmpfsVolume::RemountReadOnly() {
    return Remount(true);
}
bool TmpfsVolume::RemountReadWrite() {
    return Remount(false);
}

bool TmpfsVolume::Unmount() {
    if (!mounted_) return true;
    if (umount(path_.c_str()) != 0) {
        error_ = std::string("umount: ") + strerror(errno);
        return false;
    }
    mounted_ = false;
    return true;
}

bool FillVolume(const std::string& path, size_t leave) {
    int fd = open((path + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string block(65536, 'f');
    off_t written = 0;
    for (ssize_t w; (w = write(fd, block.data(), block.size())) > 0;)
        written += w;
    bool ok = written > off_t(leave) && ftruncate(fd, written - off_t(leave)) == 0;
    return close(fd) == 0 && ok;
}

} // namespace dltest
