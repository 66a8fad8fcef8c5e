#include "files/TarWalk.h"

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <zlib.h>

namespace {

constexpr size_t kBloque = 512;
// Reads go to the source in large pieces: the gzip reader inflates a whole piece per call.
constexpr size_t kBuffer = 512 * 1024;
// Long names and pax records larger than this are taken as a corrupt archive.
constexpr int64_t kMaxMeta = 1 << 20;

class TLector {
public:
    TLector(TTarSource& source, TTarSink& sink) : source_(source), sink_(sink), buf_(new char[kBuffer]) {}

    // Makes at least n (<= kBloque) bytes available at the read position.
    TTarResult Asegura(size_t n) {
        while (len_ - pos_ < n) {
            TTarResult r = Llena();
            if (r != TTarResult::Ok) return r;
        }
        return TTarResult::Ok;
    }

    const unsigned char* Actual() const { return reinterpret_cast<const unsigned char*>(buf_.get() + pos_); }
    void Avanza(size_t n) { pos_ += n; }

    // Passes size bytes of entry data to take (null: skipped), then skips the padding.
    TTarResult Bombea(int64_t size, const std::function<bool(const char*, size_t)>& take) {
        int64_t resto = size;
        int64_t relleno = (kBloque - static_cast<size_t>(size % kBloque)) % kBloque;
        while (resto > 0 || relleno > 0) {
            if (pos_ == len_) {
                TTarResult r = Llena();
                if (r != TTarResult::Ok) return r;
            }
            size_t hay = len_ - pos_;
            if (resto > 0) {
                size_t n = resto < static_cast<int64_t>(hay) ? static_cast<size_t>(resto) : hay;
                if (take && !take(buf_.get() + pos_, n)) return TTarResult::Parado;
                pos_ += n;
                resto -= static_cast<int64_t>(n);
            } else {
                size_t n = relleno < static_cast<int64_t>(hay) ? static_cast<size_t>(relleno) : hay;
                pos_ += n;
                relleno -= static_cast<int64_t>(n);
            }
        }
        return TTarResult::Ok;
    }

    std::string razon;

private:
    TTarResult Llena() {
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
            len_ -= pos_;
            pos_ = 0;
        }
        long n = source_.Lee(buf_.get() + len_, kBuffer - len_);
        if (n < 0) {
            razon = "read error";
            return TTarResult::Lectura;
        }
        if (n == 0) {
            razon = "archive ends before its end block";
            return TTarResult::Lectura;
        }
        len_ += static_cast<size_t>(n);
        if (!sink_.Progreso(source_.Offset())) return TTarResult::Parado;
        return TTarResult::Ok;
    }

    TTarSource& source_;
    TTarSink& sink_;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0;
    size_t len_ = 0;
};

std::string Campo(const unsigned char* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool Checksum_Ok(const unsigned char* h) {
    int64_t stored;
    if (!Tar_Numero(h + 148, 8, stored)) return false;
    int64_t sin_signo = 0, con_signo = 0;
    for (size_t i = 0; i < kBloque; ++i) {
        bool en_campo = i >= 148 && i < 156;
        sin_signo += en_campo ? ' ' : h[i];
        con_signo += en_campo ? ' ' : static_cast<signed char>(h[i]);
    }
    return stored == sin_signo || stored == con_signo;
}

bool Decimal(const std::string& s, int64_t& v) {
    if (s.empty()) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        if (v > (std::numeric_limits<int64_t>::max() - 9) / 10) return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

// pax extended header records: "<length> <key>=<value>\n".
bool Lee_Pax(const std::string& data, std::string& path, bool& hay_path, int64_t& size, bool& hay_size) {
    size_t p = 0;
    while (p < data.size()) {
        if (data[p] == 0) {
            // Some writers pad the records with zero bytes.
            for (size_t i = p; i < data.size(); ++i)
                if (data[i] != 0) return false;
            return true;
        }
        size_t sp = data.find(' ', p);
        if (sp == std::string::npos) return false;
        int64_t len;
        if (!Decimal(data.substr(p, sp - p), len)) return false;
        if (len <= static_cast<int64_t>(sp - p) + 1 || static_cast<uint64_t>(len) > data.size() - p)
            return false;
        size_t fin = p + static_cast<size_t>(len); // one past the '\n'
        if (data[fin - 1] != '\n') return false;
        size_t eq = data.find('=', sp + 1);
        if (eq == std::string::npos || eq >= fin - 1) return false;
        std::string key = data.substr(sp + 1, eq - sp - 1);
        std::string value = data.substr(eq + 1, fin - 1 - eq - 1);
        if (key == "path") {
            path = value;
            hay_path = true;
        } else if (key == "size") {
            if (!Decimal(value, size)) return false;
            hay_size = true;
        }
        p = fin;
    }
    return true;
}

} // namespace

bool Tar_Numero(const unsigned char* field, size_t len, int64_t& value) {
    value = 0;
    if (len == 0) return true;
    if (field[0] & 0x80) {
        if (field[0] == 0xff) return false; // negative
        value = field[0] & 0x7f;
        for (size_t i = 1; i < len; ++i) {
            if (value > (std::numeric_limits<int64_t>::max() >> 8)) return false;
            value = (value << 8) | field[i];
        }
        return true;
    }
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = field[i];
        if (c == ' ') continue;
        if (c == 0) break;
        if (c < '0' || c > '7') return false;
        if (value > (std::numeric_limits<int64_t>::max() >> 3)) return false;
        value = value * 8 + (c - '0');
    }
    return true;
}

