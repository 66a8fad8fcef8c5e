// Entry-name checks and the tar walk over archives built byte by byte in memory.
#include "files/TarWalk.h"
#include "files/ZipNames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- entry names ----

struct NameCase {
    std::string name;
    ENombreEntrada kind;
    std::string clean;
};

TEST(PackedNames, CleansOrRefusesEveryForm) {
    const std::vector<NameCase> cases = {
        {"a.txt", ENombreEntrada::Archivo, "a.txt"},
        {"Maps/x.map", ENombreEntrada::Archivo, "Maps/x.map"},
        {"Maps\\x.map", ENombreEntrada::Archivo, "Maps/x.map"},
        {"./a/./b", ENombreEntrada::Archivo, "a/b"},
        {"Maps/", ENombreEntrada::Carpeta, "Maps"},
        {"README", ENombreEntrada::Archivo, "README"}, // no extension: still a file
        {"./", ENombreEntrada::Vacio, ""},
        {"", ENombreEntrada::Vacio, ""},
        {"././y/x/../../../z", ENombreEntrada::Hostil, ""},
        {"..\\x", ENombreEntrada::Hostil, ""},
        {"../sibling/x", ENombreEntrada::Hostil, ""},
        {"a/..", ENombreEntrada::Hostil, ""},
        {"/abs", ENombreEntrada::Hostil, ""},
        {"\\abs", ENombreEntrada::Hostil, ""},
        {"C:/x", ENombreEntrada::Hostil, ""},
        {"c:x", ENombreEntrada::Hostil, ""},
        {"a/b:c", ENombreEntrada::Hostil, ""},
        {"a//b", ENombreEntrada::Hostil, ""},
        {"a//", ENombreEntrada::Hostil, ""},
        {".", ENombreEntrada::Hostil, ""},
        {std::string("a\0b", 3), ENombreEntrada::Hostil, ""},
        {"..a/b..", ENombreEntrada::Archivo, "..a/b.."}, // dots inside a name are fine
    };
    for (const auto& c : cases) {
        std::string clean = "junk";
        EXPECT_EQ(Limpia_Nombre_Entrada(c.name, clean), c.kind) << c.name;
        if (c.kind != ENombreEntrada::Hostil) {
            EXPECT_EQ(clean, c.clean) << c.name;
        }
    }
}

// ---- tar blocks built by hand ----

std::string Octal(int64_t v, size_t width) { // width - 1 digits and a terminating space
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llo ", static_cast<int>(width - 1), static_cast<long long>(v));
    return std::string(buf, width);
}

struct Header {
    std::string name;
    std::string size_field; // 12 bytes, raw
    char type = '0';
    bool ustar = true;
    std::string prefix;
    bool bad_checksum = false;

    std::string Block() const {
        std::string b(512, '\0');
        b.replace(0, std::min<size_t>(name.size(), 100), name.substr(0, 100));
        b.replace(100, 8, Octal(0644, 8));
        b.replace(124, 12, size_field);
        b.replace(136, 12, Octal(0, 12));
        b[156] = type;
        if (ustar) {
            b.replace(257, 6, std::string("ustar\0", 6));
            b.replace(263, 2, "00");
            b.replace(345, prefix.size(), prefix);
        }
        b.replace(148, 8, std::string(8, ' '));
        unsigned sum = 0;
        for (unsigned char c : b)
            sum += c;
        if (bad_checksum) sum += 1;
        char chk[8];
        std::snprintf(chk, sizeof chk, "%06o", sum);
        b.replace(148, 7, std::string(chk, 6) + '\0');
        return b;
    }
};

std::string Data(const std::string& content) {
    std::string d = content;
    d.resize((content.size() + 511) / 512 * 512, '\0');
    return d;
}

std::string Entry(const std::string& name, const std::string& content, char type = '0') {
    Header h;
    h.name = name;
    h.size_field = Octal(static_cast<int64_t>(content.size()), 12);
    h.type = type;
    return h.Block() + Data(content);
}

const std::string kEnd(1024, '\0');

struct Collect : TTarSink {
    std::vector<std::string> names;
    std::vector<int64_t> sizes;
    std::vector<std::string> contents;
    int stop_after = -1;
    bool Inicio(const TTarEntry& e) override {
        if (stop_after >= 0 && static_cast<int>(names.size()) >= stop_after) return false;
        names.push_back(e.name);
        sizes.push_back(e.size);
        contents.emplace_back();
        return true;
    }
    bool Datos(const char* p, size_t n) override {
        EXPECT_LE(contents.back().size() + n, static_cast<size_t>(sizes.back()));
        contents.back().append(p, n);
        return true;
    }
    bool Fin() override {
        EXPECT_EQ(static_cast<int64_t>(contents.back().size()), sizes.back());
        return true;
    }
};

TTarResult Walk(const std::string& tar, Collect& sink) {
    TTarSourceMem src(tar.data(), tar.size());
    return Recorre_Tar(src, sink);
}

TEST(PackedTarWalk, SizeFieldOf1000FollowedByTwoDataBlocks) {
    Header h;
    h.name = "a.bin";
    h.size_field = std::string("00000001750 ", 12);
    std::string content(1000, 'x');
    content[999] = 'y';
    Collect c;
    ASSERT_EQ(Walk(h.Block() + Data(content) + Entry("b.txt", "hi") + kEnd, c), TTarResult::Ok);
    ASSERT_EQ(c.names, (std::vector<std::string>{"a.bin", "b.txt"}));
    EXPECT_EQ(c.contents[0], content);
    EXPECT_EQ(c.contents[1], "hi");
}

