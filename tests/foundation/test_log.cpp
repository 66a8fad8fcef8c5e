#include "foundation/Random.h"
#include "foundation/Registra.h"
#include "foundation/StringErr.h"

#include "support/FixedClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// "[pid:.., thid:.., thspid:..] " of the calling thread.
std::string ThreadTag() {
    char buf[160];
    std::snprintf(buf, sizeof buf, "[pid:%ld, thid:%p, thspid:%ld] ", static_cast<long>(getpid()),
                  reinterpret_cast<void*>(pthread_self()), static_cast<long>(syscall(SYS_gettid)));
    return buf;
}

// The file cut at each "\r\n"; the piece before the first one is returned first.
std::vector<std::string> SplitCrLf(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find("\r\n", start);
        out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) return out;
        start = p + 2;
    }
}

// Shape match: '@' is one decimal digit, '#' one or more, '%' "0x" and one or more lower-case hex
// digits; every other pattern byte matches itself.
bool Like(const char* s, const char* p) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto hex = [&](char c) { return digit(c) || (c >= 'a' && c <= 'f'); };
    if (!*p) return !*s;
    if (*p == '@') return digit(*s) && Like(s + 1, p + 1);
    if (*p == '#' || *p == '%') {
        bool is_hex = *p == '%';
        if (is_hex) {
            if (s[0] != '0' || s[1] != 'x') return false;
            s += 2;
        }
        if (!(is_hex ? hex(*s) : digit(*s))) return false;
        for (s++;; s++) {
            if (Like(s, p + 1)) return true;
            if (!(is_hex ? hex(*s) : digit(*s))) return false;
        }
    }
    return *s == *p && Like(s + 1, p + 1);
}
bool Like(const std::string& s, const std::string& p) {
    return Like(s.c_str(), p.c_str());
}
const std::string kDate = "@@@@-@@-@@ @@:@@:@@  ";
const std::string kThread = "[pid:#, thid:%, thspid:#] ";

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The common log in a fresh folder, with a fixed clock and run tag "ABC".
class CommonLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Registra_SetDataFolder(dir_.path().c_str());
        RegistraGPS.SetFileName("quillmap.log");
        RegistraGPS.SetClock(dltest::FixedLogTime);
        SetRegistraComun(&RegistraGPS);
        Set_header_app("ABC");
        server_login_check_test_mode = false;
    }
    void TearDown() override {
        RegistraGPS.SetClock(nullptr);
        server_login_check_test_mode = false;
        Registra_SetDataFolder("");
    }
    std::string Log() const { return dir_.Read("quillmap.log"); }
    // The texts after "STEP2_ABC  " of every line of the common log.
    std::vector<std::string> StepTexts() const {
        std::vector<std::string> lines = SplitCrLf(Log());
        std::vector<std::string> out;
        const std::string prefix = "2020-04-22 17:38:05  " + ThreadTag() + "STEP2_ABC  ";
        EXPECT_EQ(lines.at(0), "");
        for (size_t i = 1; i < lines.size(); i++) {
            EXPECT_EQ(lines[i].compare(0, prefix.size(), prefix), 0) << lines[i];
            out.push_back(lines[i].substr(std::min(prefix.size(), lines[i].size())));
        }
        return out;
    }

    dltest::TempDir dir_{"strings-log"};
};

const std::string kSep(133, '=');

} // namespace

TEST_F(CommonLogTest, LineShapeByteForByte) {
    CustomRegistraComun("MyApp::OnInit . key=value");
    CustomRegistraComun("no date", false);
    RegistraComun("raw line\n");
    RegistraGPS_c("two\n\n");
    const std::string tag = ThreadTag();
    EXPECT_EQ(Log(), "\r\n2020-04-22 17:38:05  " + tag + "STEP2_ABC  MyApp::OnInit . key=value" + "\r\n" +
                         tag + "STEP2_ABC  no date" + "\r\n2020-04-22 17:38:05  " + tag + "raw line" +
                         "\r\n2020-04-22 17:38:05  " + tag + "two\n");
    EXPECT_EQ(RegistraGPS.GetFileName(), DString(dir_.Path("quillmap.log").c_str()));
    EXPECT_EQ(RegistraGPS.GetOldFileName(), DString(dir_.Path("quillmap.OLD").c_str()));
}

