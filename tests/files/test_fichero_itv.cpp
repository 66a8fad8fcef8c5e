// The file class on real files: open modes, byte-order marks and code pages, the ".$$$"
// replacement, backups, readers, value streaming, the bulk copy and the memory file.
#include <gtest/gtest.h>

#include "files/FicheroITV.h"
#include "files/FitxUtils.h"
#include "foundation/Monitor.h"
#include "foundation/StringErr.h"
#include "foundation/Temps.h"
#include "support/TempDir.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Bytes(const DString& s) {
    return std::string(s.c_str());
}

int Modo(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Writes text through the file class with the given mode.
bool Escribe(const std::string& path, int mode, const std::string& text, TStringErr* err = nullptr) {
    TFicheroITV f;
    if (!f.Abre(path.c_str(), mode, err)) return false;
    bool ok = f.PonTokenBin(text.data(), int64_t(text.size()));
    return f.CierraEx(true, err) && ok;
}

// Writes `content` to the file `name` of dir, then opens it with `mode`.
::testing::AssertionResult AbreCon(TFicheroITV& f, const dltest::TempDir& dir, const std::string& name,
                                   const std::string& content, int mode) {
    if (!dir.Write(name, content)) return ::testing::AssertionFailure() << "cannot write " << name;
    if (!f.Abre(dir.Path(name).c_str(), mode)) return ::testing::AssertionFailure() << "cannot open " << name;
    return ::testing::AssertionSuccess();
}

} // namespace

// ---- Byte-order marks ----

struct BomCase {
    int mode;
    bool existing;
    std::string expected; // file content after writing "ab"
};

class BomWrite : public ::testing::TestWithParam<BomCase> {};

TEST_P(BomWrite, MarkOnlyWhenATextFileIsCreatedForWriting) {
    const BomCase& c = GetParam();
    dltest::TempDir dir;
    if (c.existing) {
        ASSERT_TRUE(dir.Write("f.txt", "x"));
    }
    ASSERT_TRUE(Escribe(dir.Path("f.txt"), c.mode, "ab"));
    EXPECT_EQ(dir.Read("f.txt"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, BomWrite,
                         ::testing::Values(BomCase{0xa, false,
                                                   "\xEF\xBB\xBF"
                                                   "ab"},
                                           BomCase{0xa, true,
                                                   "\xEF\xBB\xBF"
                                                   "ab"},
                                           BomCase{0x400a, false, "ab"}, BomCase{0xc, false, "ab"},
                                           BomCase{0xc, true, "xab"},
                                           BomCase{0x10a, true,
                                                   "\xEF\xBB\xBF"
                                                   "ab"},
                                           BomCase{0x12, false, "ab"}));

struct ReadCase {
    std::string content;
    int codepage;
    std::string converted;
    std::string raw;
};

class BomRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BomRead, MarkIsConsumedAndCodePageLearnt) {
    const ReadCase& c = GetParam();
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("f.txt", c.content));
    for (bool convert : {true, false}) {
        TFicheroITV f;
        ASSERT_TRUE(f.Abre(dir.Path("f.txt").c_str(), 9));
        EXPECT_EQ(f.CodePage(), c.codepage);
        DString text;
        f.Lee_Todo_Str(text, convert);
        EXPECT_EQ(Bytes(text), convert ? c.converted : c.raw) << "convert=" << convert;
        f.Cierra();
        EXPECT_EQ(f.CodePage(), -1); // forgotten at close
    }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, BomRead,
    ::testing::Values(ReadCase{"\xEF\xBB\xBF"
                               "hola",
                               65001, "hola", "hola"},
                      ReadCase{"A\xE9", 1, "A\xC3\xA9", "A\xE9"},
                      ReadCase{"\xEF\xBB", 1, "\xC3\xAF\xC2\xBB", "\xEF\xBB"}, ReadCase{"", 1, "", ""},
                      ReadCase{std::string("\xFF\xFE"
                                           "A\0\xE9\0",
                                           6),
                               65000, "A\xC3\xA9", "A"},
                      ReadCase{std::string("\xFE\xFF\0A\0\xE9", 6), 65000, "A\xC3\xA9", ""}));

// ---- Replacement through ".$$$" ----

TEST(Temporal, ExistingFileUntouchedUntilCommit) {
    dltest::TempDir dir;
    std::string f = dir.Path("data.bin");
    ASSERT_TRUE(dir.Write("data.bin", "old"));
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(f.c_str(), 0x112));
        EXPECT_TRUE(w.ViaTemporal());
        ASSERT_TRUE(w.PonTokenBin("new content", 11));
        EXPECT_TRUE(dir.Exists("data.bin.$$$"));
        EXPECT_EQ(dir.Read("data.bin"), "old");
    } // destruction commits
    EXPECT_EQ(dir.Read("data.bin"), "new content");
    EXPECT_FALSE(dir.Exists("data.bin.$$$"));
}