TEST(PackedTarWalk, Base256SizeField) {
    std::string field(12, '\0');
    field[0] = static_cast<char>(0x80);
    field[10] = 0x03; // 0x03e8 = 1000
    field[11] = static_cast<char>(0xe8);
    Header h;
    h.name = "big.bin";
    h.size_field = field;
    Collect c;
    ASSERT_EQ(Walk(h.Block() + Data(std::string(1000, 'z')) + kEnd, c), TTarResult::Ok);
    ASSERT_EQ(c.sizes, (std::vector<int64_t>{1000}));
}

TEST(PackedTarWalk, NumericFields) {
    struct NumCase {
        std::string field;
        bool ok;
        int64_t value;
    };
    std::string b256(12, '\0');
    b256[0] = static_cast<char>(0x80);
    b256[7] = 0x02; // 2^32 * 2 = 8 GiB: beyond the reach of the octal field
    std::string negative(12, static_cast<char>(0xff));
    std::string overflow(12, static_cast<char>(0xff));
    overflow[0] = static_cast<char>(0xbf); // 94 significant bits
    const std::vector<NumCase> cases = {
        {std::string("00000001750 ", 12), true, 1000},
        {std::string("   1750\0\0\0\0\0", 12), true, 1000},
        {std::string("77777777777\0", 12), true, 8589934591LL},
        {std::string(12, '\0'), true, 0},
        {std::string("0000000175x ", 12), false, 0},
        {std::string("00000001790 ", 12), false, 0},
        {b256, true, 8589934592LL},
        {negative, false, 0},
        {overflow, false, 0},
    };
    for (const auto& c : cases) {
        int64_t v = -1;
        bool ok = Tar_Numero(reinterpret_cast<const unsigned char*>(c.field.data()), 12, v);
        EXPECT_EQ(ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST(PackedTarWalk, DataOfEveryEntryTypeIsSkippedBySize) {
    // A folder, a link and a vendor type carrying data: their blocks must not be read as headers.
    std::string fake_header = Entry("evil.txt", "should never appear");
    std::string tar = Entry("d/", fake_header, '5') + Entry("l", fake_header, '2') +
                      Entry("v", fake_header, 'V') + Entry("empty.txt", "") + Entry("real.txt", "ok") + kEnd;
    Collect c;
    ASSERT_EQ(Walk(tar, c), TTarResult::Ok);
    EXPECT_EQ(c.names, (std::vector<std::string>{"real.txt"}));
}

TEST(PackedTarWalk, UstarPrefixGnuLongNameAndPaxPath) {
    Header pre;
    pre.name = "file.txt";
    pre.prefix = "some/deep/folder";
    pre.size_field = Octal(3, 12);
    std::string long_name(180, 'n');
    long_name.replace(90, 1, "/");
    std::string pax_path = "pax/" + std::string(150, 'p') + ".dat";
    std::string record = " path=" + pax_path + "\n";
    size_t len = record.size() + 3; // three digits of length
    record = std::to_string(len) + record;
    ASSERT_EQ(record.size(), len);
    std::string tar = pre.Block() + Data("abc") + Entry("././@LongLink", long_name + '\0', 'L') +
                      Entry("trunc", "long") + Entry("PaxHeader", record, 'x') + Entry("short", "pax") + kEnd;
    Collect c;
    ASSERT_EQ(Walk(tar, c), TTarResult::Ok);
    EXPECT_EQ(c.names, (std::vector<std::string>{"some/deep/folder/file.txt", long_name, pax_path}));
    EXPECT_EQ(c.contents, (std::vector<std::string>{"abc", "long", "pax"}));
}

TEST(PackedTarWalk, PaxSizeOverridesTheHeader) {
    std::string record = "12 size=700\n";
    Header h;
    h.name = "huge";
    h.size_field = Octal(0, 12); // a writer that could not fit the size puts it in the pax record
    std::string tar = Entry("PaxHeader", record, 'x') + h.Block() + Data(std::string(700, 'q')) + kEnd;
    Collect c;
    ASSERT_EQ(Walk(tar, c), TTarResult::Ok);
    EXPECT_EQ(c.sizes, (std::vector<int64_t>{700}));
}

TEST(PackedTarWalk, FailuresAreReadErrors) {
    Header bad;
    bad.name = "a";
    bad.size_field = Octal(1, 12);
    bad.bad_checksum = true;
    std::string bad_pax = Entry("PaxHeader", "99 path=x\n", 'x');
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"no end block", Entry("a.txt", "data")},
        {"cut inside data", Entry("a.txt", std::string(2000, 'd')).substr(0, 1024)},
        {"cut inside a header", Entry("a.txt", "x") + std::string(100, '\0')},
        {"empty input", ""},
        {"bad checksum", bad.Block() + Data("x") + kEnd},
        {"bad pax record", bad_pax + Entry("b", "x") + kEnd},
    };
    for (const auto& c : cases) {
        Collect sink;
        std::string why;
        TTarSourceMem src(c.second.data(), c.second.size());
        EXPECT_EQ(Recorre_Tar(src, sink, &why), TTarResult::Lectura) << c.first;
        EXPECT_FALSE(why.empty()) << c.first;
    }
}

TEST(PackedTarWalk, SinkStopsTheWalk) {
    Collect c;
    c.stop_after = 1;
    EXPECT_EQ(Walk(Entry("a", "1") + Entry("b", "2") + kEnd, c), TTarResult::Parado);
    EXPECT_EQ(c.names.size(), 1u);
}

TEST(PackedTarWalk, NothingAfterTheEndBlockIsRead) {
    Collect c;
    EXPECT_EQ(Walk(Entry("a", "1") + kEnd + "garbage that is not a tar block", c), TTarResult::Ok);
    EXPECT_EQ(c.names.size(), 1u);
}

} // namespace
