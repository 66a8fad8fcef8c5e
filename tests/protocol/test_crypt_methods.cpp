// The methods behind TCryptITV: framing, round trips, failures, the zlib rule and random sources.
#include "protocol/CryptITV.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nettle/cbc.h>
#include <nettle/twofish.h>
#include <zlib.h>

namespace {

const char kKey[] = "Tq4!mZ8#rW2$xC6%vB0^nL5&kP9*jH3"; // 31 printable characters, like the real key
const char* const kTwofishMethods[] = {"TwoFish", "TwoFishHexa", "TwoFishBase64", "ZipTwoFishBase64",
                                       "ZipTwoFishHexa"};

bool IsBase64(const std::string& m) {
    return m.find("Base64") != std::string::npos;
}

DString Encipher(const char* method, const CDString& plain, const char* key = kKey) {
    TCryptITV crypt(method);
    crypt.Carga_Llave(key);
    DString out;
    crypt.Encripta(plain, out);
    return out;
}

bool Decipher(const char* method, const CDString& text, DString& plain, const char* key = kKey) {
    TCryptITV crypt(method);
    crypt.Carga_Llave(key);
    return crypt.Desencripta(text, plain);
}

std::string Decode(const std::string& method, const DString& text) {
    std::string bytes;
    const bool ok = IsBase64(method) ? CodBase64Str_to_String(text.c_str(), text.Length(), bytes)
                                     : SacaHexa(text.c_str(), text.Length(), bytes);
    EXPECT_TRUE(ok) << method;
    return bytes;
}

std::string Encode(const std::string& method, const std::string& bytes) {
    return IsBase64(method) ? String_to_Base64Str(bytes.data(), bytes.size())
                            : HexaMayusculas(bytes.data(), bytes.size());
}

// Nettle's CBC over the zero-filled 32-byte key: an implementation beside the one under test.
std::string NettleCbc(const std::string& key, const std::string& iv, std::string data, bool encrypt) {
    std::string k = key;
    k.resize(32, '\0');
    twofish_ctx ctx;
    twofish256_set_key(&ctx, reinterpret_cast<const uint8_t*>(k.data()));
    uint8_t v[16];
    std::memcpy(v, iv.data(), 16);
    auto* d = reinterpret_cast<uint8_t*>(&data[0]);
    auto enc = [](const void* c, size_t n, uint8_t* dst, const uint8_t* src) {
        twofish_encrypt(static_cast<const twofish_ctx*>(c), n, dst, src);
    };
    auto dec = [](const void* c, size_t n, uint8_t* dst, const uint8_t* src) {
        twofish_decrypt(static_cast<const twofish_ctx*>(c), n, dst, src);
    };
    if (encrypt)
        cbc_encrypt(&ctx, enc, 16, v, data.size(), d, d);
    else
        cbc_decrypt(&ctx, dec, 16, v, data.size(), d, d);
    return data;
}

std::string LetterText(size_t n, uint32_t seed) {
    std::string s(n, 'a');
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (seed >> 24) % 26);
    }
    return s;
}

TEST(TwofishFraming, SizesFollowTheZeroPaddingRule) {
    const struct {
        size_t plain;
        int blocks;
    } table[] = {{0, 1}, {1, 1}, {15, 1}, {16, 2}, {17, 2}, {31, 2}, {32, 3}};
    for (const auto& row : table) {
        const DString out = Encipher("TwoFish", std::string(row.plain, 'x').c_str());
        EXPECT_EQ(out.Length(), 32 + 32 * row.blocks) << row.plain;
        EXPECT_EQ(std::string(out.c_str()).find_first_not_of("0123456789ABCDEF"), std::string::npos);
        const DString b64 = Encipher("TwoFishBase64", std::string(row.plain, 'x').c_str());
        EXPECT_EQ(b64.Length(), static_cast<int>((16 + 16 * row.blocks + 2) / 3 * 4)) << row.plain;
    }
}

