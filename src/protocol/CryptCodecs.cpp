// Codecs and primitives of the request encoding: Base64, hex, zlib framing, the Twofish-CBC
// context and the random sources.
#include "protocol/CryptITV.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <string.h>
#include <sys/random.h>
#include <zlib.h>

// ---- Base64 ----

namespace {
const char kAlfabeto64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
} // namespace

std::string String_to_Base64Str(const void* datos, size_t longitud) {
    const unsigned char* b = static_cast<const unsigned char*>(datos);
    std::string texto;
    texto.reserve((longitud + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= longitud; i += 3) {
        const unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
        texto += kAlfabeto64[(v >> 18) & 63];
        texto += kAlfabeto64[(v >> 12) & 63];
        texto += kAlfabeto64[(v >> 6) & 63];
        texto += kAlfabeto64[v & 63];
    }
    const size_t resto = longitud - i;
    if (resto) {
        const unsigned v = (b[i] << 16) | (resto == 2 ? b[i + 1] << 8 : 0);
        texto += kAlfabeto64[(v >> 18) & 63];
        texto += kAlfabeto64[(v >> 12) & 63];
        texto += resto == 2 ? kAlfabeto64[(v >> 6) & 63] : '=';
        texto += '=';
    }
    return texto;
}

void String_to_Base64Str(const void* datos, DString& texto, int longitud) {
    if (!datos) longitud = 0;
    if (longitud < 0) longitud = static_cast<int>(std::strlen(static_cast<const char*>(datos)));
    texto = String_to_Base64Str(datos, static_cast<size_t>(longitud)).c_str();
}

int Cod64Inverted(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return -1;
}

bool CodBase64Str_to_String(const char* texto, size_t longitud, std::string& datos) {
    if (longitud % 4 != 0) return false;
    size_t iguales = 0;
    while (iguales < longitud && texto[longitud - 1 - iguales] == '=')
        ++iguales;
    if (iguales > 2) return false;
    std::string salida;
    salida.reserve(longitud / 4 * 3);
    for (size_t i = 0; i < longitud; i += 4) {
        unsigned v = 0;
        for (size_t k = 0; k < 4; ++k) {
            const int d = Cod64Inverted(texto[i + k]);
            if (d < 0) return false;
            v = (v << 6) | static_cast<unsigned>(d);
        }
        salida += static_cast<char>(v >> 16);
        salida += static_cast<char>(v >> 8);
        salida += static_cast<char>(v);
    }
    salida.resize(salida.size() - iguales);
    datos.swap(salida);
    return true;
}

int CodBase64Str_to_String(const char* texto, DStringB& datos) {
    std::string bytes;
    if (!CodBase64Str_to_String(texto ? texto : "", texto ? std::strlen(texto) : 0, bytes)) return -1;
    datos.SetBin(bytes.data(), static_cast<int>(bytes.size()));
    return static_cast<int>(bytes.size());
}

// ---- Hex ----

std::string HexaMayusculas(const void* datos, size_t n) {
    return HexDigits(datos, n);
}

bool SacaHexa(const char* texto, size_t longitud, std::string& datos) {
    if (longitud % 2 != 0) return false;
    std::string salida(longitud / 2, '\0');
    for (size_t i = 0; i < salida.size(); ++i) {
        const int alto = HexDigitValue(texto[2 * i]);
        const int bajo = HexDigitValue(texto[2 * i + 1]);
        if (alto < 0 || bajo < 0) return false;
        salida[i] = static_cast<char>(alto * 16 + bajo);
    }
    datos.swap(salida);
    return true;
}

// ---- zlib ----

bool ZipCompressionUtil::Compress(std::string& datos) {
    uLongf longitud = compressBound(static_cast<uLong>(datos.size()));
    std::string salida(longitud + 16, '\0');
    if (compress(reinterpret_cast<Bytef*>(&salida[0]), &longitud,
                 reinterpret_cast<const Bytef*>(datos.data()), static_cast<uLong>(datos.size())) != Z_OK)
        return false;
    salida.resize((longitud / 16 + 1) * 16); // 1..16 zero bytes after the stream
    std::fill(salida.begin() + static_cast<std::ptrdiff_t>(longitud), salida.end(), '\0');
    datos.swap(salida);
    return true;
}

bool ZipCompressionUtil::Decompress(std::string& datos) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(&datos[0]);
    z.avail_in = static_cast<uInt>(datos.size());
    std::string salida;
    int r = Z_OK;
    // One byte more than the limit is room enough to see that an answer is too large.
    while (r == Z_OK) {
        const size_t usado = salida.size() - z.avail_out;
        if (z.avail_out == 0) {
            if (salida.size() > static_cast<size_t>(kMaxInflated)) break;
            salida.resize(std::min<size_t>(std::max<size_t>(salida.size() * 2, 65536), kMaxInflated + 1));
            z.next_out = reinterpret_cast<Bytef*>(&salida[usado]);
            z.avail_out = static_cast<uInt>(salida.size() - usado);
        }
        r = inflate(&z, Z_NO_FLUSH); // Z_BUF_ERROR here: the stream is cut short
    }
    const size_t total = z.total_out;
    inflateEnd(&z);
    if (r != Z_STREAM_END || total > static_cast<size_t>(kMaxInflated)) return false;
    salida.resize(total);
    datos.swap(salida);
    return true;
}

