// The real program on a display (Xvfb when there is none) against the simulated world: started
// from the demo user's install link, a second start with another link, a start without a link.
#include "AppTestHome.h"
#include "support/DemoUser.h"
#include "support/World.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using dltest::AppTestHome;
using dltest::CountOf;

using namespace dltest::demo; // the demo scenario's user

std::string BuildDir() {
    const char* b = getenv("DL_BUILD_DIR");
    return b && *b ? b : DL_BUILD_DIR;
}

std::string ProgramPath() {
    return BuildDir() + "/src/app/downloader2";
}

// Standard output of a command (a shell line).
std::string Output(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string Link(const std::string& user, const std::string& password, const std::string& token,
                 const std::string& session) {
    return Output("/usr/bin/python3 '" + dltest::SourceDir() + "/tools/world' link --user '" + user +
                  "' --password '" + password + "' --token '" + token + "' --session '" + session + "'");
}

pid_t Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Polls cond every 50 ms until it holds or about 90 s have passed (the program runs on its own;
// the limit only keeps a broken build from hanging the suite).
template <class F> bool WaitFor(F cond) {
    for (int i = 0; i < 1800; ++i) {
        if (cond()) return true;
        usleep(50 * 1000);
    }
    return cond();
}

// The exit status once the process has ended, or -1 when it did not end in time.
int WaitExit(pid_t pid) {
    int status = 0;
    bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool Alive(pid_t pid) {
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

bool WindowShown() {
    return Output("xwininfo -root -tree 2>/dev/null").find("\"Downloader\"") != std::string::npos;
}

// Saves a screenshot of the display into the build folder (test-output/NAME.png), once the
// window has been painted (the screen is no longer all black).
std::string Screenshot(const std::string& name) {
    std::string folder = BuildDir() + "/test-output";
    dltest::MakeDirs(folder);
    std::string file = folder + "/" + name + ".png";
    WaitFor([&] {
        unlink(file.c_str());
        Output("import -window root '" + file + "' 2>&1");
        return std::atof(Output("convert '" + file + "' -format '%[fx:mean]' info: 2>/dev/null").c_str()) >
               0.01;
    });
    return file;
}

off_t FileSize(const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? st.st_size : 0;
}

// A private Xvfb for a test that finds no display (ctest normally runs these tests through
// scripts/with-display).
class OwnDisplay {
public:
    ~OwnDisplay() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    // True when a display is there or could be started; DISPLAY is then set.
    bool Ensure(std::string& why) {
        if (getenv("DISPLAY") && *getenv("DISPLAY")) return true;
        int fds[2];
        if (pipe(fds) != 0) return false;
        std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args{"Xvfb", "-displayfd",   fd,          "-screen",
                                      "0",    "1280x1024x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        int rc = posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv.data(), environ);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            why = "cannot start Xvfb";
            return false;
        }
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 30000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty()) {
            why = "Xvfb did not report its display";
            return false;
        }
        setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }

private:
    pid_t pid_ = -1;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(display.Ensure(why)) << why;
        // Under AddressSanitizer the program is checked for memory errors, not for leaks: the
        // desktop libraries (GTK, fontconfig, D-Bus) keep caches for the life of a process. The
        // program's own objects are leak-checked by the tests without a display. (Options are
        // read at start-up, so this reaches the programs started here only.)
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
        ASSERT_EQ(access(ProgramPath().c_str(), X_OK), 0) << ProgramPath();
    }
    void TearDown() override {
        for (pid_t pid : started)
            if (Alive(pid)) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
    }
    pid_t Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{ProgramPath()};
        all.insert(all.end(), args.begin(), args.end());
        pid_t pid = Start(all);
        if (pid > 0) started.push_back(pid);
        return pid;
    }
    bool LogHas(const std::string& text) const { return home.Log().find(text) != std::string::npos; }

    OwnDisplay display;
    AppTestHome home;
    std::vector<pid_t> started;
};

TEST_F(Program, OpensFromALinkLogsInAndKeepsASecondStartOut) {
    dltest::World world;
    ASSERT_TRUE(world.ok()) << world.error();
    ASSERT_TRUE(dltest::MakeDirs(home.Shared(), 0700));
    ASSERT_TRUE(home.dir().Write("home/.local/share/Downloader/downloader.cfg",
                                 dltest::AppTestHome::ReadFile(world.Path("downloader.cfg"))));
    // A params file left by an earlier run goes at exit.
    ASSERT_TRUE(home.dir().Write("home/.local/share/Downloader2/params.bkp", "quillinstallwizard:old"));

    const std::string link = Link(kUser, kPassword, kToken, kSession);
    ASSERT_EQ(link.rfind("quillinstallwizard:", 0), 0u) << link;
    const std::string other = Link("other@example.com", "other-password", "other-token", "other-session");

    pid_t first = Run({link});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitFor([&] { return LogHas("TManagerComm::Server_User_Products() . ok=1 . products=3"); }))
        << home.Log();
    EXPECT_TRUE(LogHas("TManagerComm::Server_Login_Check() . loginOK=1"));
    EXPECT_TRUE(WaitFor([&] { return LogHas("SM = 2"); }));
    EXPECT_TRUE(WaitFor(WindowShown)) << Output("xwininfo -root -tree");
    std::string shot = Screenshot("app_e2e_logged_in");
    EXPECT_GT(FileSize(shot), 0) << shot;

    // A second start hands its link to the first and leaves.
    pid_t second = Run({other});
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExit(second), 0);
    EXPECT_TRUE(WaitFor([&] { return LogHas("MyApp::ContinueOnInit() . --- Error !!! --- Second time"); }));
    EXPECT_TRUE(Alive(first));
    std::string log = home.Log();
    EXPECT_EQ(CountOf(log, "TManagerComm::Server_Login_Check() . loginOK=1"), 1);
    EXPECT_EQ(CountOf(log, "MyApp::OnInitInitialize() Begin"), 1);
    EXPECT_EQ(world.WaitRecords("web", 2).size(), 2u) << "one login check and one product list";

    // A termination request ends the run cleanly.
    ASSERT_EQ(kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitExit(first), 0);
    log = home.Log();
    EXPECT_NE(log.find("MyFrame::~MyFrame . End of App"), std::string::npos);
    EXPECT_NE(log.find("MyApp::DeleteParams() . ok=1"), std::string::npos);
    struct stat st;
    EXPECT_NE(lstat((home.AppData() + "/params.bkp").c_str(), &st), 0) << "params.bkp is gone";

    // The log never holds the password, the token, the session id or a link.
    const std::string params = link.substr(std::string("quillinstallwizard:").size());
    const std::string other_params = other.substr(std::string("quillinstallwizard:").size());
    for (const std::string& secret : {std::string(kPassword), std::string(kToken), std::string(kSession),
                                      params, other_params, std::string("other-password")})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST_F(Program, AStartWithoutALinkShowsTheNoParametersError) {
    pid_t pid = Run({});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return LogHas("SM = 11"); })) << home.Log();
    EXPECT_TRUE(LogHas("MyApp::GetInstallParams() . No installParams"));
    EXPECT_TRUE(LogHas("SM = -2"));
    EXPECT_FALSE(LogHas("LOGINCHECK")) << "no login is tried";
    EXPECT_TRUE(WaitFor(WindowShown));
    std::string shot = Screenshot("app_e2e_no_link");
    EXPECT_GT(FileSize(shot), 0) << shot;
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0);
}

} // namespace