TEST(TwofishFraming, NettleReadsWhatEncriptaWrote) {
    // Deciphered independently: IV first, then the text, its terminating zero and zero padding.
    for (const char* method : {"TwoFish", "TwoFishBase64"}) {
        const std::string plain = "func=LOGINCHECK&usr=ana@example.com&pwd=\xc3\xa9t\xc3\xa9";
        const std::string bytes = Decode(method, Encipher(method, plain.c_str()));
        const size_t padded = (plain.size() / 16 + 1) * 16;
        ASSERT_EQ(bytes.size(), 16 + padded);
        const std::string data = NettleCbc(kKey, bytes.substr(0, 16), bytes.substr(16), false);
        std::string expected = plain;
        expected.resize(padded, '\0');
        EXPECT_EQ(data, expected) << method;
    }
}

TEST(TwofishFraming, EncriptaZipWritesZlibWithOneToSixteenZeros) {
    for (const char* method : {"ZipTwoFishBase64", "ZipTwoFishHexa"}) {
        for (size_t n : {0, 1, 20, 1000}) {
            const std::string plain = LetterText(n, 7);
            const std::string bytes = Decode(method, Encipher(method, plain.c_str()));
            const std::string data = NettleCbc(kKey, bytes.substr(0, 16), bytes.substr(16), false);
            std::string z(compressBound(n), '\0');
            uLongf zn = z.size();
            ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&z[0]), &zn,
                               reinterpret_cast<const Bytef*>(plain.data()), n),
                      Z_OK);
            z.resize(zn);
            ASSERT_EQ(data.size() % 16, 0u);
            ASSERT_GT(data.size(), zn);
            EXPECT_LE(data.size() - zn, 16u);
            EXPECT_EQ(data.substr(0, zn), z) << method << " " << n;
            EXPECT_EQ(data.substr(zn), std::string(data.size() - zn, '\0'));
        }
    }
}

TEST(TwofishFraming, DesencriptaReadsWhatNettleWrote) {
    const std::string iv = "0123456789abcdef";
    const std::string plain = "{\"errorMsg\":\"\"}";
    std::string padded = plain;
    padded.resize(16, '\0');
    for (const char* method : {"TwoFish", "TwoFishBase64"}) {
        const std::string text = Encode(method, iv + NettleCbc(kKey, iv, padded, true));
        DString out;
        ASSERT_TRUE(Decipher(method, text.c_str(), out)) << method;
        EXPECT_STREQ(out.c_str(), plain.c_str());
    }
    // Lower-case hex is read too.
    std::string lower = Encode("TwoFish", iv + NettleCbc(kKey, iv, padded, true));
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    DString out;
    ASSERT_TRUE(Decipher("TwoFish", lower.c_str(), out));
    EXPECT_STREQ(out.c_str(), plain.c_str());
}

TEST(TwofishFraming, EveryEncipheringDrawsAFreshIv) {
    std::set<std::string> ivs;
    for (int i = 0; i < 50; ++i)
        ivs.insert(std::string(Encipher("TwoFish", "same").c_str(), 32));
    EXPECT_EQ(ivs.size(), 50u);
}