TEST(Temporal, DiscardLeavesTheFileAndNoTemporary) {
    dltest::TempDir dir;
    std::string f = dir.Path("data.bin");
    TFicheroITV w;
    ASSERT_TRUE(AbreCon(w, dir, "data.bin", "old", 0x112));
    ASSERT_TRUE(w.PonTokenBin("new", 3));
    EXPECT_TRUE(w.CierraEx(false));
    EXPECT_EQ(dir.Read("data.bin"), "old");
    EXPECT_FALSE(dir.Exists("data.bin.$$$"));
}

TEST(Temporal, CommitOfNewFileAndExplicitClose) {
    dltest::TempDir dir;
    std::string f = dir.Path("new.txt");
    TStringErr err;
    ASSERT_TRUE(Escribe(f, 0x10a, "text", &err)) << err.c_str();
    EXPECT_EQ(dir.Read("new.txt"), "\xEF\xBB\xBF"
                                   "text");
    EXPECT_FALSE(dir.Exists("new.txt.$$$"));
}

TEST(Temporal, VanishedTemporaryIsReported) {
    dltest::TempDir dir;
    std::string f = dir.Path("data.bin");
    TFicheroITV w;
    ASSERT_TRUE(AbreCon(w, dir, "data.bin", "old", 0x112));
    ASSERT_EQ(unlink((f + ".$$$").c_str()), 0);
    TStringErr err;
    EXPECT_FALSE(w.CierraEx(true, &err));
    EXPECT_STREQ(err.c_str(), "Error TFicheroITV close 1");
    EXPECT_EQ(dir.Read("data.bin"), "old");
    err.Reported();
}

TEST(Temporal, FailedRenameDiscardsTemporaryAndReports) {
    dltest::TempDir dir;
    // A non-empty folder under the name: the rename cannot replace it.
    ASSERT_TRUE(dir.Write("target/inside.txt", "keep"));
    std::string f = dir.Path("target");
    TFicheroITV w;
    ASSERT_TRUE(w.Abre(f.c_str(), 0x112));
    ASSERT_TRUE(w.PonTokenBin("x", 1));
    TStringErr err;
    EXPECT_FALSE(w.CierraEx(true, &err));
    std::string msg = err.c_str();
    EXPECT_EQ(msg.rfind("Error TFicheroITV::CloseEx moving  ex=", 0), 0u) << msg;
    EXPECT_NE(msg.find(" file=" + f + " err0="), std::string::npos) << msg;
    EXPECT_FALSE(dir.Exists("target.$$$"));
    EXPECT_EQ(dir.Read("target/inside.txt"), "keep");
    err.Reported();
}

TEST(Temporal, KeepsThePermissionsOfTheReplacedFile) {
    dltest::TempDir dir;
    std::string f = dir.Path("secret.plist");
    ASSERT_TRUE(dir.Write("secret.plist", "old"));
    ASSERT_EQ(chmod(f.c_str(), 0600), 0);
    TFicheroITV w;
    ASSERT_TRUE(w.Abre(f.c_str(), 0x112));
    EXPECT_EQ(Modo(f + ".$$$"), 0600); // private while it is written, too
    ASSERT_TRUE(w.PonTokenBin("new", 3));
    ASSERT_TRUE(w.Cierra());
    EXPECT_EQ(Modo(f), 0600);
}

TEST(Temporal, PlantedLinkUnderTheTemporaryNameIsNotFollowed) {
    dltest::TempDir dir, outside;
    ASSERT_TRUE(outside.Write("victim.txt", "precious"));
    ASSERT_TRUE(dir.Write("data.bin", "old"));
    std::string f = dir.Path("data.bin");
    ASSERT_EQ(symlink(outside.Path("victim.txt").c_str(), (f + ".$$$").c_str()), 0);
    ASSERT_TRUE(Escribe(f, 0x112, "new"));
    EXPECT_EQ(outside.Read("victim.txt"), "precious");
    EXPECT_EQ(dir.Read("data.bin"), "new");
}

TEST(Temporal, AppendThroughTemporaryStartsFromTheFile) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("log.txt", "one"));
    ASSERT_TRUE(Escribe(dir.Path("log.txt"), 0x114, "two"));
    EXPECT_EQ(dir.Read("log.txt"), "onetwo");
    EXPECT_FALSE(dir.Exists("log.txt.$$$"));
}

