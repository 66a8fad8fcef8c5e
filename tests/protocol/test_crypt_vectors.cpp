// Known answers: the Twofish paper's vectors, the RFC 1321 MD5 suite, RFC 4648 Base64 and hex,
// and the Base64 acceptance rules of the request encoding.
#include "protocol/CryptITV.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <nettle/twofish.h>

namespace {

std::string FromHex(const char* hex) {
    std::string out;
    EXPECT_TRUE(SacaHexa(hex, std::strlen(hex), out)) << hex;
    return out;
}

struct TwofishVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// From the appendix of the Twofish paper (Schneier et al., 1998).
const TwofishVector kTwofishPaper[] = {
    {"00000000000000000000000000000000", "00000000000000000000000000000000",
     "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
    {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
     "CFD1D2E5A9BE9CDF501F13B892BD2248"},
    {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", "00000000000000000000000000000000",
     "37527BE0052334B89F0CFCCAE87CFA20"},
    // The 256-bit all-zero key (first entry of the paper's 256-bit table).
    {"0000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
     "57FF739D4DC92C1BD7FC01700CC8216F"},
};

TEST(TwofishKnownAnswers, NettleMatchesThePaperForEveryKeySize) {
    for (const TwofishVector& v : kTwofishPaper) {
        const std::string key = FromHex(v.key), plain = FromHex(v.plain);
        twofish_ctx ctx;
        twofish_set_key(&ctx, key.size(), reinterpret_cast<const uint8_t*>(key.data()));
        uint8_t out[16];
        twofish_encrypt(&ctx, 16, out, reinterpret_cast<const uint8_t*>(plain.data()));
        EXPECT_EQ(HexaMayusculas(out, 16), v.cipher) << v.key;
        twofish_decrypt(&ctx, 16, out, out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 16), plain);
    }
}

TEST(TwofishKnownAnswers, ContextWithZeroIvIsTheBlockCipherUnderA256BitKey) {
    // One block of CBC with a zero IV is the block cipher itself.
    for (const TwofishVector& v : kTwofishPaper) {
        const std::string key = FromHex(v.key);
        if (key.size() != 32) continue;
        const uint8_t iv[16] = {};
        std::string block = FromHex(v.plain);
        TCryptTwoFish tf(key.data(), static_cast<int>(key.size()), iv);
        ASSERT_TRUE(tf.EncriptaB(reinterpret_cast<uint8_t*>(&block[0]), 16));
        EXPECT_EQ(HexaMayusculas(block.data(), 16), v.cipher);
        TCryptTwoFish back(key.data(), static_cast<int>(key.size()), iv);
        ASSERT_TRUE(back.DesencriptaB(reinterpret_cast<uint8_t*>(&block[0]), 16));
        EXPECT_EQ(HexaMayusculas(block.data(), 16), v.plain);
    }
}

TEST(TwofishKnownAnswers, ShortKeysAreZeroFilledTo256BitsNotUsedAtTheirLength) {
    // The 128-bit zero key gives the paper's 256-bit zero-key answer, not its 128-bit one.
    const uint8_t iv[16] = {};
    const std::string key = FromHex("00000000000000000000000000000000");
    uint8_t block[16] = {};
    TCryptTwoFish tf(key.data(), 16, iv);
    ASSERT_TRUE(tf.EncriptaB(block, 16));
    EXPECT_EQ(HexaMayusculas(block, 16), "57FF739D4DC92C1BD7FC01700CC8216F");

    // The paper's 192-bit key, zero-filled: what nettle gives for the padded 256-bit key.
    const std::string k192 = FromHex(kTwofishPaper[1].key);
    std::string padded = k192 + std::string(8, '\0');
    twofish_ctx ctx;
    twofish256_set_key(&ctx, reinterpret_cast<const uint8_t*>(padded.data()));
    uint8_t expected[16] = {};
    twofish_encrypt(&ctx, 16, expected, expected);
    uint8_t got[16] = {};
    TCryptTwoFish tf192(k192.data(), 24, iv);
    ASSERT_TRUE(tf192.EncriptaB(got, 16));
    EXPECT_EQ(HexaMayusculas(got, 16), HexaMayusculas(expected, 16));
    EXPECT_NE(HexaMayusculas(got, 16), kTwofishPaper[1].cipher);
}

TEST(TwofishKnownAnswers, WithoutIvTheMd5OfTheKeyServesAsOne) {
    const char key[] = "some key";
    uint8_t a[32] = {}, b[32] = {};
    TCryptTwoFish implicit(key, 8, nullptr);
    ASSERT_TRUE(implicit.EncriptaB(a, 32));
    std::string iv = FromHex(TCryptMD5::Digest(key, 8).c_str());
    TCryptTwoFish explicit_iv(key, 8, reinterpret_cast<const uint8_t*>(iv.data()));
    ASSERT_TRUE(explicit_iv.EncriptaB(b, 32));
    EXPECT_EQ(HexaMayusculas(a, 32), HexaMayusculas(b, 32));
}

TEST(TwofishContext, RefusesBadKeysAndPartialBlocks) {
    const uint8_t iv[16] = {};
    uint8_t data[48] = {};
    const std::string long_key(33, 'k');
    TCryptTwoFish too_long(long_key.data(), 33, iv);
    EXPECT_FALSE(too_long.Valida());
    EXPECT_FALSE(too_long.EncriptaB(data, 16));
    EXPECT_FALSE(too_long.DesencriptaB(data, 16));
    TCryptTwoFish empty("", 0, iv);
    EXPECT_FALSE(empty.EncriptaB(data, 16));
    TCryptTwoFish huge(long_key.data(), 100000, iv); // never reads past the key
    EXPECT_FALSE(huge.EncriptaB(data, 16));

    const std::string key(32, 'k');
    TCryptTwoFish good(key.data(), 32, iv);
    EXPECT_TRUE(good.Valida());
    for (int n : {1, 15, 17, 47, -16}) {
        EXPECT_FALSE(good.EncriptaB(data, n)) << n;
        EXPECT_FALSE(good.DesencriptaB(data, n)) << n;
    }
    for (uint8_t b : data)
        EXPECT_EQ(b, 0); // refused calls touch nothing
    EXPECT_TRUE(good.EncriptaB(data, 0));
    EXPECT_TRUE(good.EncriptaB(data, 48));
}

TEST(Md5KnownAnswers, Rfc1321Suite) {
    const struct {
        const char* text;
        const char* digest;
    } suite[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& c : suite) {
        TCryptITV md5("MD5");
        DString firma;
        md5.Firma(c.text, firma);
        EXPECT_STREQ(firma.c_str(), c.digest) << c.text;
    }
}

TEST(Base64KnownAnswers, Rfc4648Vectors) {
    const struct {
        const char* plain;
        const char* base64;
        const char* base16;
    } vectors[] = {
        {"", "", ""},
        {"f", "Zg==", "66"},
        {"fo", "Zm8=", "666F"},
        {"foo", "Zm9v", "666F6F"},
        {"foob", "Zm9vYg==", "666F6F62"},
        {"fooba", "Zm9vYmE=", "666F6F6261"},
        {"foobar", "Zm9vYmFy", "666F6F626172"},
    };
    for (const auto& v : vectors) {
        DString text;
        String_to_Base64Str(v.plain, text, -1);
        EXPECT_STREQ(text.c_str(), v.base64);
        DStringB bytes;
        EXPECT_EQ(CodBase64Str_to_String(v.base64, bytes), static_cast<int>(std::strlen(v.plain)));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.LengthB()), v.plain);

