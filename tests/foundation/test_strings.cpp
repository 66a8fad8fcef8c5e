#include "foundation/DString.h"
#include "foundation/Vectors.h"

#include "support/Lists.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Bytes(const CDString& d) {
    return std::string(d.c_str());
}

// Switches the process to a comma-decimal locale for one test, if the machine has one.
class CommaLocale {
public:
    CommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        old_ = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"})
            if (std::setlocale(LC_ALL, name)) {
                active_ = true;
                break;
            }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    bool active() const { return active_; }

private:
    std::string old_;
    bool active_ = false;
};

} // namespace

TEST(DStringNull, ReadsAsEmptyEverywhere) {
    const DString n;
    EXPECT_TRUE(n.IsNull());
    EXPECT_STREQ(n.c_str(), "");
    EXPECT_EQ(n.Length(), 0);
    EXPECT_EQ(n[0], 0);
    EXPECT_EQ(n.Ultimo_Caracter(), 0);
    EXPECT_TRUE(n == "");
    EXPECT_EQ(n.Strcmp(DString("")), 0);
    EXPECT_LT(n.Strcmp("a"), 0);
    EXPECT_GT(DString("a").Strcmp(n), 0);
    EXPECT_EQ(n.strchr_inv('a'), -1);
    EXPECT_EQ(n.strchr_inv('\0'), 0);
    EXPECT_EQ(n.strstr("a"), -1);
    EXPECT_TRUE(n.SubString(0, 3).IsNull());
    EXPECT_EQ(n.atoi(), 0);
    EXPECT_TRUE(n.is_numeric());
    EXPECT_EQ(sizeof(DString), sizeof(void*));
}

TEST(DStringNull, EmptyAssignmentKeepsOrSkipsBlock) {
    DString a(""), b(static_cast<const char*>(nullptr));
    EXPECT_TRUE(a.IsNull());
    EXPECT_TRUE(b.IsNull());
    a = "";
    EXPECT_TRUE(a.IsNull());
    a = "hello";
    int cap = a.Capacidad();
    a = "";
    EXPECT_FALSE(a.IsNull());
    EXPECT_EQ(a.Capacidad(), cap);
    EXPECT_EQ(a.Length(), 0);
    a += static_cast<const char*>(nullptr);
    EXPECT_EQ(a.Length(), 0);
}