TEST(ReadOnly, WriteModesRefusedBeforeTouchingTheFile) {
    dltest::TempDir dir;
    std::string f = dir.Path("ro.txt");
    for (int mode : {0x10a, 0xa, 0x12, 0x14}) {
        ASSERT_TRUE(dir.Write("ro.txt", "keep"));
        ASSERT_EQ(chmod(f.c_str(), 0400), 0);
        TFicheroITV w;
        TStringErr err;
        EXPECT_FALSE(w.Abre(f.c_str(), mode, &err)) << std::hex << mode;
        EXPECT_EQ(Bytes(err), "Error writing " + f + " file. File is ReadOnly");
        EXPECT_EQ(err.GetType(), 4);
        EXPECT_FALSE(dir.Exists("ro.txt.$$$"));
        EXPECT_EQ(dir.Read("ro.txt"), "keep");
        err.Reported();
        ASSERT_EQ(chmod(f.c_str(), 0600), 0);
    }
}

TEST(Open, MissingFileMessages) {
    dltest::TempDir dir;
    std::string f = dir.Path("none/x.txt");
    TFicheroITV r;
    TStringErr err;
    EXPECT_FALSE(r.Abre(f.c_str(), 9, &err));
    EXPECT_EQ(Bytes(err), "Error: " + f + " File not found fopen failed, errno = 2\n");
    EXPECT_FALSE(r.Abierto());
    EXPECT_TRUE(r.eof());
    EXPECT_EQ(r.FileSize64(), 0);
    EXPECT_FALSE(r.Abre(f.c_str(), 0xa, &err));
    EXPECT_EQ(Bytes(err), "Error writing " + f + " file. fopen failed, errno = 2\n");
    err.Reported();
}

TEST(Open, FolderIsNotAFile) {
    dltest::TempDir dir;
    TFicheroITV r;
    EXPECT_FALSE(r.Abre(dir.path().c_str(), 0x11));
}

TEST(Open, SecondOpenFailsAndFirstFileStaysUsable) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("a.bin", "old a"));
    ASSERT_TRUE(dir.Write("b.bin", "old b"));
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(dir.Path("a.bin").c_str(), 0x112));
        TStringErr err("prev.");
        EXPECT_FALSE(w.Abre(dir.Path("b.bin").c_str(), 0x112, &err));
        EXPECT_STREQ(err.c_str(), "prev. file already oppened.");
        err.Reported();
        EXPECT_TRUE(w.Abierto());
        EXPECT_STREQ(w.Nombre().c_str(), dir.Path("a.bin").c_str());
        EXPECT_TRUE(w.PonTokenBin("new a", 5));
    }
    EXPECT_EQ(dir.Read("a.bin"), "new a");
    EXPECT_EQ(dir.Read("b.bin"), "old b");
    EXPECT_FALSE(dir.Exists("b.bin.$$$"));
}

TEST(Open, InvalidModeBitsThrowBeforeAnythingIsTouched) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("x.txt", "keep"));
    for (int mode : {0x3, 0x6, 0x7, 0x8, 0x10, 0x120}) {
        TFicheroITV f;
        try {
            f.Abre(dir.Path("x.txt").c_str(), mode);
            ADD_FAILURE() << "no exception for mode " << mode;
        } catch (const DString& e) {
            EXPECT_STREQ(e.c_str(), "Error en TFicheroITV::Abre");
        }
        EXPECT_EQ(dir.Read("x.txt"), "keep");
        EXPECT_FALSE(dir.Exists("x.txt.$$$"));
        EXPECT_FALSE(dir.Exists("x.bak"));
    }
}

TEST(Open, FileUrlIsTurnedIntoAPath) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("with space.txt", "hi"));
    TFicheroITV f;
    std::string url = "file://" + dir.path() + "/with%20space.txt";
    ASSERT_TRUE(f.Abre(url.c_str(), 0x11));
    EXPECT_STREQ(f.Nombre().c_str(), dir.Path("with space.txt").c_str());
}

TEST(Open, CloseOfAClosedObjectIsHarmless) {
    TFicheroITV f;
    TStringErr err;
    EXPECT_TRUE(f.CierraEx(true, &err));
    EXPECT_TRUE(err.IsEmpty());
}

// ---- Backups ----

