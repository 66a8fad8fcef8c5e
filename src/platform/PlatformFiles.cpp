#include "platform/PlatformFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

TPlatformFiles& PlatformFiles() {
    static TPlatformFiles files;
    return files;
}

bool Linux_ReadSmallFile(const char* path, DString& out, int max_bytes) {
    out = "";
    if (!path || !*path) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string data;
    char buf[8192];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (data.size() + size_t(n) > size_t(max_bytes)) {
            ok = false;
            break;
        }
        data.append(buf, size_t(n));
    }
    close(fd);
    if (ok) out = data.c_str();
    return ok;
}