TEST_F(CommonLogTest, RealClockFormat) {
    RegistraGPS.SetClock(nullptr);
    CustomRegistraComun("now");
    EXPECT_TRUE(Like(Log(), "\r\n" + kDate + kThread + "STEP2_ABC  now")) << Log();
}

TEST_F(CommonLogTest, NothingBeforeTheFolderIsKnown) {
    Registra_SetDataFolder("");
    RegistraGPS.SetFileName("quillmap.log");
    CustomRegistraComun("dropped");
    EXPECT_TRUE(RegistraGPS.GetOldFileName().IsEmpty());
    Registra_SetDataFolder(dir_.path().c_str());
    EXPECT_FALSE(dir_.Exists("quillmap.log"));
    CustomRegistraComun("kept");
    EXPECT_EQ(StepTexts(), std::vector<std::string>{"kept"});

    TRegistra later("late.log", false, false, false, false, false);
    later.Reg("ignored until Init");
    EXPECT_FALSE(dir_.Exists("late.log"));
    later.Init();
    later << 42 << 'c' << "text";
    EXPECT_EQ(SplitCrLf(dir_.Read("late.log")).size(), 4u);

    SetRegistraComun(nullptr);
    RegistraComun("nobody listens");
    SetRegistraComun(&RegistraGPS);
    EXPECT_EQ(StepTexts().size(), 1u);
}

TEST_F(CommonLogTest, TestModeSwapsTheLines) {
    CustomRegistraComunTestMode("hidden");
    server_login_check_test_mode = true;
    CustomRegistraComun("silenced");
    CustomRegistraComunTestMode("test line");
    server_login_check_test_mode = false;
    CustomRegistraComun("normal");
    EXPECT_EQ(StepTexts(), (std::vector<std::string>{"test line", "normal"}));
}

TEST_F(CommonLogTest, ShapingFamilyTable) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void()> call;
        Lines lines;
    } cases[] = {
        {"HeaderBegin compact",
         [] { CustomRegistraComunHeaderBegin("MyApp::Initialize()", false); },
         {kSep, "MyApp::Initialize() Begin", kSep}},
        {"HeaderEnd", [] { CustomRegistraComunHeaderEnd("Step"); }, {"", kSep, "Step End", kSep, ""}},
        {"Header", [] { CustomRegistraComunHeader("H", false); }, {kSep, "H", kSep}},
        {"HeaderAddText",
         [] { CustomRegistraComunHeaderAddText("A", "-b", true); },
         {"", kSep, "A-b", kSep, ""}},
        {"Separator", [] { CustomRegistraComunSeparator("text", "+x"); }, {"", kSep, "text+x", ""}},
        {"Separator no extra", [] { CustomRegistraComunSeparator("text"); }, {"", kSep, "text", ""}},
        {"RegistraSeparator", [] { CustomRegistraSeparator(); }, {"", kSep, ""}},
        {"Compact", [] { CustomRegistraSeparatorCompact(); }, {kSep}},
        {"LanguagesList",
         [] { CustomRegistraLanguagesList(); },
         {"", "languages list=178=ES 58=EN 80=FR 89=GE 44=CA 100=HE 110=IT 56=NL 151=PL 152=PT"}},
        {"LanguagesCodes",
         [] { CustomRegistraLanguagesCodes(); },
         {"", kSep, "wxLANGUAGE_ENGLISH=58", "wxLANGUAGE_SPANISH=178", "wxLANGUAGE_FRENCH=80",
          "wxLANGUAGE_GERMAN=89", "wxLANGUAGE_CATALAN=44", "wxLANGUAGE_POLISH=151", "wxLANGUAGE_HEBREW=100",
          "wxLANGUAGE_ITALIAN=110", "wxLANGUAGE_DUTCH=56", "wxLANGUAGE_PORTUGUESE=152", kSep, ""}},
        {"ShowCompiler",
         [] { ShowCompiler("1.4.9", "202004221738"); },
         {"", std::string("Version App=1.4.9 . Build Number=202004221738 . Compiler Version=") + __VERSION__,
          "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(dir_.Path("quillmap.log").c_str());
        c.call();
        EXPECT_EQ(StepTexts(), c.lines);
    }
    EXPECT_EQ(kSep, TRACE_LINE);
    std::string stamp = BuildStamp().c_str();
    ASSERT_TRUE(Like(stamp, "20@@@@@@@@@@")) << stamp;
    int month = std::stoi(stamp.substr(4, 2)), day = std::stoi(stamp.substr(6, 2));
    int hour = std::stoi(stamp.substr(8, 2)), minute = std::stoi(stamp.substr(10, 2));
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60) << stamp;
}