TEST(Backup, BothNamingsAndNoSelfCopy) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("gps.ini", "v1"));
    ASSERT_TRUE(Escribe(dir.Path("gps.ini"), 0x22, "v2"));
    EXPECT_EQ(dir.Read("gps.bak"), "v1");
    ASSERT_TRUE(Escribe(dir.Path("gps.ini"), 0x212, "v3"));
    EXPECT_EQ(dir.Read("gps.ini.bak"), "v2");
    // Through a temporary the backup is made at the commit.
    ASSERT_TRUE(Escribe(dir.Path("gps.ini"), 0x132, "v4"));
    EXPECT_EQ(dir.Read("gps.bak"), "v3");
    EXPECT_EQ(dir.Read("gps.ini"), "v4");
    // "x.bak" backed up under its own name would be emptied: skipped.
    ASSERT_TRUE(dir.Write("x.bak", "keep"));
    ASSERT_TRUE(Escribe(dir.Path("x.bak"), 0x32, "next"));
    EXPECT_EQ(dir.Read("x.bak"), "next");
    // Nothing to back up for a new file.
    ASSERT_TRUE(Escribe(dir.Path("new.ini"), 0x222, "n"));
    EXPECT_FALSE(dir.Exists("new.bak"));
    EXPECT_FALSE(dir.Exists("new.ini.bak"));
}

// ---- Readers ----

TEST(LineReader, ConfigurationLinesCommentsAndVoid) {
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "c.ini", "\r\n  ; comment\r\nVOID\r\n key = 1 \t\r\n", 0x4009));
    DString line;
    EXPECT_EQ(f.get_linea(line), 2);
    EXPECT_EQ(Bytes(line), "");
    EXPECT_EQ(f.get_linea(line), 3);
    EXPECT_EQ(Bytes(line), "key = 1");
    f.get_linea(line);
    EXPECT_EQ(Bytes(line), "");
    EXPECT_TRUE(f.eof());
}

struct LinesCase {
    std::string name;
    std::string content;
    int max;
    std::vector<std::string> lines; // get_linea until the file ends
};

class LineReaderTable : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LineReaderTable, Lines) {
    const LinesCase& c = GetParam();
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "f.txt", c.content, 0x4009));
    std::vector<std::string> got;
    DString line;
    for (int i = 0; i < 100 && !f.eof(); i++) {
        f.get_linea(line, c.max);
        if (!line.IsEmpty()) got.push_back(Bytes(line));
    }
    EXPECT_EQ(got, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineReaderTable,
    ::testing::Values(LinesCase{"lf", "a\nb\n", 0, {"a", "b"}}, LinesCase{"nofinal", "a\r\nb", 0, {"a", "b"}},
                      LinesCase{"cr", "a\rb\r", 0, {"a", "b"}},
                      LinesCase{"comment_end", "a ;x\r\n;only\nb;c", 0, {"a", "b"}},
                      LinesCase{"truncated", "abcdefgh\nxy\n", 4, {"abc", "xy"}},
                      LinesCase{"long", std::string(30000, 'q') + "\nz", 0, {std::string(19999, 'q'), "z"}},
                      LinesCase{"latin1", "caf\xE9\n", 0, {"caf\xC3\xA9"}},
                      LinesCase{"utf8bom",
                                "\xEF\xBB\xBF"
                                "caf\xC3\xA9\n",
                                0,
                                {"caf\xC3\xA9"}},
                      LinesCase{"ff_ends",
                                "ab\xFF"
                                "cd\n",
                                0,
                                {"ab", "cd"}}),
    [](const ::testing::TestParamInfo<LinesCase>& i) { return i.param.name; });

TEST(LineReader, CountsLinesAcrossBreakKinds) {
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "f.txt", "a\r\n\nb\r\rc\n", 0x4009));
    DString line;
    EXPECT_EQ(f.get_linea(line), 0);
    EXPECT_EQ(f.get_linea(line), 2);
    EXPECT_EQ(Bytes(line), "b");
    EXPECT_EQ(f.get_linea(line), 4);
    EXPECT_EQ(Bytes(line), "c");
}

struct CrCase {
    std::string name;
    std::string content;
    std::vector<std::string> lines;
};

class LineCrTable : public ::testing::TestWithParam<CrCase> {};