TEST(DStringGrowth, FollowsTheGrowthRule) {
    DString d;
    d += "a";
    EXPECT_EQ(d.Capacidad(), 1 + 15);  // first block with the grow flag
    d += std::string(14, 'b').c_str(); // 15 bytes: needs 17 > 16
    EXPECT_EQ(d.Length(), 15);
    EXPECT_EQ(d.Capacidad(), (15 + 2) * 3 / 2 + 11);
    DString exact("abc");
    EXPECT_EQ(exact.Capacidad(), 3); // exact size when the length is known
    exact += "d";
    EXPECT_EQ(exact.Capacidad(), (4 + 2) * 3 / 2 + 11);
    // Blocks never shrink.
    exact = "x";
    EXPECT_EQ(exact.Capacidad(), (4 + 2) * 3 / 2 + 11);

    // Many appends keep every byte.
    DString big;
    std::string expected;
    for (int i = 0; i < 5000; i++) {
        big << i << ",";
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(Bytes(big), expected);
}

TEST(DStringGrowth, MutableIndexGrowsWithoutMovingTerminator) {
    DString d;
    d[20] = 'z';
    EXPECT_EQ(d.Length(), 0);
    EXPECT_GE(d.Capacidad(), 21);
    d[0] = 'a';
    d[1] = 'b';
    d[2] = 0;
    EXPECT_EQ(Bytes(d), "ab");
    EXPECT_EQ(d.Buffer()[20], 'z'); // kept through the growth
    try {
        d[-1] = 'x';
        FAIL() << "no exception";
    } catch (const TXErrorDString& e) {
        EXPECT_STREQ(e.what(), "Error DString n<0");
    }
}

TEST(DStringGrowth, SelfAppendAndSelfAssign) {
    DString d("abc");
    d += d;
    EXPECT_EQ(Bytes(d), "abcabc");
    d += d.c_str() + 3;
    EXPECT_EQ(Bytes(d), "abcabcabc");
    d = d.c_str() + 6;
    EXPECT_EQ(Bytes(d), "abc");
    const DString& same = d;
    d = same;
    EXPECT_EQ(Bytes(d), "abc");
    d.Inserta(d.c_str(), 1);
    EXPECT_EQ(Bytes(d), "aabcbc");
}

TEST(DStringHeader, SettingsAreNotCopied) {
    DString a;
    a.SetPrecision_Floats(3);
    EXPECT_FALSE(a.IsNull());
    EXPECT_EQ(a.Precision(), 3);
    EXPECT_EQ(a.Codepage(), 65001);
    a << 2.0;
    EXPECT_EQ(Bytes(a), "2.000");
    DString b(a);
    EXPECT_EQ(b.Precision(), 1);
    DString c;
    c.SetPrecision_Floats(0);
    c = a;
    EXPECT_EQ(c.Precision(), 0);
    c << 1.5; // grows: the header comes along
    EXPECT_EQ(c.Precision(), 0);
    EXPECT_EQ(Bytes(c), "2.0002");
}

TEST(DStringNumbers, AppendTable) {
    struct Case {
        DString text;
        const char* expected;
    };
    Case cases[] = {
        {DString() << -5, "-5"},
        {DString() << static_cast<short>(-32768), "-32768"},
        {DString() << 1234567890123L, "1234567890123"},
        {DString() << true << false, "10"},
        {DString() << -9000000000LL, "-9000000000"},
        {DString() << 18446744073709551615ULL, "-1"}, // read as signed 64-bit
        {DString() << 4294967295U, "4294967295"},
        {DString() << 18446744073709551615UL, "18446744073709551615"},
        {DString() << 'x' << static_cast<unsigned char>('y'), "xy"},
        {DString() << L'ñ' << L"€", "ñ€"},
        {DString("n=") << DString("7"), "n=7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bytes(c.text), c.expected);
}

TEST(DStringNumbers, FloatTable) {
    struct Case {
        double value;
        int precision;
        const char* expected;
    } cases[] = {
        {0.04, 1, "0"},      {1.25, 1, "1.3"}, {-1.96, 1, "-2.0"},  {3.14159, 2, "3.14"},
        {0.5, 0, "1"},       {-0.04, 1, "0"},  {0.0, 1, "0"},       {-0.0, 3, "0"},
        {12.0, 2, "12.00"},  {2.25, 1, "2.3"}, {0.05, 1, "0.1"},    {1.005, 0, "1"},
        {-7.25, 2, "-7.25"}, {0.0004, 3, "0"}, {99.96, 1, "100.0"}, {1e20, 0, "100000000000000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        DString d;
        d.SetPrecision_Floats(c.precision);
        d << c.value;
        EXPECT_EQ(Bytes(d), c.expected);
    }
    // A null target uses precision 1; a float is widened.
    EXPECT_EQ(Bytes(DString() << 2.25f), "2.3");
}

TEST(DStringNumbers, CLocaleWhateverTheUserLocale) {
    CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no de_DE locale on this machine";
    DString d;
    d.Dsprintf("%.2f|%d", 3.5, 1000);
    EXPECT_EQ(Bytes(d), "3.50|1000");
    EXPECT_EQ(Bytes(DString() << 3.5), "3.5");
    EXPECT_DOUBLE_EQ(DString("3.5").atof(), 3.5);
    EXPECT_DOUBLE_EQ(DString("2.5e2").atof(), 250.0);
    EXPECT_DOUBLE_EQ(DString("3,5").atof(true), 3.5);
    DString words("1.5 2");
    double x = 0;
    int n = 0;
    words >> x >> n;
    EXPECT_DOUBLE_EQ(x, 1.5);
    EXPECT_EQ(n, 2);
}

TEST(DStringNumbers, Dsprintf) {
    DString d("old");
    EXPECT_EQ(d.Dsprintf("%s-%05d", "a", 42), 7);
    EXPECT_EQ(Bytes(d), "a-00042");
    std::string big(20000, 'x');
    EXPECT_EQ(d.Dsprintf("%s", big.c_str()), 20000);
    EXPECT_EQ(d.Length(), 9999);
    EXPECT_EQ(d.Dsnprintf("%s", d.c_str() + 9990), 9); // the argument may be the target itself
    EXPECT_EQ(Bytes(d), "xxxxxxxxx");
    EXPECT_EQ(Bytes(d.itoa(-123)), "-123");
    DString e;
    e = 77;
    EXPECT_EQ(Bytes(e), "77");
}

TEST(DStringParse, IntegersAndFloats) {
    struct IntCase {
        const char* text;
        int atoi;
    } ints[] = {{"", 0},
                {"0x1A", 26},
                {"0X1f", 31},
                {"42abc", 42},
                {"-7", -7},
                {"  12", 12},
                {"99999999999", 2147483647},
                {"abc", 0}};
    for (const auto& c : ints)
        EXPECT_EQ(DString(c.text).atoi(), c.atoi) << c.text;
    EXPECT_EQ(DString("9000000000").atoi64(), 9000000000LL);
    EXPECT_EQ(DString("0xff").ahextoi(), 255);
    EXPECT_EQ(DString("FfG").ahextoi(), 255);

    struct FloatCase {
        const char* text;
        bool comma, percent;
        double value;
    } floats[] = {{"3.5", false, false, 3.5},     {"3,5", true, false, 3.5}, {"3,5", false, false, 3.0},
                  {"50%", false, true, 0.5},      {"50%", false, false, 50}, {"1e3", false, false, 1000},
                  {"-2.25", false, false, -2.25}, {" \t7", false, false, 7}, {"", false, false, 0}};
    for (const auto& c : floats)
        EXPECT_DOUBLE_EQ(DString(c.text).atof(c.comma, c.percent), c.value) << c.text;

    EXPECT_TRUE(DString("0123").is_numeric());
    EXPECT_FALSE(DString("12a").is_numeric());
    EXPECT_TRUE(DString("aF09").ishex());
    EXPECT_FALSE(DString("aG").ishex());
    EXPECT_TRUE(DString("ab12").is_alphanumeric());
    EXPECT_FALSE(DString("ab_12").is_alphanumeric());
    EXPECT_EQ(DString("a,b,,c").Cuenta_Caracter(','), 3);
}

TEST(DStringParse, ExtractionTakesLeadingWords) {
    DString s("12 3.5 1 0 rest of it");
    int i = 0;
    double d = 0;
    bool b1 = false, b2 = true;
    s >> i >> d >> b1 >> b2;
    EXPECT_EQ(i, 12);
    EXPECT_DOUBLE_EQ(d, 3.5);
    EXPECT_TRUE(b1);
    EXPECT_FALSE(b2);
    EXPECT_EQ(Bytes(s), "rest of it");
    DString empty;
    empty >> i;
    EXPECT_EQ(i, 0);
}

TEST(DStringCompare, CaseInsensitiveOverUnicode) {
    EXPECT_EQ(DString("ÑANDÚ").Strcmpi("ñandú"), 0);
    EXPECT_EQ(Dstrcmpi("Σοφία", "ΣΟΦΊΑ"), 0);
    EXPECT_NE(Dstrcmpi("", "a"), 0);
    EXPECT_NE(Dstrcmpi("a", nullptr), 0);
    EXPECT_EQ(Dstrcmpi(nullptr, ""), 0);
    EXPECT_EQ(Dstrncmpi("HELLO world", "hello"), 0);
    EXPECT_NE(Dstrncmpi("HELP", "hello"), 0);
    EXPECT_EQ(Dstrncmpi("abX", "ABY", 2), 0);
    EXPECT_EQ(DString("Ñu").CompareNoCase(L"ñU"), 0);
    EXPECT_TRUE(DString("Hello").StartsWith("hel", false));
    EXPECT_FALSE(DString("Hello").StartsWith("hel"));
    EXPECT_TRUE(DString("file.ZIP").EndsWith(".ZIP"));
    EXPECT_FALSE(DString("file.ZIP").EndsWith(".zip"));
    EXPECT_FALSE(DString("ip").EndsWith("zip"));
    EXPECT_TRUE(DString("Mapa de España").Contains("ESPAÑA", false));
    EXPECT_FALSE(DString("Mapa de España").Contains("ESPAÑA"));
    EXPECT_TRUE(DString("b") > DString("a"));
    EXPECT_TRUE(DString("") < DString("a"));
}

TEST(DStringSearch, PositionsAndBounds) {
    DString s("abcabc");
    EXPECT_EQ(s.strchr(0, 'c'), 2);
    EXPECT_EQ(s.strchr(3, 'c'), 5);
    EXPECT_EQ(s.strchr(6, 'c'), -1);
    EXPECT_EQ(s.strchr(99, 'c'), -1);
    EXPECT_EQ(s.strchr(-5, 'a'), 0);
    EXPECT_EQ(s.strchr_inv('a'), 3);
    EXPECT_EQ(s.strchr_inv(2, 'a'), 0);
    EXPECT_EQ(s.strchr_inv(100, 'c'), 5);
    EXPECT_EQ(s.strchr_inv('z'), -1);
    EXPECT_EQ(s.strchrs("xc"), 2);
    EXPECT_EQ(s.strchrs_inv("ab"), 4);
    EXPECT_EQ(s.strstr("ca"), 2);
    EXPECT_EQ(s.strstr("bc", 2), 4);
    EXPECT_EQ(s.strstr("bc", 7), -1);
    EXPECT_EQ(s.strstr_inv("bc"), 4);
    EXPECT_EQ(s.strstr_inv("abcabcabc"), -1);
    EXPECT_EQ(s.strstri("CAB"), 2);
    for (const char* pat : {"a", "abc", "cab", "bca", "x", "abcabc", "abcabcd", "c"})
        EXPECT_EQ(s.search(pat), s.strstr(pat)) << pat;
    DString hay("here is a needle in a haystack with needles");
    EXPECT_EQ(hay.search("needles"), hay.strstr("needles"));
}

TEST(DStringSearch, StrstrposFlags) {
    DString words("cat concat cat_x cat.");
    EXPECT_EQ(words.strstrpos("cat", 1), 7);
    EXPECT_EQ(words.strstrpos("cat", 1, true), 17);
    EXPECT_EQ(words.strstrpos("CAT", 0, true, true), 0);
    // Positions stay byte positions of this text even when the mapping changes byte lengths.
    DString song("Canción del MAR");
    EXPECT_EQ(song.strstrpos("cancion", 0, false, true, true), 0);
    EXPECT_EQ(song.strstrpos("mar", 0, true, true, true), 13);
    EXPECT_EQ(song.strstrpos("del", 0, true, false, true), 9);
    EXPECT_EQ(song.strstrpos("ción", 0, false, false, true), 3);
    EXPECT_EQ(DString("ıX").strstrpos("x", 0, false, true), 2);
    EXPECT_EQ(song.strstrpos("mar", 14, false, true), -1);
}

TEST(DStringPieces, SubStringMidTable) {
    DString s("abcdef");
    struct Case {
        int from, to;
        const char* expected;
        bool null;
    } cases[] = {{3, 2, "", false}, {4, 100, "ef", false}, {0, 6, "abcdef", false}, {-1, 3, "", false},
                 {7, 9, "", false}, {2, 2, "", false},     {0, 1, "a", false}};
    for (const auto& c : cases) {
        DString r = s.SubString(c.from, c.to);
        EXPECT_EQ(Bytes(r), c.expected) << c.from << "," << c.to;
        EXPECT_EQ(r.IsNull(), c.null) << c.from << "," << c.to;
    }
    EXPECT_EQ(Bytes(s.SubString(2)), "cdef");
    EXPECT_EQ(Bytes(s.Mid(1, 3)), "bcd");
    EXPECT_EQ(Bytes(s.Mid(4, 10)), "ef"); // never reads past the end
    EXPECT_EQ(Bytes(s.Mid(10, 2)), "");
    EXPECT_EQ(Bytes(s.Mid2(1, 3)), "bcd");
    EXPECT_EQ(Bytes(s.Mid2(2)), "cdef");
    EXPECT_TRUE(s.Mid2(3, 1).IsNull());
    EXPECT_EQ(Bytes(s.Mid2(3, 100)), "def");
}

TEST(DStringSplit, SeparaEnPalabrasTable) {
    struct Case {
        const char* text;
        const char* seps;
        int max;
        bool keep_empty, quotes;
        std::vector<std::string> expected;
    } cases[] = {
        {"a,,b", ",", -1, false, false, {"a", "b"}},
        {"a,,b", ",", -1, true, false, {"a", "", "b"}},
        {",a", ",", -1, true, false, {"", "a"}},
        {"a,", ",", -1, true, false, {"a"}},
        {"x \"y z\" w", " ", -1, false, true, {"x", "\"y z\"", "w"}},
        {"x \"y z\" w", " ", -1, false, false, {"x", "\"y", "z\"", "w"}},
        {"a b c", " ", 2, false, false, {"a", "b c"}},
        {"a b c d", " ", 1, false, false, {"a b c d"}},
        {"a b c d", " ", 3, false, false, {"a", "b", "c d"}},
        {"a  b c", " ", 2, false, false, {"a", "b c"}},
        {"a;b c", "; ", -1, false, false, {"a", "b", "c"}},
        {"abc", ",", -1, false, false, {"abc"}},
        {"", ",", -1, true, false, {}},
        {"abc", ",", 0, false, false, {"abc"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        VectorS<DString> out;
        out.Anyade(DString("stale"));
        DString(c.text).Separa_En_Palabras(c.seps, out, c.max, c.keep_empty, c.quotes);
        EXPECT_EQ(dltest::Strings(out), c.expected);

        // The in-place splitter follows the same rules.
        DString text(c.text);
        TPalabrasStr words(text, c.seps, c.max, c.keep_empty, c.quotes);
        std::vector<std::string> got;
        for (int i = 0; i < words.Numero(); i++)
            got.emplace_back(words[i]);
        EXPECT_EQ(got, c.expected);
    }
    VectorS<DString> out;
    DString(" a , \"b c\" ,d ").Separa_En_Palabras_SinEspacios(",", out);
    EXPECT_EQ(dltest::Strings(out), (std::vector<std::string>{"a", "\"b c\"", "d"}));
}

TEST(DStringSplit, PalabrasStrBeyondItsInlineTable) {
    std::string text;
    for (int i = 0; i < 120; i++)
        text += "w" + std::to_string(i) + " ";
    DString d(text.c_str());
    TPalabrasStr words(d, " ");
    ASSERT_EQ(words.Numero(), 120);
    EXPECT_STREQ(words[0], "w0");
    EXPECT_STREQ(words[119], "w119");
    EXPECT_STREQ(words[120], "");
    EXPECT_STREQ(words[-1], "");
}

TEST(DStringSplit, TwoPartsAndParams) {
    DString l("L"), r("R");
    EXPECT_FALSE(DString("ab").Separa_en_Dos_Por(l, r, 'a'));
    EXPECT_FALSE(DString("abcd").Separa_en_Dos_Por(l, r, '='));
    EXPECT_EQ(Bytes(l), "L");
    EXPECT_EQ(Bytes(r), "R");
    EXPECT_TRUE(DString("key=value=x").Separa_Por_Asignacion(l, r));
    EXPECT_EQ(Bytes(l), "key");
    EXPECT_EQ(Bytes(r), "value=x");
    DString self("a:b");
    EXPECT_TRUE(self.Separa_en_Dos_Por(self, r, ':'));
    EXPECT_EQ(Bytes(self), "a");
    EXPECT_EQ(Bytes(r), "b");

    DString req("quillinstallwizard:u=1&p=2 extra");
    EXPECT_EQ(Bytes(req.GetParam("u=", "&")), "1");
    EXPECT_EQ(Bytes(req.GetParam("p=", "&")), "2 extra");
    EXPECT_EQ(Bytes(req.GetParam("p=")), "2");
    EXPECT_EQ(Bytes(req.GetParam("zz=")), "");
}

TEST(DStringEdit, InsertRemoveSkip) {
    DString d("abcdef");
    d.Inserta("XY", 6);
    EXPECT_EQ(Bytes(d), "abcdefXY");
    d.Inserta("Q", 99);
    d.Inserta("Q", -1);
    EXPECT_EQ(Bytes(d), "abcdefXY");
    d.Elimina(6, 100);
    EXPECT_EQ(Bytes(d), "abcdef");
    d.Elimina(1, 2);
    EXPECT_EQ(Bytes(d), "adef");
    d.Elimina(10, 1);
    d.Elimina(-1, 1);
    EXPECT_EQ(Bytes(d), "adef");
    d.strncpy("hello", 3);
    EXPECT_EQ(Bytes(d), "hel");
    d.strncpy("hi", 10);
    EXPECT_EQ(Bytes(d), "hi");
    d = "abcdef";
    d.SkipFirsts(2);
    d.SkipLasts(1);
    EXPECT_EQ(Bytes(d), "cde");
    d.SkipLasts(10);
    EXPECT_EQ(Bytes(d), "");
    d = "Prefix-body.txt";
    EXPECT_TRUE(d.SkipStartsWith("prefix-", false));
    EXPECT_FALSE(d.SkipEndsWith(".TXT"));
    EXPECT_TRUE(d.SkipEndsWith(".txt"));
    EXPECT_EQ(Bytes(d), "body");
    d.Elimina_Ultimo();
    EXPECT_EQ(Bytes(d), "bod");
    d = "name;rest";
    EXPECT_EQ(d.Caracter_Final(';'), 4);
    EXPECT_EQ(Bytes(d), "name");
    EXPECT_EQ(d.Caracter_Final(';'), -1);
    d = "a-b_c-d";
    d.Elimina_Caracter_Todos('-');
    EXPECT_EQ(Bytes(d), "ab_cd");
    d.Elimina_Caracteres_Todos("_d");
    EXPECT_EQ(Bytes(d), "abc");
    d.rellena('*', 4);
    EXPECT_EQ(Bytes(d), "****");
    d = "abcde";
    d.Padding('.', 4);
    EXPECT_EQ(Bytes(d), "abcde..");
    d.Padding('.', 4);
    EXPECT_EQ(d.Length(), 7);
}

TEST(DStringEdit, SustituyeTable) {
    struct Case {
        const char* text;
        const char* from;
        const char* to;
        bool whole;
        const char* expected;
        int count;
    } cases[] = {
        {"aaa", "a", "aa", false, "aaaaaa", 3},
        {"cat concat", "cat", "dog", false, "dog condog", 2},
        {"cat concat", "cat", "dog", true, "dog concat", 1},
        {"abc", "", "x", false, "abc", 0},
        {"abc", "b", "b", false, "abc", 0},
        {"abcb", "b", "", false, "ac", 2},
        {"aaaa", "aa", "b", false, "bb", 2},
        {"x", "x", "", false, "", 1},
    };
    for (const auto& c : cases) {
        DString d(c.text);
        EXPECT_EQ(d.Sustituye(c.from, c.to, c.whole), c.count) << c.text;
        EXPECT_EQ(Bytes(d), c.expected) << c.text;
    }
    DString d("a.b.c.d");
    EXPECT_EQ(d.Sustituye('.', '/', 2), 2);
    EXPECT_EQ(Bytes(d), "a.b/c/d");
    EXPECT_EQ(d.Sustituye('/', '/'), 0);
}

TEST(DStringEdit, TrimAndQuotes) {
    struct Case {
        void (DString::*op)();
        const char* text;
        const char* expected;
    } cases[] = {
        {&DString::Saca_Espacios_AntesDespues, "  a b  ", "a b"},
        {&DString::Saca_Espacios_AntesDespues, "\t a \t", "\t a \t"},
        {&DString::Saca_Espacios_AntesDespues, "    ", ""},
        {&DString::Saca_EspaciosTabs_AntesDespues, "\t a \t", "a"},
        {&DString::Saca_Returns_AntesDespues, "\r\nline\n\r", "line"},
        {&DString::TrimLeft, " \t x ", "x "},
        {&DString::Saca_Espacios_Duplicados, "a   b  c ", "a b c "},
        {&DString::Saca_Returns, "a\r\nb\rc\nd", "a b c d"},
    };
    for (const auto& c : cases) {
        DString d(c.text);
        (d.*c.op)();
        EXPECT_EQ(Bytes(d), c.expected) << c.text;
    }
    struct QuoteCase {
        const char* text;
        char quote;
        const char* put;
        const char* taken;
    } quotes[] = {
        {"ab", 0, "\"ab\"", "ab"},
        {"a", 0, "a", "a"},
        {"\"ab", 0, "\"ab", "\"ab"},
        {"'x'", '\'', "'x'", "x"},
        {"  \"q\"  ", '"', "\"  \"q\"  \"", "q"},
    };
    for (const auto& q : quotes) {
        DString put(q.text), taken(q.text);
        put.Pon_Comillas(q.quote);
        taken.Saca_Comillas(q.quote ? q.quote : '"');
        EXPECT_EQ(Bytes(put), q.put) << q.text;
        EXPECT_EQ(Bytes(taken), q.taken) << q.text;
    }
}

TEST(DStringCase, UnicodeSimpleMappings) {
    struct Case {
        const char* text;
        const char* upper;
        const char* lower;
    } cases[] = {
        {"ñandú", "ÑANDÚ", "ñandú"},
        {"Straße", "STRAßE", "straße"}, // no simple upper-case for ß
        {"ıſ", "IS", "ıſ"},             // dotless i and long s
        {"αβγ ς Ω", "ΑΒΓ Σ Ω", "αβγ ς ω"},
        {"ΣΑΣ", "ΣΑΣ", "σασ"},
        {"Ǆ x", "Ǆ X", "ǆ x"},
        {"a\xff"
         "b",
         "A\xff"
         "B",
         "a\xff"
         "b"}, // bytes that are not UTF-8 pass through
        {"", "", ""},
    };
    for (const auto& c : cases) {
        DString up(c.text), low(c.text);
        up.A_Mayusculas();
        low.A_Minusculas();
        EXPECT_EQ(Bytes(up), c.upper) << c.text;
        EXPECT_EQ(Bytes(low), c.lower) << c.text;
    }
    DString d("MAC");
    d.A_Minusculas(false);
    EXPECT_EQ(Bytes(d), "Mac");
    d = "ÑANDÚ";
    d.A_Minusculas(false);
    EXPECT_EQ(Bytes(d), "Ñandú");
    d = "İx"; // U+0130 lowers to a 1-byte i
    d.A_Minusculas();
    EXPECT_EQ(Bytes(d), "ix");
    d = "élan vital";
    d.Primera_Letra_Mayusculas();
    EXPECT_EQ(Bytes(d), "Élan vital");
    d = "  3 ñus";
    d.Primera_Letra_Mayusculas();
    EXPECT_EQ(Bytes(d), "  3 Ñus");
    d = "mapa de españa-norte";
    d.ProperCase();
    EXPECT_EQ(Bytes(d), "Mapa De España-Norte");
}

TEST(DStringEncode, UrlTable) {
    struct Case {
        const char* text;
        bool general, sub;
        const char* expected;
    } cases[] = {
        {"a b/c?d=é", false, false, "a%20b/c?d=é"},
        {"#:?@[]", true, false, "%23%3A%3F%40%5B%5D"},
        {"#:?@[]", false, false, "#:?@[]"},
        {"!$&'()*+,;=", false, true, "%21%24%26%27%28%29%2A%2B%2C%3B%3D"},
        {"\x01\"%<>\\^`{|}", false, false, "%01%22%25%3C%3E%5C%5E%60%7B%7C%7D"},
        {"-._~AZaz09", true, true, "-._~AZaz09"},
    };
    for (const auto& c : cases) {
        DString d(c.text);
        d.Codifica_String_url(c.general, c.sub);
        EXPECT_EQ(Bytes(d), c.expected) << c.text;
    }
    DString light("http://h/é x?a=b&c");
    light.URLEncode();
    EXPECT_EQ(Bytes(light), "http://h/%C3%A9%20x?a=b&c");
    light = "a=b&c";
    light.URLEncode("&=");
    EXPECT_EQ(Bytes(light), "a%3Db%26c");

    struct Dec {
        const char* text;
        const char* expected;
    } decodes[] = {{"100%", "100%"}, {"a+b%2Fc", "a b/c"}, {"%zz", "%zz"},   {"%4", "%4"},
                   {"%41%61", "Aa"}, {"%C3%a9", "é"},      {"%00x", "%00x"}, {"", ""}};
    for (const auto& c : decodes) {
        DString d(c.text);
        d.URLDecode();
        EXPECT_EQ(Bytes(d), c.expected) << c.text;
    }
    // Round trip through the full encoding.
    DString all;
    for (int b = 1; b < 256; b++)
        all << static_cast<char>(b);
    DString enc(all);
    enc.Codifica_String_url(true, true);
    enc.Sustituye("+", "%2B");
    enc.URLDecode();
    EXPECT_EQ(Bytes(enc), Bytes(all));
}

TEST(DStringEncode, HexAndGroups) {
    DString d("AB\x01\xff");
    d.PasaHex();
    EXPECT_EQ(Bytes(d), "414201FF");
    d = "abcd";
    d.PasaHex(2);
    EXPECT_EQ(Bytes(d), "6162cd");
    EXPECT_EQ(Bytes(DString("\x7f").PasaHexL()), "7F");

    struct Case {
        const char* text;
        bool ok;
        std::string bytes;
    } cases[] = {{"ABC", false, "ABC"},
                 {"00ff", true, std::string("\x00\xff", 2)},
                 {"zz", false, "zz"},
                 {"4a4B", true, "JK"},
                 {"", true, ""}};
    for (const auto& c : cases) {
        DString h(c.text);
        int count = -1;
        EXPECT_EQ(h.SacaHex(count), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(count, static_cast<int>(c.bytes.size()));
            EXPECT_EQ(std::string(h.c_str(), static_cast<size_t>(count)), c.bytes);
        } else {
            EXPECT_EQ(Bytes(h), c.bytes);
            EXPECT_EQ(count, -1);
        }
    }

    struct Group {
        const char* text;
        const char* expected;
    } groups[] = {{"1234567", "1,234,567"},
                  {"123", "123"},
                  {"1234", "1,234"},
                  {"123456", "123,456"},
                  {"-1234567", "-1,234,567"},
                  {"1234.5678", "1,234.5678"},
                  {"", ""}};
    for (const auto& g : groups) {
        DString t(g.text);
        t.InsertGroupSeparators(',', 3);
        EXPECT_EQ(Bytes(t), g.expected) << g.text;
    }
}

TEST(DStringB, BinaryWithZeroBytes) {
    DStringB b;
    const unsigned char raw[] = {0x01, 0x00, 0x02};
    b.AddBinToken(raw, 3);
    uint16_t word = 0x1234;
    b.AddBinToken(&word, 2, true); // byte-swapped
    ASSERT_EQ(b.LengthB(), 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), 5),
              std::string("\x01\x00\x02\x12\x34", 5));
    EXPECT_EQ(b.Checksum(), 0x01 ^ 0x02 ^ 0x12 ^ 0x34);
    EXPECT_EQ(DStringB().Checksum(), 0);
    b.AddChecksum();
    EXPECT_EQ(b.LengthB(), 6);
    EXPECT_EQ(b.Checksum(), 0);

    DStringB copy(b);
    ASSERT_EQ(copy.LengthB(), 6);
    EXPECT_EQ(std::memcmp(copy.Data(), b.Data(), 6), 0);
    DStringB assigned;
    assigned = b;
    EXPECT_EQ(std::memcmp(assigned.Data(), b.Data(), 6), 0);

    copy.CodificaHex();
    EXPECT_EQ(Bytes(copy), "010002123425");
    ASSERT_TRUE(copy.DecodificaHex());
    EXPECT_EQ(copy.LengthB(), 6);
    EXPECT_EQ(std::memcmp(copy.Data(), b.Data(), 6), 0);
    DStringB bad;
    bad = DStringB("xyz", 3);
    EXPECT_FALSE(bad.DecodificaHex());
}

TEST(DUString, WideConversions) {
    DUString w("ñ€😀");
    EXPECT_EQ(w.Length(), 3); // one 32-bit wide character per code point
    EXPECT_EQ(w.c_str()[2], static_cast<wchar_t>(0x1F600));
    EXPECT_GE(w.Capacidad(), static_cast<int>(std::strlen("ñ€😀")) + 20);
    EXPECT_EQ(Bytes(w.ToDString()), "ñ€😀");
    EXPECT_EQ(Bytes(DString(L"ñ€")), "ñ€");
    DUString bad("a\xff"
                 "b");
    EXPECT_EQ(std::wstring(bad.c_str()), std::wstring(L"a\xFFFD"
                                                      L"b"));
    const wchar_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(Bytes(DString(pair)), "😀");
    const wchar_t lone[] = {L'a', 0xD83D, L'b', 0};
    EXPECT_EQ(Bytes(DString(lone)), "a?b");
    EXPECT_TRUE(DString(L"").IsNull());
    DUString fromWide(L"abc");
    EXPECT_EQ(fromWide.Capacidad(), 3 + 11);
    DUString copy = fromWide;
    EXPECT_EQ(std::wstring(copy.c_str()), L"abc");
    EXPECT_EQ(DString(L"x").Strcmp("x"), 0);
}
