#include "protocol/CryptITV.h"

#include <algorithm>
#include <cstring>

namespace {
std::string Bytes(const CDString& texto) {
    return std::string(texto.c_str(), static_cast<size_t>(texto.Length()));
}
} // namespace

bool TCryptBase::Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado) {
    descifrado.SetBin("", 0);
    return Desencripta(cifrado, plano);
}

// ---- Twofish family ----

void TCryptTwoFishITV::Encripta(const CDString& plano, DString& cifrado) {
    std::string datos = Bytes(plano);
    uint8_t iv[TWOFISH_BLOCK_SIZE];
    Rand::RandomBytes(iv, sizeof iv);
    TCryptTwoFish twofish(llave_.c_str(), llave_.Length(), iv);
    if (!Compress(datos)) {
        // The text's terminating zero, then zeros up to a whole number of blocks.
        datos.resize((datos.size() / TWOFISH_BLOCK_SIZE + 1) * TWOFISH_BLOCK_SIZE, '\0');
    }
    if (!twofish.EncriptaB(reinterpret_cast<uint8_t*>(&datos[0]), static_cast<int>(datos.size()))) {
        cifrado = "";
        return;
    }
    datos.insert(0, reinterpret_cast<const char*>(iv), sizeof iv);
    Encode(datos);
    cifrado = datos.c_str();
}

bool TCryptTwoFishITV::Desencripta(const CDString& cifrado, DString& plano) {
    DStringB descifrado;
    return Desencripta(cifrado, plano, descifrado);
}

bool TCryptTwoFishITV::Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado) {
    descifrado.SetBin("", 0);
    std::string datos = Bytes(cifrado);
    if (!Decode(datos)) {
        plano = cifrado;
        return false;
    }
    if (datos.size() <= TWOFISH_BLOCK_SIZE) return true; // an IV alone: nothing to decipher
    const size_t n = datos.size() - TWOFISH_BLOCK_SIZE;
    TCryptTwoFish twofish(llave_.c_str(), llave_.Length(), reinterpret_cast<const uint8_t*>(datos.data()));
    std::string bytes = datos.substr(TWOFISH_BLOCK_SIZE);
    if (!twofish.DesencriptaB(reinterpret_cast<uint8_t*>(&bytes[0]), static_cast<int>(n))) {
        plano = cifrado; // not whole blocks, or a key Twofish refuses
        return false;
    }
    descifrado.SetBin(bytes.data(), static_cast<int>(n));
    plano = bytes.c_str(); // the padding ends the text
    if (!Decompress(bytes)) return false;
    plano = bytes.c_str();
    return true;
}

void TCryptTwoFishITV::Encode(std::string& datos) {
    datos = HexaMayusculas(datos.data(), datos.size());
}

bool TCryptTwoFishITV::Decode(std::string& datos) {
    return SacaHexa(datos.data(), datos.size(), datos);
}

void TCryptTwoFishBase64ITV::Encode(std::string& datos) {
    datos = String_to_Base64Str(datos.data(), datos.size());
}

bool TCryptTwoFishBase64ITV::Decode(std::string& datos) {
    return CodBase64Str_to_String(datos.data(), datos.size(), datos);
}

bool TCryptZipTwoFishBase64ITV::Compress(std::string& datos) {
    return ZipCompressionUtil::Compress(datos);
}
bool TCryptZipTwoFishBase64ITV::Decompress(std::string& datos) {
    return ZipCompressionUtil::Decompress(datos);
}
bool TCryptZipTwoFishHexaITV::Compress(std::string& datos) {
    return ZipCompressionUtil::Compress(datos);
}
bool TCryptZipTwoFishHexaITV::Decompress(std::string& datos) {
    return ZipCompressionUtil::Decompress(datos);
}

// ---- ITV7 ----

namespace {
uint8_t MascaraITV7(size_t i) {
    return static_cast<uint8_t>((i * 23) ^ 0x93);
}

void InvierteGrupos(std::string& b) {
    for (size_t g = 0; g + 4 <= b.size(); g += 4)
        std::reverse(b.begin() + g, b.begin() + g + 4);
}
} // namespace