TTarResult Recorre_Tar(TTarSource& source, TTarSink& sink, std::string* why) {
    TLector in(source, sink);
    auto falla = [&](TTarResult r, const char* razon) {
        if (why) *why = razon ? razon : in.razon;
        return r;
    };

    std::string long_name, pax_path;
    bool hay_long = false, hay_pax_path = false, hay_pax_size = false;
    int64_t pax_size = 0;

    for (;;) {
        TTarResult r = in.Asegura(kBloque);
        if (r != TTarResult::Ok) return falla(r, nullptr);
        const unsigned char* h = in.Actual();
        if (h[0] == 0) return TTarResult::Ok; // end of archive; what follows is not read
        if (!Checksum_Ok(h)) return falla(TTarResult::Lectura, "bad header checksum");
        int64_t size;
        if (!Tar_Numero(h + 124, 12, size)) return falla(TTarResult::Lectura, "bad size field");
        char type = static_cast<char>(h[156]);
        std::string name = Campo(h, 100);
        if (std::memcmp(h + 257, "ustar\0", 6) == 0) {
            std::string prefix = Campo(h + 345, 155);
            if (!prefix.empty()) name = prefix + "/" + name;
        }
        in.Avanza(kBloque);

        if (type == 'L' || type == 'x') {
            if (size > kMaxMeta) return falla(TTarResult::Lectura, "extended header too large");
            std::string data;
            r = in.Bombea(size, [&](const char* p, size_t n) {
                data.append(p, n);
                return true;
            });
            if (r != TTarResult::Ok) return falla(r, nullptr);
            if (type == 'L') {
                long_name = data.substr(0, data.find('\0'));
                hay_long = true;
            } else if (!Lee_Pax(data, pax_path, hay_pax_path, pax_size, hay_pax_size)) {
                return falla(TTarResult::Lectura, "bad pax header");
            }
            continue;
        }

        if (hay_long) name = long_name;
        if (hay_pax_path) name = pax_path;
        if (hay_pax_size) size = pax_size;
        hay_long = hay_pax_path = hay_pax_size = false;

        bool regular = type == '0' || type == '\0' || type == '7';
        if (!regular || size == 0) {
            r = in.Bombea(size, nullptr);
            if (r != TTarResult::Ok) return falla(r, nullptr);
            continue;
        }

        TTarEntry entry;
        entry.name = name;
        for (char& c : entry.name)
            if (c == '\\') c = '/';
        entry.size = size;
        entry.type = type;
        if (!sink.Inicio(entry)) return falla(TTarResult::Parado, "stopped");
        r = in.Bombea(size, [&](const char* p, size_t n) { return sink.Datos(p, n); });
        if (r != TTarResult::Ok) return falla(r, r == TTarResult::Parado ? "stopped" : nullptr);
        if (!sink.Fin()) return falla(TTarResult::Parado, "stopped");
    }
}

TTarSourceGz::~TTarSourceGz() {
    Cierra();
}

bool TTarSourceGz::Abre(const char* path) {
    Cierra();
    gzFile gz = gzopen(path, "rb");
    if (!gz) return false;
    gzbuffer(gz, 256 * 1024);
    gz_ = gz;
    return true;
}

bool TTarSourceGz::Cierra() {
    if (!gz_) return true;
    int r = gzclose_r(static_cast<gzFile>(gz_));
    gz_ = nullptr;
    return r == Z_OK;
}

long TTarSourceGz::Lee(char* buffer, size_t n) {
    if (!gz_) return -1;
    size_t total = 0;
    // gzread reads at most UINT_MAX bytes a call and may return fewer than asked before the end.
    while (total < n) {
        unsigned pide = static_cast<unsigned>(n - total > (1u << 30) ? (1u << 30) : n - total);
        int r = gzread(static_cast<gzFile>(gz_), buffer + total, pide);
        if (r < 0) return -1;
        if (r == 0) {
            int err = Z_OK;
            gzerror(static_cast<gzFile>(gz_), &err);
            if (err != Z_OK && err != Z_BUF_ERROR) return -1;
            // Z_BUF_ERROR: gzip input that ends inside a member; a truncated archive.
            if (err == Z_BUF_ERROR) return -1;
            break;
        }
        total += static_cast<size_t>(r);
    }
    return static_cast<long>(total);
}

int64_t TTarSourceGz::Offset() const {
    return gz_ ? static_cast<int64_t>(gzoffset(static_cast<gzFile>(gz_))) : 0;
}

long TTarSourceMem::Lee(char* buffer, size_t n) {
    size_t k = n < n_ - pos_ ? n : n_ - pos_;
    if (k > 0) std::memcpy(buffer, data_ + pos_, k);
    pos_ += k;
    return static_cast<long>(k);
}