TEST_P(LineCrTable, Lines) {
    const CrCase& c = GetParam();
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "f.txt", c.content, 0x4009));
    std::vector<std::string> got;
    DString line;
    for (int i = 0; i < 100 && f.get_linea_CR(line); i++)
        got.push_back(Bytes(line));
    EXPECT_EQ(got, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineCrTable,
    ::testing::Values(CrCase{"crlf", "one\r\ntwo\r\n", {"one", "two"}},
                      CrCase{"nofinal", "one\r\n two \t", {"one", "two"}}, CrCase{"lf", "a\nb\n", {"a", "b"}},
                      CrCase{"cr", "a\rb", {"a", "b"}}, CrCase{"empty", "", {}},
                      CrCase{"controls",
                             std::string("a\0b\xFF"
                                         "c\n",
                                         6),
                             {"abc"}},
                      CrCase{"long", std::string(100000, 'x') + "\r\ny", {std::string(100000, 'x'), "y"}},
                      CrCase{"latin1", "\xE9t\xE9\r\n", {"\xC3\xA9t\xC3\xA9"}}),
    [](const ::testing::TestParamInfo<CrCase>& i) { return i.param.name; });

TEST(TokenReader, TokensAndSeparators) {
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "t.txt", "  12\tabc\r\n-7,x\n\n", 0x4009));
    f.SetSeparadores(" \t\n,");
    std::vector<std::string> got;
    DString t;
    while (f.get_dato_texto(t))
        got.push_back(Bytes(t));
    EXPECT_EQ(got, (std::vector<std::string>{"12", "abc", "-7", "x"}));
}

TEST(TokenReader, RequiresTextReading) {
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "t.txt", "1 2", 0x11));
    DString t;
    try {
        f.get_dato_texto(t);
        ADD_FAILURE() << "no exception";
    } catch (const DString& e) {
        EXPECT_STREQ(e.c_str(), "Error en get_dato_texto");
    }
}

TEST(PushBack, UngetIsReadFirstAndMovesThePosition) {
    dltest::TempDir dir;
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "t.txt", "xyz", 0x11));
    EXPECT_EQ(f.fgetc(), 'x');
    f.Unget("ab");
    EXPECT_EQ(f.PosActual64(), -1);
    EXPECT_EQ(f.fgetc(), 'a');
    EXPECT_EQ(f.fgetc(), 'b');
    EXPECT_EQ(f.fgetc(), 'y');
    f.Unget('q');
    DString rest;
    f.Lee_Todo_Str(rest, false);
    EXPECT_EQ(Bytes(rest), "qz"); // pushed-back characters come first
}

// ---- Value streaming ----

TEST(Streaming, BinaryRoundTrip) {
    dltest::TempDir dir;
    std::string p = dir.Path("v.bin");
    TTempsUTC t(2020, 3, 25, 14, 7, 9.5f);
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(p.c_str(), 0x12));
        w << 'c' << static_cast<unsigned char>(200) << true << static_cast<short>(-3)
          << static_cast<unsigned short>(65000) << -123456 << 4000000000u << -5000000000L << 9000000000UL
          << 7000000000LL << 1.5f << 2.25 << "hello" << t << TDifTemps(-2.5);
        w << "";
        w.Cierra();
    }
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1 + 1 + 1 + 2 + 2 + 4 + 4 + 8 + 8 + 8 + 4 + 8 + (2 + 5 + 1) + 32 + 8 + 3);

    TFicheroITV r;
    ASSERT_TRUE(r.Abre(p.c_str(), 0x11));
    char c;
    unsigned char uc;
    bool b;
    short s;
    unsigned short us;
    int i;
    unsigned int ui;
    long l;
    unsigned long ul;
    long long ll;
    float fl;
    double d;
    DString str, empty("x");
    TTempsUTC t2;
    TDifTemps dt;
    r >> c >> uc >> b >> s >> us >> i >> ui >> l >> ul >> ll >> fl >> d >> str >> t2 >> dt >> empty;
    EXPECT_EQ(c, 'c');
    EXPECT_EQ(uc, 200);
    EXPECT_TRUE(b);
    EXPECT_EQ(s, -3);
    EXPECT_EQ(us, 65000);
    EXPECT_EQ(i, -123456);
    EXPECT_EQ(ui, 4000000000u);
    EXPECT_EQ(l, -5000000000L);
    EXPECT_EQ(ul, 9000000000UL);
    EXPECT_EQ(ll, 7000000000LL);
    EXPECT_EQ(fl, 1.5f);
    EXPECT_EQ(d, 2.25);
    EXPECT_EQ(Bytes(str), "hello");
    EXPECT_TRUE(t2 == t);
    EXPECT_EQ(dt.segundos, -2.5);
    EXPECT_EQ(Bytes(empty), "");
    EXPECT_EQ(r.PosActual64(), r.FileSize64());
}

