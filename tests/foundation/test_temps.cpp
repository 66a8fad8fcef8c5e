#include "foundation/Temps.h"

#include "foundation/Threads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace {

std::string S(const DString& d) {
    return d.c_str();
}

struct Fields {
    int year, month, day, hour, minute;
    float seconds;
};

void ExpectFields(const TTemps& t, const Fields& f, const std::string& what) {
    EXPECT_EQ(t.anyo, f.year) << what;
    EXPECT_EQ(t.mes, f.month) << what;
    EXPECT_EQ(t.dia, f.day) << what;
    EXPECT_EQ(t.hora, f.hour) << what;
    EXPECT_EQ(t.minuto, f.minute) << what;
    EXPECT_FLOAT_EQ(t.segundos, f.seconds) << what;
}

TEST(Temps, ConstructorTakesTwoDigitYears) {
    struct Case {
        int in, out;
    } cases[] = {{50, 1950}, {49, 2049}, {0, 2000}, {99, 1999}, {100, 100}, {2020, 2020}, {-3, -3}};
    for (const Case& c : cases)
        EXPECT_EQ(TTemps(c.in, 1, 1).anyo, c.out) << c.in;
}

TEST(Temps, NullTime) {
    TTemps t;
    EXPECT_TRUE(t.Es_NULL());
    t.segundos = 0.0005f;
    EXPECT_TRUE(t.Es_NULL());
    t.segundos = 0.002f;
    EXPECT_FALSE(t.Es_NULL());
    EXPECT_FALSE(TTemps(2020, 1, 1).Es_NULL());
    EXPECT_DOUBLE_EQ(TTemps().Segs1970(), 0.0);
}

TEST(Temps, TextForms) {
    TTemps t(2020, 3, 25, 14, 7, 9.25f);
    TTemps u(2019, 3, 5, 14, 7, 9);
    TTemps null;
    DString o;
    EXPECT_EQ(S(t.A_str_aaaa_mm_dd(o)), "2020-03-25");
    EXPECT_EQ(S(t.A_str_aaaa_mm_dd_hora(o)), "2020-03-25 14:07:09");
    EXPECT_EQ(S(t.A_str_aaaa_mm_dd_hora(o, false)), "2020-03-25 14:07");
    EXPECT_EQ(S(t.A_str_aaaa_mm_dd_hora(o, true, '.')), "2020-03-25 14.07.09");
    EXPECT_EQ(S(u.A_str_dd_mm_aaaa(o)), "05-03-2019");
    EXPECT_EQ(S(u.A_str_dd_mm_aaaa_hora(o)), "05-03-2019   14:07:09");
    EXPECT_EQ(S(u.A_str_dd_mmm_aa(o)), "05-MAR-19");
    EXPECT_EQ(S(u.A_str_dd_mmm_aa__hora(o)), "05-MAR-19 14:07:09");
    EXPECT_EQ(S(null.A_str_dd_mm_aaaa_hora(o)), "00-00-0   00:00:00");
    EXPECT_EQ(S(null.A_str_dd_mmm_aa(o)), "00-NUL-00");
    TTemps odd = u;
    odd.mes = 13;
    EXPECT_EQ(S(odd.A_str_dd_mmm_aa(o)), "05-XX1-19");
    odd.mes = 15; // past the name table
    EXPECT_EQ(S(odd.A_str_dd_mmm_aa(o)), "05-\?\?\?-19");
    odd.mes = -1;
    EXPECT_EQ(S(odd.A_str_dd_mmm_aa(o)), "05-\?\?\?-19");
}

TEST(Temps, HourTextParts) {
    TTemps t(2020, 3, 25, 14, 7, 9.25f);
    struct Case {
        bool h, m, s, ms, sep;
        const char* expected;
    } cases[] = {
        {true, true, true, false, true, "14:07:09"}, {true, true, false, false, true, "14:07"},
        {false, false, true, false, true, "09"},     {true, true, true, true, true, "14:07:09.250"},
        {true, true, true, false, false, "140709"},  {true, false, true, false, true, "14:09"},
        {true, false, false, false, true, "14"},     {false, true, true, true, false, "0709.250"},
        {false, false, false, true, true, ""},
    };
    DString o = "old";
    for (const Case& c : cases)
        EXPECT_EQ(S(t.A_str_Hora(o, c.h, c.m, c.s, c.ms, c.sep)), c.expected)
            << c.h << c.m << c.s << c.ms << c.sep;
    TTemps v(2020, 1, 1, 0, 0, 59.999f);
    EXPECT_EQ(S(v.A_str_Hora(o, true, true, true, true)), "00:00:59.999");
}