        EXPECT_EQ(HexaMayusculas(v.plain, std::strlen(v.plain)), v.base16);
        std::string back;
        ASSERT_TRUE(SacaHexa(v.base16, std::strlen(v.base16), back));
        EXPECT_EQ(back, v.plain);
        DString lower(v.base16);
        lower.A_Minusculas();
        ASSERT_TRUE(SacaHexa(lower.c_str(), lower.Length(), back));
        EXPECT_EQ(back, v.plain);
    }
}

TEST(Base64KnownAnswers, BinaryBytesAndExplicitLength) {
    const char bytes[] = {'\0', '\xff', '\x10', '\0'};
    DString text;
    String_to_Base64Str(bytes, text, 4);
    EXPECT_STREQ(text.c_str(), "AP8QAA==");
    DStringB back;
    ASSERT_EQ(CodBase64Str_to_String("AP8QAA==", back), 4);
    EXPECT_EQ(std::memcmp(back.Data(), bytes, 4), 0);
    String_to_Base64Str(nullptr, text, -1);
    EXPECT_STREQ(text.c_str(), "");
}

TEST(Base64Acceptance, Table) {
    const struct {
        const char* text;
        int count; // -1: refused
        const char* bytes_hex;
    } table[] = {
        {"", 0, ""},
        {"YWJj", 3, "616263"},
        {"YWJj=", -1, nullptr},      // length not a multiple of four
        {"YWJ", -1, nullptr},        // idem
        {"YQ==", 1, "61"},           // each trailing "=" removes one byte
        {"YWI=", 2, "6162"},         //
        {"YW=j", 3, "616023"},       // an inner "=" reads as zero bits
        {"Y===", -1, nullptr},       // at most two trailing "="
        {"====", -1, nullptr},       //
        {"YWJj====", -1, nullptr},   //
        {"YW J", -1, nullptr},       // outside the alphabet
        {"YWJj\r\n==", -1, nullptr}, // no line breaks
        {"YW-j", -1, nullptr},       // the URL-safe alphabet is not this one
        {"YW_j", -1, nullptr},       //
        {"YW\xc3\xa9", -1, nullptr}, // bytes above 0x7F
        {"+/+/", 3, "FBFFBF"},       //
    };
    for (const auto& row : table) {
        DStringB out;
        out.SetBin("sentinel", 8);
        const int n = CodBase64Str_to_String(row.text, out);
        EXPECT_EQ(n, row.count) << row.text;
        if (row.count < 0) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.LengthB()), "sentinel")
                << row.text;
        } else {
            EXPECT_EQ(HexaMayusculas(out.Data(), out.LengthB()), row.bytes_hex) << row.text;
        }
    }
}

TEST(Base64Acceptance, InvertedAlphabet) {
    const struct {
        char c;
        int value;
    } table[] = {{'A', 0}, {'Z', 25}, {'a', 26}, {'z', 51}, {'0', 52},  {'9', 61},    {'+', 62},   {'/', 63},
                 {'=', 0}, {'-', -1}, {'_', -1}, {' ', -1}, {'\0', -1}, {'\x80', -1}, {'\xff', -1}};
    for (const auto& row : table)
        EXPECT_EQ(Cod64Inverted(row.c), row.value) << int(row.c);
}

TEST(HexDecoding, RefusesOddLengthsAndNonDigits) {
    for (const char* bad : {"ABC", "0G", "0x12", " 12", "12 ", "\xc3\xa9"}) {
        std::string out = "sentinel";
        EXPECT_FALSE(SacaHexa(bad, std::strlen(bad), out)) << bad;
        EXPECT_EQ(out, "sentinel");
    }
    std::string out;
    ASSERT_TRUE(SacaHexa("00ff", 4, out));
    EXPECT_EQ(out, std::string("\x00\xff", 2));
}

} // namespace