TEST(Streaming, TextRoundTripWithSeparator) {
    dltest::TempDir dir;
    std::string p = dir.Path("v.txt");
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(p.c_str(), 0xa));
        w.SetSeparadorToken(' ');
        w << -42 << 1234567890123LL << false << 0.1 << 2.5f << TTempsUTC(2019, 3, 5, 14, 7, 9);
        w.Cierra();
    }
    std::string content = dir.Read("v.txt");
    EXPECT_EQ(content, "\xEF\xBB\xBF"
                       "-42 1234567890123 0 0.10000000000000001 2.5 05-MAR-19 14:07:09 ");
    TFicheroITV r;
    ASSERT_TRUE(r.Abre(p.c_str(), 9));
    int i;
    long long ll;
    bool b = true;
    double d;
    float fl;
    TTempsUTC t;
    r >> i >> ll >> b >> d >> fl >> t;
    EXPECT_EQ(i, -42);
    EXPECT_EQ(ll, 1234567890123LL);
    EXPECT_FALSE(b);
    EXPECT_EQ(d, 0.1);
    EXPECT_EQ(fl, 2.5f);
    EXPECT_TRUE(t == TTempsUTC(2019, 3, 5, 14, 7, 9));
}

TEST(Streaming, ExchangeOperatorFollowsTheMode) {
    dltest::TempDir dir;
    std::string p = dir.Path("x.bin");
    int v = 77;
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(p.c_str(), 0x12));
        w ^ v;
    }
    int back = 0;
    TFicheroITV r;
    ASSERT_TRUE(r.Abre(p.c_str(), 0x11));
    r ^ back;
    EXPECT_EQ(back, 77);
}

TEST(Streaming, DamagedStringLengthYieldsEmpty) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("s.bin", std::string("\xFF\x7F"
                                               "abc",
                                               5)));
    TFicheroITV r;
    ASSERT_TRUE(r.Abre(dir.Path("s.bin").c_str(), 0x11));
    DString s("x");
    r >> s;
    EXPECT_EQ(Bytes(s), "");
}

// ---- Whole files ----

TEST(WholeFile, SaveAndLoadText) {
    dltest::TempDir dir;
    std::string p = dir.Path("doc.json");
    TStringErr err;
    ASSERT_TRUE(TFicheroITV::GuardaTodoAString(p.c_str(), DString("{\"a\":\"\xC3\xA9\"}"), &err));
    EXPECT_EQ(dir.Read("doc.json"), "\xEF\xBB\xBF{\"a\":\"\xC3\xA9\"}");
    EXPECT_FALSE(dir.Exists("doc.json.$$$"));
    DString text;
    ASSERT_TRUE(TFicheroITV::LeeTodoAString(p.c_str(), text, &err));
    EXPECT_EQ(Bytes(text), "{\"a\":\"\xC3\xA9\"}");
    EXPECT_FALSE(TFicheroITV::LeeTodoAString(dir.Path("none").c_str(), text, &err));
    EXPECT_FALSE(err.IsEmpty());
    err.Reported();
}

TEST(WholeFile, BinaryData) {
    dltest::TempDir dir;
    std::string raw("a\0b\xFF", 4);
    TFicheroITV f;
    ASSERT_TRUE(AbreCon(f, dir, "b.bin", raw, 0x11));
    DStringB data;
    EXPECT_EQ(f.Lee_Todo_Str(data), 4);
    EXPECT_EQ(data.LengthB(), 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.Data()), 4), raw);
}

TEST(LargeFile, SizesAndPositionsAreSixtyFourBit) {
    dltest::TempDir dir;
    std::string p = dir.Path("sparse.bin");
    const int64_t size = 5LL << 30;
    int fd = open(p.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, size) != 0) {
        close(fd);
        GTEST_SKIP() << "no sparse 5 GB file on this file system";
    }
    ASSERT_EQ(pwrite(fd, "END", 3, size - 3), 3);
    close(fd);
    TFicheroITV f;
    ASSERT_TRUE(f.Abre(p.c_str(), 0x11));
    EXPECT_EQ(f.FileSize64(), size);
    EXPECT_EQ(f.FileSize(), INT_MAX);
    ASSERT_TRUE(f.Posicionate64(size - 3));
    EXPECT_EQ(f.PosActual64(), size - 3);
    char buf[3];
    ASSERT_TRUE(f.LeeTokenBin(buf, 3));
    EXPECT_EQ(std::string(buf, 3), "END");
    EXPECT_EQ(TFitxUtils::FileSize(p.c_str()), size);
}

// ---- Bulk copy ----

namespace {
std::string Pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++)
        s[i] = char(i * 7 + i / 251);
    return s;
}
} // namespace