enum Reader { kAaaammdd, kAaaammddhhmmss, kMmmAa, kHora, kMmmHora };

bool Read(TTemps& t, Reader r, const CDString& text) {
    switch (r) {
    case kAaaammdd:
        return t.Lee_Fecha_aaaammdd(text);
    case kAaaammddhhmmss:
        return t.Lee_Fecha_aaaammddhhmmss(text);
    case kMmmAa:
        return t.Lee_Fecha_mmm_aa(text);
    case kHora:
        return t.Lee_Hora(text);
    case kMmmHora:
        return t.Lee_Fecha_mmm_Hora(text);
    }
    return false;
}

TEST(Temps, ReadersAcceptWellFormedText) {
    struct Case {
        Reader r;
        const char* text;
        Fields f;
    } cases[] = {
        {kAaaammdd, "20200325", {2020, 3, 25, 0, 0, 0}},
        {kAaaammdd, "00200325", {2020, 3, 25, 0, 0, 0}},
        {kAaaammdd, "00700325", {1970, 3, 25, 0, 0, 0}},
        {kAaaammdd, "20200325T", {2020, 3, 25, 0, 0, 0}},
        {kAaaammddhhmmss, "20200325140709", {2020, 3, 25, 14, 7, 9}},
        {kAaaammddhhmmss, "20200325235959", {2020, 3, 25, 23, 59, 59}},
        {kMmmAa, "01-JAN-50", {2050, 1, 1, 0, 0, 0}},
        {kMmmAa, "05-mar-19", {2019, 3, 5, 0, 0, 0}},
        {kMmmAa, "31-Dec-51", {1951, 12, 31, 0, 0, 0}},
        {kMmmAa, "05-DEC-2019", {2019, 12, 5, 0, 0, 0}},
        {kMmmAa, "05-MAR-123456", {12345, 3, 5, 0, 0, 0}},
        {kMmmAa, "00-NUL-00", {0, 0, 0, 0, 0, 0}},
        {kHora, "14:07:09", {0, 0, 0, 14, 7, 9}},
        {kHora, "14:07", {0, 0, 0, 14, 7, 0}},
        {kHora, "14:07:09.5", {0, 0, 0, 14, 7, 9.5f}},
        {kHora, "-5:30", {0, 0, 0, -5, 30, 0}},
        {kHora, "- \t5:30", {0, 0, 0, -5, 30, 0}},
        {kHora, " \t23:59:59.75", {0, 0, 0, 23, 59, 59.75f}},
        {kMmmHora, "05-mar-19 14:07:09", {2019, 3, 5, 14, 7, 9}},
        {kMmmHora, "00-NUL-00 00:00:00", {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        TTemps t;
        EXPECT_TRUE(Read(t, c.r, c.text)) << c.text;
        ExpectFields(t, c.f, c.text);
    }
}

TEST(Temps, ReadersRefuseHostileText) {
    struct Case {
        Reader r;
        const char* text;
    } cases[] = {
        {kAaaammdd, ""},
        {kAaaammdd, "2020032"},
        {kAaaammdd, "20201325"},
        {kAaaammdd, "20200005"},
        {kAaaammdd, "20200300"},
        {kAaaammdd, "20200332"},
        {kAaaammdd, "2020x325"},
        {kAaaammdd, "2020-3-5"},
        {kAaaammdd, "-0200325"},
        {kAaaammddhhmmss, "2020032514070"},
        {kAaaammddhhmmss, "20201325140709"},
        {kAaaammddhhmmss, "20200325240709"},
        {kAaaammddhhmmss, "20200325146009"},
        {kAaaammddhhmmss, "20200325140760"},
        {kAaaammddhhmmss, "2020032514070x"},
        {kAaaammddhhmmss, "20200325140709999999999999999"},
        {kAaaammddhhmmss, "20200325-10709"},
        {kMmmAa, ""},
        {kMmmAa, "5"},
        {kMmmAa, "05"},
        {kMmmAa, "05-MA"},
        {kMmmAa, "05-MAR"},
        {kMmmAa, "05-MAR-"},
        {kMmmAa, "05-MRZ-19"},
        {kMmmAa, "05-XX1-19"},
        {kMmmAa, "45-MAR-19"},
        {kMmmAa, "xx-MAR-19"},
        {kMmmAa, "05-MAR-yy"},
        {kHora, ""},
        {kHora, ":"},
        {kHora, "1200"},
        {kHora, ":30"},
        {kHora, "12:"},
        {kHora, "12:-5"},
        {kHora, "24:00"},
        {kHora, "-24:00"},
        {kHora, "12:60"},
        {kHora, "12:00:60"},
        {kHora, "12:00:"},
        {kHora, "99999999999999999999:00"},
        {kMmmHora, "05-MRZ-19 14:07:09"},
        {kMmmHora, "05-MAR-19"},
        {kMmmHora, "05-MAR-19 25:00:00"},
        {kMmmHora, "05-MAR-19 "},
    };
    for (const Case& c : cases) {
        TTemps t;
        EXPECT_FALSE(Read(t, c.r, c.text)) << c.r << " '" << c.text << "'";
    }
}

TEST(Temps, UnknownMonthNameLeavesMonthZero) {
    TTemps t(2020, 5, 5);
    EXPECT_FALSE(t.Lee_Fecha_mmm_Hora("05-MRZ-19 14:07:09"));
    EXPECT_EQ(t.mes, 0);
    EXPECT_EQ(t.dia, 5);
}

// Every prefix and byte-mangled variant of good texts, read from a buffer that ends exactly
// where the text ends, so AddressSanitizer sees any read past the end.
TEST(Temps, ReadersStayInsideTheirText) {
    const char* goods[] = {"20200325140709", "05-MAR-19 14:07:09.5", "-\t14:07:09.123"};
    const char junk[] = {'\0', ' ', ':', '-', '.', '9', 'A', '\t', '\xff', '@'};
    uint32_t seed = 12345;
    for (const char* good : goods) {
        std::string g = good;
        for (size_t n = 0; n <= g.size(); n++) {
            for (int variant = 0; variant < 12; variant++) {
                std::string text = g.substr(0, n);
                if (variant > 0 && n > 0) {
                    seed = seed * 1103515245 + 12345;
                    text[(seed >> 8) % n] = junk[(seed >> 20) % sizeof(junk)];
                }
                DString d(text.c_str());
                for (Reader r : {kAaaammdd, kAaaammddhhmmss, kMmmAa, kHora, kMmmHora}) {
                    TTemps t;
                    Read(t, r, d);
                    DString o;
                    t.A_str_dd_mmm_aa__hora(o);
                }
            }
        }
    }
}

TEST(Temps, WrittenDatesReadBack) {
    TTemps cases[] = {TTemps(2019, 3, 5, 14, 7, 9), TTemps(1951, 1, 1, 0, 0, 0),
                      TTemps(2050, 12, 31, 23, 59, 59)};
    for (const TTemps& t : cases) {
        DString o;
        t.A_str_dd_mmm_aa__hora(o);
        TTemps back;
        EXPECT_TRUE(back.Lee_Fecha_mmm_Hora(o)) << o.c_str();
        EXPECT_EQ(back, t) << o.c_str();
    }
    TTemps null, back(2020, 1, 1);
    DString o;
    EXPECT_TRUE(back.Lee_Fecha_mmm_Hora(null.A_str_dd_mmm_aa__hora(o)));
    EXPECT_TRUE(back.Es_NULL());
}

TEST(Temps, ArithmeticCarriesAcrossDaysMonthsAndYears) {
    struct Case {
        TTemps from;
        double plus;
        Fields expected;
    } cases[] = {
        {TTemps(2020, 12, 31, 23, 59, 59.5f), 0.5, {2021, 1, 1, 0, 0, 0}},
        {TTemps(2020, 2, 28, 12, 0, 0), 86400, {2020, 2, 29, 12, 0, 0}},
        {TTemps(2021, 2, 28, 12, 0, 0), 86400, {2021, 3, 1, 12, 0, 0}},
        {TTemps(2021, 3, 1, 0, 0, 0), -1, {2021, 2, 28, 23, 59, 59}},
        {TTemps(), 10, {1970, 1, 1, 0, 0, 10}},
        {TTemps(2020, 1, 1, 0, 0, 0), 366.0 * 86400, {2021, 1, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        TTemps t = c.from;
        t += TDifTemps(c.plus);
        ExpectFields(t, c.expected, std::to_string(c.plus));
        TTemps back = t;
        back -= TDifTemps(c.plus);
        if (!c.from.Es_NULL()) {
            EXPECT_EQ(back, c.from) << c.plus;
        }
        ExpectFields(c.from + TDifTemps(c.plus), c.expected, "operator+");
    }
    static_assert(std::is_same<decltype(TTempsUTC() + TDifTemps(1)), TTempsUTC>::value, "same kind");
    static_assert(std::is_same<decltype(TTempsLocal() + TDifTemps(1)), TTempsLocal>::value, "same kind");
    TDifTemps d(10);
    d += TDifTemps(5);
    d -= TDifTemps(2);
    EXPECT_DOUBLE_EQ(d.segundos, 13);
}

TEST(Temps, NormalizateCarriesOverflow) {
    struct Case {
        TTemps in;
        Fields out;
    } cases[] = {
        {TTemps(2020, 12, 31, 23, 59, 60.0f), {2021, 1, 1, 0, 0, 0}},
        {TTemps(2020, 1, 1, 0, 125, 0), {2020, 1, 1, 2, 5, 0}},
        {TTemps(2020, 3, 1, -1, 0, 0), {2020, 2, 29, 23, 0, 0}},
        {TTemps(2021, 3, 0, 0, 0, 0), {2021, 2, 28, 0, 0, 0}},
        {TTemps(2021, 1, -1, 0, 0, 0), {2020, 12, 30, 0, 0, 0}},
        {TTemps(2020, 14, 1, 0, 0, 0), {2021, 2, 1, 0, 0, 0}},
        {TTemps(2020, 12, 32, 0, 0, 0), {2021, 1, 1, 0, 0, 0}},
        {TTemps(2100, 2, 29, 0, 0, 0), {2100, 2, 29, 0, 0, 0}}, // no century exception
        {TTemps(2020, 1, 1 + 1461 * 3 + 31, 0, 0, 0), {2032, 2, 1, 0, 0, 0}},
        {TTemps(2020, 1, 1 - 1461 * 2 - 1, 0, 0, 0), {2011, 12, 31, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        TTemps t = c.in;
        t.Normalizate();
        ExpectFields(t, c.out, "normalizate");
    }
    TTemps null;
    null.Normalizate();
    EXPECT_TRUE(null.Es_NULL());
}

TEST(Temps, SecondsSince1970) {
    EXPECT_DOUBLE_EQ(TTemps(1970, 1, 1, 0, 0, 10.25f).Segs1970(), 10.25);
    EXPECT_DOUBLE_EQ(TTemps(2020, 1, 32).Segs1970(), TTemps(2020, 2, 1).Segs1970()); // fields carry
    TTemps t;
    t.SetSegs1970(1600000000.5);
    ExpectFields(t, {2020, 9, 13, 12, 26, 40.5f}, "set");
    t.Lee_time_t(0);
    ExpectFields(t, {1970, 1, 1, 0, 0, 0}, "epoch");
    t.SetSegs1970(-0.5);
    ExpectFields(t, {1969, 12, 31, 23, 59, 59.5f}, "before");
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300}) {
        t.SetSegs1970(bad);
        ExpectFields(t, {1970, 1, 1, 0, 0, 0}, "unrepresentable");
    }
}

TEST(Temps, ComparisonIsFieldByField) {
    TTemps a(2020, 1, 1, 0, 0, 10.25f), b(2020, 1, 1, 0, 0, 10.5f);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a <= b && a != b && !(a == b) && !(a >= b));
    EXPECT_TRUE(TTemps(2019, 12, 31, 23, 59, 59) < TTemps(2020, 1, 1));
    EXPECT_TRUE(TTemps(2020, 2, 1) > TTemps(2020, 1, 31, 23));
    TTempsUTC u(2020, 1, 1);
    TTempsLocal l(2020, 1, 1);
    EXPECT_TRUE(u == l); // kinds compare alike
    EXPECT_TRUE(TTemps(2020, 1, 1) >= TTemps(2020, 1, 1));
}

TEST(Temps, NowComesFromTheInstalledClock) {
    TFakeClockITV clock(0, 1600000000123456LL);
    TScopedClockITV installed(&clock);
    TTempsUTC u;
    u.Set_Ahora();
    ExpectFields(u, {2020, 9, 13, 12, 26, 40.123456f}, "utc");
    TTemps64_UTC s;
    s.Set_Ahora();
    EXPECT_DOUBLE_EQ(s.segundos, 1600000000.0);
    TTempsLocal l;
    l.Set_Ahora();
    time_t whole = 1600000000;
    std::tm tm{};
    localtime_r(&whole, &tm);
    ExpectFields(l, {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, float(tm.tm_sec)},
                 "local");
    clock.SetUnixMicros(1600000019999999LL); // 12:26:59.999999
    u.Set_Ahora();
    EXPECT_EQ(u.minuto, 26);
    EXPECT_LT(u.segundos, 60.0f);
}

} // namespace
