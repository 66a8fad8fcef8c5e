#include "platform/HttpFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

THttpFile::~THttpFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool THttpFile::Fail() {
    error_ = strerror(errno);
    return false;
}

bool THttpFile::Open(const std::string& path, bool truncate) {
    if (fd_ >= 0) Close();
    error_.clear();
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) return Fail();
    struct stat st;
    off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (end >= 0) errno = EISDIR;
        Fail();
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    size_ = end;
    return true;
}

bool THttpFile::Write(const char* data, size_t length) {
    if (fd_ < 0) {
        errno = EBADF;
        return Fail();
    }
    while (length > 0) {
        ssize_t n = ::write(fd_, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail();
        }
        data += n;
        length -= static_cast<size_t>(n);
        size_ += n;
    }
    return true;
}

bool THttpFile::Truncate() {
    if (fd_ < 0) {
        errno = EBADF;
        return Fail();
    }
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return Fail();
    size_ = 0;
    return true;
}

bool THttpFile::Close() {
    if (fd_ < 0) return false;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) return Fail();
    return true;
}

int64_t THttpFile::SizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}
