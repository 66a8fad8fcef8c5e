// Encipherment of everything exchanged with the maker's services.
//
// TCryptITV chooses a method by its exact name ("TwoFish", "TwoFishHexa", "TwoFishBase64",
// "ZipTwoFishBase64", "ZipTwoFishHexa", "ITV7", "MD5", "crypt23", "NSM"; any other name gives a
// method that does nothing). Usual use: make one per operation, Carga_Llave, then one Encripta or
// Desencripta. A façade and its method belong to one thread at a time; the functions below it
// (codecs, Rand, TCryptTwoFish) are safe from any thread.
//
// Twofish framing: 16 random IV bytes, then Twofish-CBC (256-bit key: the key text zero-filled to
// 32 bytes) of the text padded with zero bytes to whole blocks (or of its zlib stream, for the
// zip methods), written as upper-case hex or Base64.
#pragma once

#include "foundation/DString.h"

#include <cstdint>
#include <memory>
#include <string>

#include <nettle/twofish.h>

// Base of every method: holds the key text. The base operations do nothing (Desencripta false).
class TCryptBase {
public:
    TCryptBase() = default;
    virtual ~TCryptBase() = default;
    TCryptBase(const TCryptBase&) = delete;
    TCryptBase& operator=(const TCryptBase&) = delete;

    virtual void Carga_Llaves(const CDString& llave1, const CDString& llave2) {} // unused by every method
    virtual void Carga_Llave(const CDString& llave) { llave_ = llave; }
    virtual void Encripta(const CDString& plano, DString& cifrado) {}
    // On success `plano` holds the deciphered text (up to its first zero byte).
    virtual bool Desencripta(const CDString& cifrado, DString& plano) { return false; }
    virtual void Firma(const CDString& texto, DString& firma) {}
    // As Desencripta; `descifrado` also receives every deciphered byte, zero bytes and padding
    // included, before any decompression (empty when nothing was deciphered).
    virtual bool Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado);

    const DString& Llave() const { return llave_; }

protected:
    DString llave_;
};

// Unknown method names: every operation does nothing.
class TCryptNulo : public TCryptBase {};

// Twofish-CBC with upper-case hex text ("TwoFish", "TwoFishHexa"), base of the Twofish family.
//
// Encripta: on a key that Twofish refuses (empty, or longer than 32 bytes) the output is the
// empty text: plain text is never passed off as enciphered.
// Desencripta: fails on undecodable text, on a refused key, and when the bytes after the IV are
// not whole 16-byte blocks; the output is then the input text as it came. At most 16 decoded
// bytes (an IV alone) succeed and leave the output as it was.
class TCryptTwoFishITV : public TCryptBase {
public:
    void Encripta(const CDString& plano, DString& cifrado) override;
    bool Desencripta(const CDString& cifrado, DString& plano) override;
    bool Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado) override;

protected:
    // Enciphered bytes -> text, in place.
    virtual void Encode(std::string& datos);
    // Text -> bytes, in place; false (unchanged) when the text is not valid for this method.
    virtual bool Decode(std::string& datos);
    // Replaces the plain bytes by the padded zlib stream; false (unchanged) when declined.
    virtual bool Compress(std::string& datos) { return false; }
    // Replaces the deciphered bytes by the inflated text; true (unchanged) when not compressed.
    virtual bool Decompress(std::string& datos) { return true; }
};

// Base64 text ("TwoFishBase64").
class TCryptTwoFishBase64ITV : public TCryptTwoFishITV {
protected:
    void Encode(std::string& datos) override;
    bool Decode(std::string& datos) override;
};

// zlib, then Base64 ("ZipTwoFishBase64").
class TCryptZipTwoFishBase64ITV : public TCryptTwoFishBase64ITV {
protected:
    bool Compress(std::string& datos) override;
    bool Decompress(std::string& datos) override;
};

// zlib, then hex ("ZipTwoFishHexa").
class TCryptZipTwoFishHexaITV : public TCryptTwoFishITV {
protected:
    bool Compress(std::string& datos) override;
    bool Decompress(std::string& datos) override;
};

// "ITV7": bytes reversed in groups of four, XORed with (i * 23) ^ 0x93, upper-case hex, then the
// 32-hex-digit MD5 of the plain text. No key. The empty text does not come back (too short).
class TCryptITV7 : public TCryptBase {
public:
    using TCryptBase::Desencripta;
    void Encripta(const CDString& plano, DString& cifrado) override;
    bool Desencripta(const CDString& cifrado,
                     DString& plano) override; // false (unchanged) on a bad text or MD5
};

