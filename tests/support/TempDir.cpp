#include "support/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dltest {

namespace {

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP || type == FTW_D || type == FTW_DNR)
        rmdir(path);
    else
        unlink(path);
    return 0; // keep going: remove as much as possible
}

} // namespace

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    // Folders may have been left without write or search permission by a test.
    nftw(
        path.c_str(),
        [](const char* p, const struct stat*, int type, struct FTW*) {
            if (type == FTW_D || type == FTW_DNR) chmod(p, 0700);
            return 0;
        },
        32, FTW_PHYS);
    nftw(path.c_str(), RemoveEntry, 32, FTW_PHYS | FTW_DEPTH | FTW_MOUNT);
    return lstat(path.c_str(), &st) != 0;
}

bool MakeDirs(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    std::string part;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        part = path.substr(0, pos);
        if (part.empty()) continue;
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TempDir::TempDir(const std::string& prefix) {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("TempDir: mkdtemp failed: " + std::string(strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

std::string TempDir::Path(const std::string& rel) const {
    if (rel.empty()) return path_;
    return rel[0] == '/' ? path_ + rel : path_ + "/" + rel;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return false;
        }
        done += size_t(n);
    }
    return close(fd) == 0;
}

std::string ReadWholeFile(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    close(fd);
    return out;
}

bool TempDir::Write(const std::string& rel, const std::string& content) const {
    std::string full = Path(rel);
    size_t slash = full.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirs(full.substr(0, slash))) return false;
    return WriteWholeFile(full, content);
}

std::string TempDir::Read(const std::string& rel) const {
    return ReadWholeFile(Path(rel));
}

bool TempDir::Mkdir(const std::string& rel) const {
    return MakeDirs(Path(rel));
}

bool TempDir::Exists(const std::string& rel) const {
    struct stat st;
    return lstat(Path(rel).c_str(), &st) == 0;
}

} // namespace dltest
