#include "app/SingleInstance.h"

#include "platform/StandardFolders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const int kReadTimeoutMs = 2000; // a peer that stops sending is dropped after this

bool PrivateFolderOfOurs(const std::string& folder) {
    struct stat st;
    return !folder.empty() && folder[0] == '/' && lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Waits until fd is readable; false on time-out or error.
bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

// Reads one link from a connected peer (up to its end of sending) and acknowledges it.
bool ReadLink(int fd, std::string& link) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) return false;
    char buf[4096];
    for (;;) {
        if (!WaitReadable(fd, kReadTimeoutMs)) return false;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        size_t room = TInstanciaUnica::kMaxLink - link.size();
        link.append(buf, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
    }
    WriteAll(fd, "1", 1);
    return true;
}

} // namespace

// The owner's accept loop.
class TInstanciaUnica::TEscucha : public TThreadITV {
public:
    TEscucha(int listen_fd, int stop_fd, std::function<void(const std::string&)> on_link)
        : TThreadITV("TInstanciaUnica"), listen_fd_(listen_fd), stop_fd_(stop_fd),
          on_link_(std::move(on_link)) {}
    ~TEscucha() override { Join(); }

protected:
    void Run() override {
        for (;;) {
            pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
            int r = poll(p, 2, -1);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 || (p[1].revents & (POLLIN | POLLHUP | POLLERR))) return;
            if (!(p[0].revents & POLLIN)) continue;
            int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string link;
            bool ok = ReadLink(fd, link);
            close(fd);
            if (ok && on_link_) on_link_(link);
        }
    }

private:
    int listen_fd_;
    int stop_fd_;
    std::function<void(const std::string&)> on_link_;
};

std::string TInstanciaUnica::DefaultFolder() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && PrivateFolderOfOurs(runtime)) {
        std::string f = runtime;
        while (f.size() > 1 && f.back() == '/')
            f.pop_back();
        return f;
    }
    std::string f = std::string(Linux_CacheHome().c_str()) + "/Downloader2/run";
    Linux_PrivateFolder(f.c_str());
    return f;
}

TInstanciaUnica::TInstanciaUnica(const std::string& folder)
    : folder_(folder.empty() ? DefaultFolder() : folder) {
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
}

TInstanciaUnica::~TInstanciaUnica() {
    Stop();
    if (listen_fd_ >= 0) {
        close(listen_fd_);
        if (owner_) unlink(SocketPath().c_str());
    }
    if (lock_fd_ >= 0) close(lock_fd_);
}

TInstanciaUnica::EResultado TInstanciaUnica::Claim(const std::string& link, int connect_ms) {
    error_.clear();
    if (owner_) return kOwner;
    if (lock_fd_ < 0) {
        lock_fd_ = open(LockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock_fd_ < 0) {
            // Without a lock there is no way to tell another run apart: run alone.
            error_ = "cannot open " + LockPath() + ": " + std::strerror(errno);
            owner_ = true;
            return kOwner;
        }
    }
    if (flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) {
        owner_ = true;
        return kOwner;
    }
    return HandOver(link, connect_ms) ? kHandedOver : kFailed;
}

bool TInstanciaUnica::HandOver(const std::string& link, int connect_ms) {
    sockaddr_un addr;
    if (!FillAddress(SocketPath(), addr)) {
        error_ = "socket path too long: " + SocketPath();
        return false;
    }
    // The owner may still be starting: its socket appears once it listens.
    const int kStepMs = 100;
    for (int waited = 0;; waited += kStepMs) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error_ = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            std::string sent = link.substr(0, kMaxLink);
            bool ok = WriteAll(fd, sent.data(), sent.size()) && shutdown(fd, SHUT_WR) == 0;
            char ack = 0;
            ok = ok && WaitReadable(fd, 5000) && recv(fd, &ack, 1, 0) == 1 && ack == '1';
            close(fd);
            if (!ok) error_ = "the running Downloader did not take the link";
            return ok;
        }
        int e = errno;
        close(fd);
        if (waited >= connect_ms) {
            error_ = "cannot reach the running Downloader at " + SocketPath() + ": " + std::strerror(e);
            return false;
        }
        Sleep(kStepMs);
    }
}

bool TInstanciaUnica::Listen(std::function<void(const std::string& link)> on_link) {
    if (!owner_ || escucha_) return false;
    sockaddr_un addr;
    if (!FillAddress(SocketPath(), addr)) {
        error_ = "socket path too long: " + SocketPath();
        return false;
    }
    struct stat st;
    // Only a socket left by an earlier run of ours is removed (we hold the lock, so it is stale).
    if (lstat(SocketPath().c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != geteuid()) {
            error_ = "not our socket: " + SocketPath();
            return false;
        }
        unlink(SocketPath().c_str());
    }
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    mode_t old = umask(0077);
    int b = bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (b != 0 || listen(listen_fd_, 8) != 0) {
        error_ = std::string("bind/listen: ") + std::strerror(errno);
        close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    if (pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    escucha_.reset(new TEscucha(listen_fd_, stop_pipe_[0], std::move(on_link)));
    if (!escucha_->Start()) {
        error_ = "cannot start the listener thread";
        escucha_.reset();
        return false;
    }
    return true;
}

void TInstanciaUnica::Stop() {
    if (stop_pipe_[1] >= 0) {
        char c = 0;
        ssize_t w = write(stop_pipe_[1], &c, 1);
        (void)w;
    }
    escucha_.reset();
    for (int& fd : stop_pipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}