// ---- MD5 ----

DString TCryptMD5::Digest(const void* datos, size_t n) {
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, n, static_cast<const uint8_t*>(datos));
    uint8_t resumen[MD5_DIGEST_SIZE];
    md5_digest(&ctx, sizeof resumen, resumen);
    return DString(HexaMayusculas(resumen, sizeof resumen).c_str());
}

// ---- Twofish-CBC ----

namespace {
// CBC takes the block function by a generic pointer; these match its type exactly.
void TwofishEncripta(const void* ctx, size_t n, uint8_t* dst, const uint8_t* src) {
    twofish_encrypt(static_cast<const twofish_ctx*>(ctx), n, dst, src);
}
void TwofishDesencripta(const void* ctx, size_t n, uint8_t* dst, const uint8_t* src) {
    twofish_decrypt(static_cast<const twofish_ctx*>(ctx), n, dst, src);
}
} // namespace

TCryptTwoFish::TCryptTwoFish(const void* llave, int longitud, const uint8_t* iv)
    : longitud_(std::max(0, std::min(longitud, 255))), valida_(llave && longitud >= 1 && longitud <= 32) {
    uint8_t buffer[TWOFISH_KEY_SIZE] = {};
    if (valida_) std::memcpy(buffer, llave, static_cast<size_t>(longitud));
    twofish256_set_key(&ctx_, buffer);
    explicit_bzero(buffer, sizeof buffer);
    if (iv) {
        std::memcpy(iv_, iv, sizeof iv_);
    } else {
        md5_ctx md5;
        md5_init(&md5);
        if (valida_) md5_update(&md5, static_cast<size_t>(longitud), static_cast<const uint8_t*>(llave));
        md5_digest(&md5, sizeof iv_, iv_);
    }
}

TCryptTwoFish::~TCryptTwoFish() {
    explicit_bzero(&ctx_, sizeof ctx_);
    explicit_bzero(iv_, sizeof iv_);
}

bool TCryptTwoFish::EncriptaB(uint8_t* datos, int n) {
    if (!valida_ || n < 0 || n % TWOFISH_BLOCK_SIZE != 0) return false;
    if (n > 0)
        cbc_encrypt(&ctx_, TwofishEncripta, TWOFISH_BLOCK_SIZE, iv_, static_cast<size_t>(n), datos, datos);
    return true;
}

bool TCryptTwoFish::DesencriptaB(uint8_t* datos, int n) {
    if (!valida_ || n < 0 || n % TWOFISH_BLOCK_SIZE != 0) return false;
    if (n > 0)
        cbc_decrypt(&ctx_, TwofishDesencripta, TWOFISH_BLOCK_SIZE, iv_, static_cast<size_t>(n), datos, datos);
    return true;
}

// ---- Random sources ----

namespace {
std::atomic<uint32_t>& Estado() {
    static std::atomic<uint32_t> estado{static_cast<uint32_t>(std::time(nullptr))};
    return estado;
}

uint32_t Paso(uint32_t s) {
    return s * 1103515245u + 12345u;
}

// The operating system's random source; /dev/urandom and then std::random_device only if
// getrandom is unavailable.
void BytesDelSistema(uint8_t* datos, size_t n) {
    size_t hecho = 0;
    while (hecho < n) {
        const ssize_t r = getrandom(datos + hecho, n - hecho, 0);
        if (r > 0) {
            hecho += static_cast<size_t>(r);
        } else if (r < 0 && errno != EINTR) {
            break;
        }
    }
    if (hecho < n) {
        if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
            hecho += std::fread(datos + hecho, 1, n - hecho, f);
            std::fclose(f);
        }
    }
    if (hecho < n) {
        std::random_device dispositivo;
        for (; hecho < n; ++hecho)
            datos[hecho] = static_cast<uint8_t>(dispositivo());
    }
}
} // namespace

void Rand::init(uint32_t semilla) {
    Estado().store(semilla);
}

int Rand::rand() {
    std::atomic<uint32_t>& estado = Estado();
    uint32_t viejo = estado.load();
    uint32_t s1, s2, s3;
    do {
        s1 = Paso(viejo);
        s2 = Paso(s1);
        s3 = Paso(s2);
    } while (!estado.compare_exchange_weak(viejo, s3));
    return static_cast<int>(((s1 >> 16) & 0x7FF) << 20 | ((s2 >> 16) & 0x3FF) << 10 | ((s3 >> 16) & 0x3FF));
}

void Rand::RandomBytes(uint8_t* datos, int n) {
    if (datos && n > 0) BytesDelSistema(datos, static_cast<size_t>(n));
}

void Rand::RandomText(DString& texto, int n) {
    static const char kSimbolos[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
    std::string bytes(static_cast<size_t>(std::max(n, 0)), '\0');
    BytesDelSistema(reinterpret_cast<uint8_t*>(&bytes[0]), bytes.size());
    for (char& c : bytes)
        c = kSimbolos[static_cast<unsigned char>(c) & 31];
    texto = bytes.c_str();
}