TEST(CopyFileData, CopiesFromCurrentPositions) {
    dltest::TempDir dir;
    std::string data = Pattern(300000);
    ASSERT_TRUE(dir.Write("src.bin", data));
    ASSERT_TRUE(dir.Write("dst.bin", "HEAD"));
    TFicheroITV src, dst;
    ASSERT_TRUE(src.Abre(dir.Path("src.bin").c_str(), 0x11));
    ASSERT_TRUE(dst.Abre(dir.Path("dst.bin").c_str(), 0x14));
    ASSERT_TRUE(src.Posicionate64(10));
    TStringErr err;
    TMonitorProc mon;
    ASSERT_TRUE(src.CopyFileData(dst, 200000, err, &mon));
    EXPECT_EQ(mon.npasos.load(), 200000);
    EXPECT_EQ(mon.total.load(), 200000);
    EXPECT_EQ(Bytes(mon.texto.Get()), "  195.31Kb /   195.31Kb ");
    dst.Cierra();
    EXPECT_EQ(dir.Read("dst.bin"), "HEAD" + data.substr(10, 200000));
}

TEST(CopyFileData, NothingToCopyAndClosedFiles) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("src.bin", "abc"));
    TFicheroITV src, dst;
    TStringErr err;
    EXPECT_FALSE(src.CopyFileData(dst, 3, err, nullptr));
    EXPECT_STREQ(err.c_str(), "Error opening files in CopyFileData()");
    ASSERT_TRUE(src.Abre(dir.Path("src.bin").c_str(), 0x11));
    ASSERT_TRUE(dst.Abre(dir.Path("dst.bin").c_str(), 0x12));
    err.Vacia();
    EXPECT_TRUE(src.CopyFileData(dst, 0, err, nullptr));
    EXPECT_TRUE(err.IsEmpty());
    dst.Cierra();
    EXPECT_EQ(dir.Read("dst.bin"), "");
    err.Reported();
}

TEST(CopyFileData, ShortSourceIsAnError) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("src.bin", "abc"));
    TFicheroITV src, dst;
    ASSERT_TRUE(src.Abre(dir.Path("src.bin").c_str(), 0x11));
    ASSERT_TRUE(dst.Abre(dir.Path("dst.bin").c_str(), 0x12));
    TStringErr err;
    EXPECT_FALSE(src.CopyFileData(dst, 10, err, nullptr));
    EXPECT_EQ(Bytes(err), "Error in CopyFileData() Error reading " + dir.Path("src.bin"));
    err.Reported();
}

struct CancelCase {
    size_t size;
    size_t first_block;
};

class CopyCancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CopyCancel, FirstBlockIsCopiedThenTheCopyStops) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("src.bin", Pattern(GetParam().size)));
    TFicheroITV src, dst;
    ASSERT_TRUE(src.Abre(dir.Path("src.bin").c_str(), 0x11));
    ASSERT_TRUE(dst.Abre(dir.Path("dst.bin").c_str(), 0x12));
    TMonitorProc mon;
    mon.Cancelar();
    TStringErr err;
    EXPECT_FALSE(src.CopyFileData(dst, int64_t(GetParam().size), err, &mon));
    EXPECT_STREQ(err.c_str(), "Operation canceled");
    dst.Cierra();
    EXPECT_EQ(dir.Read("dst.bin").size(), GetParam().first_block);
    err.Reported();
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, CopyCancel,
                         ::testing::Values(CancelCase{1000000, 4096}, CancelCase{1000001, 262144},
                                           CancelCase{100, 100}));

// ---- Memory file ----

TEST(MemoryFile, GrowsAndReads) {
    TFicheroITVdatos m(0x12, 10);
    std::string big = Pattern(5000);
    ASSERT_TRUE(m.PonTokenBin(big.data(), int64_t(big.size())));
    EXPECT_EQ(m.Len(), 5000);
    EXPECT_FALSE(m.Abierto());
    EXPECT_STREQ(m.Nombre().c_str(), "TFicheroITVdatos");
    m.Posicionate64(4998);
    char buf[4] = {1, 1, 1, 1};
    int64_t n = 0;
    EXPECT_TRUE(m.LeeTokenBin(buf, 4, nullptr, 0, &n));
    EXPECT_EQ(n, 2);
    EXPECT_FALSE(m.LeeTokenBin(buf, 4, nullptr, 0, &n));
    EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
    EXPECT_FALSE(m.eof());
    EXPECT_EQ(m.fgetc_dir(), 0);
    EXPECT_TRUE(m.eof());
    EXPECT_TRUE(m.Posicionate64(6000)); // beyond the length: stays
    EXPECT_EQ(m.PosActual64(), 5001);
    int64_t len = 0;
    char* p = m.Cierra_Retornando_Ptr(len);
    EXPECT_EQ(len, 5000);
    EXPECT_EQ(std::string(p, 5000), big);
    delete[] p;
    EXPECT_EQ(m.Len(), 0);
}