// "MD5": only Firma, the RFC 1321 digest of the text as 32 upper-case hex digits.
class TCryptMD5 : public TCryptBase {
public:
    void Firma(const CDString& texto, DString& firma) override;
    static DString Digest(const void* datos, size_t n); // 32 upper-case hex digits
};

// "crypt23": byte i becomes byte + 127 - i (mod 256). A byte that becomes zero ends the text,
// so a text does not always come back whole.
class TCrypt23 : public TCryptBase {
public:
    using TCryptBase::Desencripta;
    void Encripta(const CDString& plano, DString& cifrado) override;
    bool Desencripta(const CDString& cifrado, DString& plano) override;
};

// "NSM": byte i becomes byte + (i mod 6) - 3 (mod 256).
class TCryptNSM : public TCryptBase {
public:
    using TCryptBase::Desencripta;
    void Encripta(const CDString& plano, DString& cifrado) override;
    bool Desencripta(const CDString& cifrado, DString& plano) override;
};

// The façade: owns the method chosen by name (compared exactly, with case) and hands it each call.
class TCryptITV : public TCryptBase {
public:
    explicit TCryptITV(const char* nombre);
    ~TCryptITV() override;

    void Carga_Llaves(const CDString& llave1, const CDString& llave2) override;
    void Carga_Llave(const CDString& llave) override;
    void Encripta(const CDString& plano, DString& cifrado) override;
    bool Desencripta(const CDString& cifrado, DString& plano) override;
    bool Desencripta(const CDString& cifrado, DString& plano, DStringB& descifrado) override;
    void Firma(const CDString& texto, DString& firma) override;

    TCryptBase& Metodo() { return *metodo_; }

private:
    std::unique_ptr<TCryptBase> metodo_;
};

// One Twofish-CBC context, made per operation. The key (1..32 bytes) is zero-filled to 32 bytes
// and always expanded as a 256-bit Twofish key; other key lengths are refused and every call then
// fails. Without an IV the MD5 of the key bytes serves as one. The chain continues across calls.
class TCryptTwoFish {
public:
    TCryptTwoFish(const void* llave, int longitud, const uint8_t* iv = nullptr);
    ~TCryptTwoFish();
    TCryptTwoFish(const TCryptTwoFish&) = delete;
    TCryptTwoFish& operator=(const TCryptTwoFish&) = delete;

    bool Valida() const { return valida_; }
    // In place, CBC. False (data untouched) for a refused key or a count that is not a
    // non-negative multiple of 16.
    bool EncriptaB(uint8_t* datos, int n);
    bool DesencriptaB(uint8_t* datos, int n);

private:
    uint8_t iv_[TWOFISH_BLOCK_SIZE];
    int longitud_; // key length clamped to 0..255
    bool valida_;
    twofish_ctx ctx_;
};

// zlib streams of the zip methods.
struct ZipCompressionUtil {
    enum : int { kMaxInflated = 16777216 }; // 16 MiB

    // Replaces the bytes by their zlib stream (default level) followed by 1..16 zero bytes up to
    // the next multiple of 16 strictly above the stream's length. False (unchanged) on failure.
    static bool Compress(std::string& datos);
    // Replaces the bytes by what their zlib stream inflates to; bytes after the end of the stream
    // are ignored. False (unchanged) for a broken stream or more than kMaxInflated bytes.
    static bool Decompress(std::string& datos);
};

// Base64 of the standard alphabet with "=" padding and no line breaks. `longitud` -1: up to the
// first zero byte.
void String_to_Base64Str(const void* datos, DString& texto, int longitud = -1);
std::string String_to_Base64Str(const void* datos, size_t longitud);
// Decoding accepts a text whose length is a multiple of four, made of the alphabet and "=" (an
// "=" inside the text counts as zero bits); each trailing "=" removes one byte, at most two.
// Returns the number of bytes, or -1 (out unchanged) when the text is not accepted.
int CodBase64Str_to_String(const char* texto, DStringB& datos);
bool CodBase64Str_to_String(const char* texto, size_t longitud, std::string& datos);
// Value 0..63 of a Base64 character, 0 for "=", -1 for any other character.
int Cod64Inverted(char c);

// Upper-case hex, two digits per byte. Decoding accepts either case and an even number of
// digits only; false (out unchanged) otherwise.
std::string HexaMayusculas(const void* datos, size_t n);
bool SacaHexa(const char* texto, size_t longitud, std::string& datos);

// Random numbers. IVs and nonces come from the operating system's random source; `rand` is
// the classic linear congruential sequence (atomic state, seeded from the clock at first use).
class Rand {
public:
    static void init(uint32_t semilla);
    static int rand(); // 31-bit value
    static void RandomBytes(uint8_t* datos, int n);
    static void RandomText(DString& texto, int n); // n characters of 0-9 and A-V
};