void TCryptITV7::Encripta(const CDString& plano, DString& cifrado) {
    std::string b = Bytes(plano);
    const DString md5 = TCryptMD5::Digest(b.data(), b.size());
    InvierteGrupos(b);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(b[i] ^ MascaraITV7(i));
    cifrado = (HexaMayusculas(b.data(), b.size()) + md5.c_str()).c_str();
}

bool TCryptITV7::Desencripta(const CDString& cifrado, DString& plano) {
    const size_t longitud = static_cast<size_t>(cifrado.Length());
    if (longitud <= 33) return false;
    const char* texto = cifrado.c_str();
    std::string b;
    if (!SacaHexa(texto, longitud - 32, b)) return false;
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(b[i] ^ MascaraITV7(i));
    InvierteGrupos(b);
    if (TCryptMD5::Digest(b.data(), b.size()).Strcmpi(texto + longitud - 32) != 0) return false;
    plano = b.c_str();
    return true;
}

// ---- MD5, crypt23, NSM ----

void TCryptMD5::Firma(const CDString& texto, DString& firma) {
    firma = Digest(texto.c_str(), static_cast<size_t>(texto.Length()));
}

void TCrypt23::Encripta(const CDString& plano, DString& cifrado) {
    std::string b = Bytes(plano);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) + 127 - i);
    cifrado = b.c_str();
}

bool TCrypt23::Desencripta(const CDString& cifrado, DString& plano) {
    std::string b = Bytes(cifrado);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) - 127 + i);
    plano = b.c_str();
    return true;
}

void TCryptNSM::Encripta(const CDString& plano, DString& cifrado) {
    std::string b = Bytes(plano);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) + i % 6 - 3);
    cifrado = b.c_str();
}

bool TCryptNSM::Desencripta(const CDString& cifrado, DString& plano) {
    std::string b = Bytes(cifrado);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) - i % 6 + 3);
    plano = b.c_str();
    return true;
}

// ---- The façade ----

namespace {
std::unique_ptr<TCryptBase> CreaMetodo(const char* nombre) {
    const DString n(nombre);
    if (n == "TwoFish" || n == "TwoFishHexa") return std::make_unique<TCryptTwoFishITV>();
    if (n == "TwoFishBase64") return std::make_unique<TCryptTwoFishBase64ITV>();
    if (n == "ZipTwoFishBase64") return std::make_unique<TCryptZipTwoFishBase64ITV>();
    if (n == "ZipTwoFishHexa") return std::make_unique<TCryptZipTwoFishHexaITV>();
    if (n == "ITV7") return std::make_unique<TCryptITV7>();
    if (n == "MD5") return std::make_unique<TCryptMD5>();
    if (n == "crypt23") return std::make_unique<TCrypt23>();
    if (n == "NSM") return std::make_unique<TCryptNSM>();
    return std::make_unique<TCryptNulo>();
}
} // namespace

TCryptITV::TCryptITV(const char* nombre) : metodo_(CreaMetodo(nombre)) {}
TCryptITV::~TCryptITV() = default;

void TCryptITV::Carga_Llaves(const CDString& llave1, const CDString& llave2) {
    metodo_->Carga_Llaves(llave1, llave2);
}

void TCryptITV::Carga_Llave(const CDString& llave) {
    TCryptBase::Carga_Llave(llave);
    metodo_->Carga_Llave(llave);
}

void TCryptITV::Encripta(const CDString& plano, DString& cifrado) {
    metodo_->Encripta(plano, cifrado);
}

bool TCryptITV::Desencripta(const CDString& cifrado, DString& plano) {
    return metodo_->Desencripta(cifrado, plano);
}

bool TCryptITV::Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado) {
    return metodo_->Desencripta(cifrado, plano, descifrado);
}

void TCryptITV::Firma(const CDString& texto, DString& firma) {
    metodo_->Firma(texto, firma);
}