TEST_F(CommonLogTest, InitTraceDrawsTagAndWritesTheBeginning) {
    ManageError(73101, "file", "device");
    std::set<std::string> tags;
    for (int run = 0; run < 20; run++) {
        std::remove(dir_.Path("quillmap.log").c_str());
        InitTrace();
        std::string tag = Get_header_app().c_str();
        ASSERT_EQ(tag.size(), 3u);
        EXPECT_EQ(tag.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"), std::string::npos) << tag;
        tags.insert(tag);
        std::vector<std::string> lines = SplitCrLf(Log());
        ASSERT_EQ(lines.size(), 1u + 4 + 14);
        const std::string prefix = "2020-04-22 17:38:05  " + ThreadTag() + "STEP2_" + tag + "  ";
        std::vector<std::string> texts;
        for (size_t i = 1; i < lines.size(); i++) {
            ASSERT_EQ(lines[i].compare(0, prefix.size(), prefix), 0) << lines[i];
            texts.push_back(lines[i].substr(prefix.size()));
        }
        EXPECT_EQ(texts[0], kSep);
        EXPECT_EQ(texts[1], "------------ BEGINNING OF APP ----------------- ");
        EXPECT_EQ(texts[2], "------------ STEP2 . Downloader2");
        EXPECT_EQ(texts[3], kSep);
        EXPECT_EQ(texts[4], "");
        EXPECT_EQ(texts[6], "wxLANGUAGE_ENGLISH=58");
    }
    EXPECT_GT(tags.size(), 1u); // drawn anew for every run
    EXPECT_TRUE(NoHayError());  // InitTrace resets the last-error record
}

TEST_F(CommonLogTest, RotationAtTheThreshold) {
    ASSERT_TRUE(dir_.Write("quillmap.OLD", "an older generation"));
    const std::string text(90, 'r');
    CustomRegistraComun(text.c_str());
    const long long line = FileSize(dir_.Path("quillmap.log"));
    ASSERT_GT(line, 90);
    long long size = line;
    while (size + line <= 499997) {
        CustomRegistraComun(text.c_str());
        size += line;
    }
    EXPECT_EQ(FileSize(dir_.Path("quillmap.log")), size);
    EXPECT_EQ(dir_.Read("quillmap.OLD"), "an older generation");
    CustomRegistraComun(text.c_str()); // crosses 499 997 bytes
    EXPECT_EQ(FileSize(dir_.Path("quillmap.OLD")), size + line);
    EXPECT_EQ(dir_.Read("quillmap.log"), " ");
    CustomRegistraComun("after");
    EXPECT_EQ(Log(), " \r\n2020-04-22 17:38:05  " + ThreadTag() + "STEP2_ABC  after");
    const std::string old = dir_.Read("quillmap.OLD");
    EXPECT_EQ(old.compare(0, 2, "\r\n"), 0);
    EXPECT_EQ(old.find("an older generation"), std::string::npos);
}

TEST(Log, FailedRotationNeverStopsTheApplication) {
    dltest::TempDir dir("strings-rot");
    TRegistra log(dir.Path("app.log").c_str());
    log.SetThreshold(300);
    ASSERT_TRUE(dir.Write("app.OLD/keep", "x")); // ".OLD" is a folder in the way
    for (int i = 0; i < 20; i++)
        EXPECT_NO_THROW(log.Reg(("line " + std::to_string(i)).c_str(), false));
    std::string content = dir.Read("app.log");
    for (int i = 0; i < 20; i++)
        EXPECT_NE(content.find("] line " + std::to_string(i)), std::string::npos) << i;
    size_t first = content.find("cannot rename");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(content.find("cannot rename", first + 1), std::string::npos); // reported once
    EXPECT_EQ(dir.Read("app.OLD/keep"), "x");

    // Once the way is clear, rotation works again.
    ASSERT_TRUE(dltest::RemoveTree(dir.Path("app.OLD")));
    log.Reg("line 20", false);
    EXPECT_EQ(dir.Read("app.log"), " ");
    EXPECT_NE(dir.Read("app.OLD").find("] line 20"), std::string::npos);
}

TEST(Log, ConcurrentWritersNeverInterleave) {
    dltest::TempDir dir("strings-mt");
    TRegistra log(dir.Path("mt.log").c_str());
    log.SetThreshold(1LL << 40);
    const int kThreads = 4, kLines = 200;
    const std::string payload(300, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; i++)
                log.Reg(("T" + std::to_string(t) + "-" + std::to_string(i) + "-" + payload).c_str(),
                        i % 2 == 0);
        });
    for (auto& th : threads)
        th.join();
    std::vector<std::string> lines = SplitCrLf(dir.Read("mt.log"));
    ASSERT_EQ(lines.size(), 1u + kThreads * kLines);
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i < lines.size(); i++) {
        const std::string& line = lines[i];
        ASSERT_TRUE(Like(line, kThread + "T@-#-" + payload) ||
                    Like(line, kDate + kThread + "T@-#-" + payload))
            << line;
        size_t at = line.find("] T") + 3;
        int t = line[at] - '0', n = std::stoi(line.substr(at + 2));
        EXPECT_EQ(n, next[static_cast<size_t>(t)]++); // each thread's lines in its own order
    }
}

