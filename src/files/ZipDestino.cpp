#include "files/ZipDestino.h"

#include <cerrno>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kModoCarpeta = 0700;

} // namespace

TZipSalida::~TZipSalida() {
    if (fd_ >= 0) close(fd_);
}

bool TZipSalida::Escribe(const char* data, size_t n) {
    if (fd_ < 0) {
        errno_ = EBADF;
        return false;
    }
    while (n > 0) {
        ssize_t w = write(fd_, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            errno_ = errno;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
        escritos_ += w;
    }
    return true;
}

bool TZipSalida::Cierra() {
    if (fd_ < 0) return false;
    int r = close(fd_);
    fd_ = -1;
    if (r != 0 && errno != EINTR) {
        errno_ = errno;
        return false;
    }
    return true;
}

TZipDestino::~TZipDestino() {
    Olvida_Cache();
    if (raiz_ >= 0) close(raiz_);
}

void TZipDestino::Olvida_Cache() {
    if (cache_fd_ >= 0) close(cache_fd_);
    cache_fd_ = -1;
    cache_rel_.clear();
}

bool TZipDestino::Abre(const std::string& folder) {
    Olvida_Cache();
    if (raiz_ >= 0) close(raiz_);
    raiz_ = -1;
    raiz_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (raiz_ < 0) errno_ = errno;
    return raiz_ >= 0;
}

int TZipDestino::Carpeta(const std::string& rel, bool crear) {
    if (raiz_ < 0) {
        errno_ = EBADF;
        return -1;
    }
    if (rel.empty()) return raiz_;
    if (cache_fd_ >= 0 && rel == cache_rel_) return cache_fd_;
    Olvida_Cache();
    int fd = raiz_;
    size_t p = 0;
    for (;;) {
        size_t q = rel.find('/', p);
        std::string comp = rel.substr(p, q == std::string::npos ? std::string::npos : q - p);
        int sig = openat(fd, comp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sig < 0 && errno == ENOENT && crear) {
            if (mkdirat(fd, comp.c_str(), kModoCarpeta) != 0 && errno != EEXIST) {
                errno_ = errno;
                if (fd != raiz_) close(fd);
                return -1;
            }
            sig = openat(fd, comp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (sig < 0) {
            errno_ = errno;
            if (fd != raiz_) close(fd);
            return -1;
        }
        if (fd != raiz_) close(fd);
        fd = sig;
        if (q == std::string::npos) break;
        p = q + 1;
    }
    cache_fd_ = fd;
    cache_rel_ = rel;
    return fd;
}

bool TZipDestino::Crea_Carpetas(const std::string& rel) {
    return Carpeta(rel, true) >= 0;
}

bool TZipDestino::Crea_Archivo(const std::string& rel, TZipSalida& out) {
    if (out.fd_ >= 0) close(out.fd_);
    out.fd_ = -1;
    out.escritos_ = 0;
    size_t slash = rel.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    std::string hoja = slash == std::string::npos ? rel : rel.substr(slash + 1);
    int pfd = Carpeta(dir, true);
    if (pfd < 0) return false;
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(pfd, hoja.c_str(), flags, 0666);
    if (fd < 0 && errno == ELOOP) {
        // A symbolic link stands where the file goes: replace the link, never write through it.
        if (unlinkat(pfd, hoja.c_str(), 0) == 0) fd = openat(pfd, hoja.c_str(), flags | O_EXCL, 0666);
    }
    if (fd < 0) {
        errno_ = errno;
        out.errno_ = errno;
        return false;
    }
    out.fd_ = fd;
    return true;
}

bool TZipDestino::Borra_Archivo(const std::string& rel) {
    size_t slash = rel.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    std::string hoja = slash == std::string::npos ? rel : rel.substr(slash + 1);
    int pfd = Carpeta(dir, false);
    if (pfd < 0) return false;
    if (unlinkat(pfd, hoja.c_str(), 0) == 0 || errno == ENOENT) return true;
    errno_ = errno;
    return false;
}