TEST(TwofishRoundTrip, EveryMethodGivesTheTextBack) {
    const std::string texts[] = {"",
                                 "a",
                                 std::string(15, 'q'),
                                 std::string(16, 'q'),
                                 std::string(17, 'q'),
                                 "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                                 "{\"Email\":\"a@b.c\",\"sessionId\":\"XYZ\"}",
                                 LetterText(5000, 3)};
    for (const char* method : kTwofishMethods) {
        for (const std::string& text : texts) {
            const DString enc = Encipher(method, text.c_str());
            ASSERT_FALSE(enc.IsEmpty()) << method;
            DString back;
            ASSERT_TRUE(Decipher(method, enc, back)) << method << " " << text.size();
            EXPECT_EQ(std::string(back.c_str()), text) << method;
        }
    }
}

TEST(TwofishRoundTrip, ZipMethodsCarrySixteenMebibytes) {
    const std::string big = LetterText(ZipCompressionUtil::kMaxInflated, 11);
    for (const char* method : {"ZipTwoFishBase64", "ZipTwoFishHexa"}) {
        DString back;
        ASSERT_TRUE(Decipher(method, Encipher(method, big.c_str()), back)) << method;
        ASSERT_EQ(back.Length(), ZipCompressionUtil::kMaxInflated);
        EXPECT_TRUE(std::memcmp(back.c_str(), big.data(), big.size()) == 0);
    }
    // One byte more is refused on the way back, not truncated.
    const std::string bigger = big + "z";
    DString back;
    EXPECT_FALSE(Decipher("ZipTwoFishBase64", Encipher("ZipTwoFishBase64", bigger.c_str()), back));
}

TEST(TwofishDecipher, AnIvAloneSucceedsAndLeavesTheOutput) {
    DString out = "as it was";
    EXPECT_TRUE(Decipher("TwoFish", std::string(32, 'A').c_str(), out));
    EXPECT_STREQ(out.c_str(), "as it was");
    EXPECT_TRUE(Decipher("TwoFishBase64", "", out));
    EXPECT_STREQ(out.c_str(), "as it was");
}

TEST(TwofishDecipher, RefusesBadTextsCleanly) {
    const DString good = Encipher("TwoFish", "hello");
    const DString good64 = Encipher("TwoFishBase64", "hello");
    const struct {
        const char* method;
        std::string text;
    } table[] = {
        {"TwoFish", std::string(good.c_str()).substr(1)},          // odd number of digits
        {"TwoFish", std::string(good.c_str()) + "G0"},             // not a hex digit
        {"TwoFish", std::string(good.c_str()) + "00"},             // not a whole block after the IV
        {"TwoFish", std::string(good.c_str()).substr(0, 32 + 30)}, // idem, shorter
        {"TwoFish", "<html><body>Service Unavailable</body></html>!!"},
        {"TwoFishBase64", std::string(good64.c_str()) + "="},        // length
        {"TwoFishBase64", std::string(good64.c_str(), 28) + "AAAA"}, // 21 bytes: partial block
        {"ZipTwoFishBase64", std::string(good64.c_str())},           // no zlib stream inside
    };
    for (const auto& row : table) {
        DString out;
        EXPECT_FALSE(Decipher(row.method, row.text.c_str(), out)) << row.method << " " << row.text;
    }
    // What the failed step leaves: the text as it came, for the caller's error message.
    DString out;
    ASSERT_FALSE(Decipher("TwoFish", "<html>ERROR 2526</html>", out));
    EXPECT_STREQ(out.c_str(), "<html>ERROR 2526</html>");
}

TEST(TwofishDecipher, WrongKeyGivesNoText) {
    DString out;
    EXPECT_FALSE(Decipher("ZipTwoFishBase64", Encipher("ZipTwoFishBase64", "abc"), out, "another key"));
    // Without a zlib check a wrong key cannot be seen, but the result is not the text.
    ASSERT_TRUE(Decipher("TwoFish", Encipher("TwoFish", "secret text"), out, "another key"));
    EXPECT_STRNE(out.c_str(), "secret text");
}

TEST(TwofishKeys, LongerThan32BytesOrEmptyIsRefused) {
    const std::string key33(33, 'k'), key32(32, 'k');
    for (const char* method : kTwofishMethods) {
        EXPECT_TRUE(Encipher(method, "plain text", key33.c_str()).IsEmpty()) << method;
        EXPECT_TRUE(Encipher(method, "plain text", "").IsEmpty()) << method;
        DString out;
        EXPECT_FALSE(Decipher(method, Encipher(method, "plain text", key32.c_str()), out, key33.c_str()));
        EXPECT_FALSE(Decipher(method, Encipher(method, "plain text", key32.c_str()), out, ""));
        ASSERT_TRUE(Decipher(method, Encipher(method, "plain text", key32.c_str()), out, key32.c_str()));
        EXPECT_STREQ(out.c_str(), "plain text");
    }
}

TEST(TwofishDecipher, AllDecipheredBytesComeOutWithTheirZeros) {
    // The install parameters: a zlib stream enciphered with "TwoFishBase64".
    const std::string json = "{\"loginOK\":true,\"Email\":\"ana@example.com\",\"Pwd\":\"p\"}";
    std::string stream = json;
    ASSERT_TRUE(ZipCompressionUtil::Compress(stream));
    const std::string iv(16, '\x5a');
    const std::string text = Encode("TwoFishBase64", iv + NettleCbc(kKey, iv, stream, true));

    TCryptITV crypt("TwoFishBase64");
    crypt.Carga_Llave(kKey);
    DString plain;
    DStringB bytes;
    ASSERT_TRUE(crypt.Desencripta(text.c_str(), plain, bytes));
    ASSERT_EQ(bytes.LengthB(), static_cast<int>(stream.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.LengthB()), stream);
    EXPECT_LT(plain.Length(), bytes.LengthB()); // the text stops at the stream's first zero byte
    std::string inflated(reinterpret_cast<const char*>(bytes.Data()), bytes.LengthB());
    ASSERT_TRUE(ZipCompressionUtil::Decompress(inflated));
    EXPECT_EQ(inflated, json);

    // The zip method: the same bytes come out, and the text is the inflated one.
    TCryptITV zip("ZipTwoFishBase64");
    zip.Carga_Llave(kKey);
    ASSERT_TRUE(zip.Desencripta(text.c_str(), plain, bytes));
    EXPECT_STREQ(plain.c_str(), json.c_str());
    EXPECT_EQ(bytes.LengthB(), static_cast<int>(stream.size()));

    // Nothing deciphered, nothing given.
    ASSERT_FALSE(crypt.Desencripta("not base64!", plain, bytes));
    EXPECT_EQ(bytes.LengthB(), 0);
}

TEST(ZipCompression, PaddingAndLimits) {
    for (size_t n : {0, 1, 2, 15, 16, 100, 4096}) {
        // Incompressible bytes grow: the buffer must hold compressBound plus the padding.
        std::string data(n, '\0');
        Rand::RandomBytes(reinterpret_cast<uint8_t*>(&data[0]), static_cast<int>(n));
        std::string packed = data;
        ASSERT_TRUE(ZipCompressionUtil::Compress(packed)) << n;
        EXPECT_EQ(packed.size() % 16, 0u);
        EXPECT_EQ(packed.back(), '\0');
        std::string back = packed;
        ASSERT_TRUE(ZipCompressionUtil::Decompress(back)) << n;
        EXPECT_EQ(back, data);
    }
    std::string packed = "hello";
    ASSERT_TRUE(ZipCompressionUtil::Compress(packed));
    for (const std::string& broken : {std::string(), std::string(16, '\0'), packed.substr(0, 6),
                                      std::string("not a zlib stream at all")}) {
        std::string d = broken;
        EXPECT_FALSE(ZipCompressionUtil::Decompress(d));
        EXPECT_EQ(d, broken); // unchanged on failure
    }
    // A stream that inflates past 16 MiB is refused.
    std::string zeros(ZipCompressionUtil::kMaxInflated + 1, 'z');
    ASSERT_TRUE(ZipCompressionUtil::Compress(zeros));
    EXPECT_FALSE(ZipCompressionUtil::Decompress(zeros));
}

TEST(OtherMethods, RoundTripsAndKnownForms) {
    // ITV7.
    const DString itv7 = Encipher("ITV7", "abcdef");
    // "abcd" reversed to "dcba", then "ef"; byte i XOR (i * 23) ^ 0x93; then the MD5 of "abcdef".
    std::string expected;
    const char order[] = "dcbaef";
    for (int i = 0; i < 6; ++i)
        expected += static_cast<char>(order[i] ^ ((i * 23) ^ 0x93));
    EXPECT_EQ(std::string(itv7.c_str()),
              HexaMayusculas(expected.data(), 6) + TCryptMD5::Digest("abcdef", 6).c_str());
    DString back;
    ASSERT_TRUE(Decipher("ITV7", itv7, back));
    EXPECT_STREQ(back.c_str(), "abcdef");
    const std::string long_text = LetterText(1000, 5);
    ASSERT_TRUE(Decipher("ITV7", Encipher("ITV7", long_text.c_str()), back));
    EXPECT_EQ(std::string(back.c_str()), long_text);
    std::string tampered = itv7.c_str();
    tampered[0] = tampered[0] == '0' ? '1' : '0';
    back = "kept";
    EXPECT_FALSE(Decipher("ITV7", tampered.c_str(), back));
    EXPECT_FALSE(Decipher("ITV7", std::string(33, 'A').c_str(), back));
    EXPECT_FALSE(Decipher("ITV7", Encipher("ITV7", ""), back)); // 32 characters: too short
    EXPECT_STREQ(back.c_str(), "kept");

    // crypt23 and NSM.
    EXPECT_STREQ(Encipher("crypt23", "AB").c_str(), "\xc0\xc0"); // 'A' + 127, 'B' + 126
    EXPECT_STREQ(Encipher("NSM", "aaaaaaa").c_str(), "^_`abc^");
    for (const char* method : {"crypt23", "NSM"}) {
        const std::string text = "Hola, m\xc3\xb3n";
        ASSERT_TRUE(Decipher(method, Encipher(method, text.c_str()), back)) << method;
        EXPECT_EQ(std::string(back.c_str()), text);
    }

    // MD5 signs only; unknown names and the wrong case do nothing.
    DString out = "kept";
    EXPECT_FALSE(Decipher("MD5", "00", out));
    for (const char* method : {"twofish", "TWOFISH", "Nothing", ""}) {
        TCryptITV crypt(method);
        crypt.Carga_Llave(kKey);
        out = "kept";
        crypt.Encripta("text", out);
        EXPECT_STREQ(out.c_str(), "kept");
        EXPECT_FALSE(crypt.Desencripta(Encipher("TwoFish", "text"), out));
        EXPECT_STREQ(out.c_str(), "kept");
        crypt.Firma("text", out);
        EXPECT_STREQ(out.c_str(), "kept");
    }
}

TEST(RandomSources, TextsAndBytes) {
    DString text;
    Rand::RandomText(text, 6);
    ASSERT_EQ(text.Length(), 6);
    EXPECT_EQ(std::string(text.c_str()).find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"),
              std::string::npos);
    Rand::RandomText(text, 0);
    EXPECT_TRUE(text.IsEmpty());
    // 4096 characters use all 32 symbols.
    Rand::RandomText(text, 4096);
    EXPECT_EQ(std::set<char>(text.c_str(), text.c_str() + text.Length()).size(), 32u);
    for (int i = 0; i < 1000; ++i) {
        const int v = Rand::rand();
        ASSERT_GE(v, 0);
    }
}

TEST(RandomSources, ThreadsShareTheSequenceWithoutLosingSteps) {
    // Drawn from four threads at once, the values are exactly those of one thread drawing alone.
    const int kThreads = 4, kEach = 2000;
    Rand::init(12345);
    std::multiset<int> alone;
    for (int i = 0; i < kThreads * kEach; ++i)
        alone.insert(Rand::rand());
    Rand::init(12345);
    std::vector<std::vector<int>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kEach; ++i)
                drawn[t].push_back(Rand::rand());
        });
    for (auto& th : threads)
        th.join();
    std::multiset<int> together;
    for (auto& v : drawn)
        together.insert(v.begin(), v.end());
    EXPECT_EQ(together, alone);
}

TEST(RandomSources, IvsFromManyThreadsAreDistinct) {
    const int kThreads = 4, kEach = 250;
    std::vector<std::vector<std::string>> ivs(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ivs, t] {
            for (int i = 0; i < kEach; ++i) {
                uint8_t iv[16];
                Rand::RandomBytes(iv, 16);
                ivs[t].emplace_back(reinterpret_cast<char*>(iv), 16);
            }
        });
    for (auto& th : threads)
        th.join();
    std::set<std::string> all;
    for (auto& v : ivs)
        all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

} // namespace