TEST(Log, ConcurrentWritersDuringRotation) {
    dltest::TempDir dir("strings-mtrot");
    TRegistra log(dir.Path("mt.log").c_str());
    log.SetThreshold(5000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 150; i++)
                log.Reg(("W" + std::to_string(t) + std::string(100, 'q')).c_str(), false);
        });
    for (auto& th : threads)
        th.join();
    const std::string shape = kThread + "W@" + std::string(100, 'q');
    for (const char* name : {"mt.log", "mt.OLD"}) {
        std::vector<std::string> lines = SplitCrLf(dir.Read(name));
        ASSERT_GE(lines.size(), 1u);
        EXPECT_TRUE(lines[0].empty() || lines[0] == " ") << name;
        for (size_t i = 1; i < lines.size(); i++)
            EXPECT_TRUE(Like(lines[i], shape)) << name << ": " << lines[i];
    }
    EXPECT_LE(FileSize(dir.Path("mt.log")), 5000 + 200);
}

TEST(Log, SentenceLogsAndThresholds) {
    EXPECT_EQ(RegistraGPS.GetThreshold(), 500000);
    EXPECT_EQ(RegistraNMEA.GetThreshold(), 10000000);
    EXPECT_EQ(RegistraNMEAFix.GetThreshold(), 10000000);
    EXPECT_EQ(RegistraNMEA.GetFileName(), "quillmap_nmea.txt");
    EXPECT_EQ(GetRegistraComun(), &RegistraGPS);
}

TEST(Random, SharedGeneratorFromManyThreads) {
    std::atomic<int> out_of_range{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                int v = Random_Int(0, 31);
                if (v < 0 || v > 31) out_of_range++;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(out_of_range.load(), 0);
    EXPECT_EQ(Random_Int(5, 5), 5);
    EXPECT_EQ(Random_Int(5, 1), 5);
    Random_Seed(7);
    int a = Random_Int(0, 1000000);
    Random_Seed(7);
    EXPECT_EQ(Random_Int(0, 1000000), a);
}