TEST(MemoryFile, ViewOverCallerDataCannotGrow) {
    const char data[] = "abcdef";
    TFicheroITVdatos m(0x11, data, 6);
    char c2[2];
    ASSERT_TRUE(m.LeeTokenBin(c2, 2));
    EXPECT_EQ(std::string(c2, 2), "ab");
    try {
        m.PonTokenBin("xyz", 3);
        ADD_FAILURE() << "no exception";
    } catch (const DString& e) {
        EXPECT_STREQ(e.c_str(), "Error, en TFicheroITVdatos::ActuLenMax");
    }
    EXPECT_STREQ(data, "abcdef");
}

TEST(MemoryFile, TextStreamingAndAppendFromAnother) {
    TFicheroITVdatos a(0xa);
    a << "key=" << 12;
    TFicheroITVdatos b(0x12);
    b.Lee(a, 0, -1);
    b.Lee(a, 4, 1);
    int64_t len = 0;
    char* p = b.Vacia_Retornando_Ptr(len);
    EXPECT_EQ(std::string(p, size_t(len)), "key=12"
                                           "1");
    EXPECT_EQ(b.Len(), 0);
    TFicheroITVdatos r(0x9, "one two\nthree", 13);
    DString t;
    std::vector<std::string> got;
    while (r.get_dato_texto(t))
        got.push_back(Bytes(t));
    EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three"}));
}

// ---- File systems of higher layers ----

namespace {

// A file system serving "MEM:" names from a map, read and write.
class MemSistema : public TSistemaFitxITV {
public:
    std::string stored;
    int opened_mode = 0;
    class Backend : public TFicheroITV_Base {
    public:
        explicit Backend(MemSistema* s) : s_(s) {}
        bool Abre(const TStringNomFitx&, int& mode, TStringErr*, TMonitorProc*) override {
            s_->opened_mode = mode;
            open_ = true;
            if (mode & 2) s_->stored.clear();
            return true;
        }
        bool Cierra(TStringErr*) override {
            open_ = false;
            return true;
        }
        bool Abierto() override { return open_; }
        bool LeeBytes(void* b, int64_t n, int64_t& count) override {
            count = std::min<int64_t>(n, int64_t(s_->stored.size()) - pos_);
            memcpy(b, s_->stored.data() + pos_, size_t(count));
            pos_ += count;
            return count == n;
        }
        bool GuardaBytes(const void* d, int64_t n) override {
            s_->stored.append(static_cast<const char*>(d), size_t(n));
            return true;
        }
        bool Posicionate64(int64_t p) override {
            pos_ = p;
            return true;
        }
        bool eof() override { return pos_ >= int64_t(s_->stored.size()); }
        int64_t PosActual64() override { return pos_; }
        int64_t FileSize64() override { return int64_t(s_->stored.size()); }

    private:
        MemSistema* s_;
        bool open_ = false;
        int64_t pos_ = 0;
    };
    bool Smell(const TStringNomFitx& name, int) override { return name.StartsWith("MEM:"); }
    TFicheroITV_Base* NuevoBackend(const TStringNomFitx&) override { return new Backend(this); }
};

} // namespace

TEST(Registry, ClaimedNamesGoToTheirFileSystemWithoutTemporary) {
    MemSistema mem;
    TFicheroITV::RegistraSistema(&mem);
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre("MEM:/a.txt", 0x10a));
        EXPECT_FALSE(w.ViaTemporal());
        EXPECT_EQ(mem.opened_mode, 0xa);
        w << "hi";
        EXPECT_TRUE(w.Cierra());
    }
    EXPECT_EQ(mem.stored, "\xEF\xBB\xBF"
                          "hi");
    DString text;
    EXPECT_TRUE(TFicheroITV::LeeTodoAString("MEM:/a.txt", text, nullptr));
    EXPECT_EQ(Bytes(text), "hi");
    TFicheroITV::DesregistraSistema(&mem);
    EXPECT_EQ(TFicheroITV::BuscaSistema("MEM:/a.txt", 1), nullptr);
    TFicheroITV r;
    EXPECT_FALSE(r.Abre("MEM:/a.txt", 9)); // a local path now, and missing
}
