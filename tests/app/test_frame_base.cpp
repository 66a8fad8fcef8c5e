// The main frame without widgets: version detection, the install parameters (AutoLogin) with their
// failures and codes, the login's retry, the login and product list against the simulated world,
// the close question and the devices window's first states.
#include "app/MyFrame_base.h"

#include "AppTestHome.h"
#include "app/MyApp_base.h"
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "foundation/Threads.h"
#include "platform/SettingsStore.h"
#include "platform/StandardFolders.h"
#include "protocol/AppGlobals.h"
#include "protocol/Catalogue.h"
#include "protocol/CryptITV.h"
#include "protocol/ServerProtocol.h"
#include "support/DemoUser.h"
#include "support/World.h"
#include "transfer/InternetITV.h"
#include "transfer/ManagerComm.h"
#include "window/ManagerUtils_base.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using dltest::AppTestHome;
using dltest::CountOf;

using namespace dltest::demo; // the demo scenario's user

// Install parameters as the web shop makes them: zlib, Twofish, Base64.
DString Params(const std::string& json) {
    TCryptITV crypt("ZipTwoFishBase64");
    crypt.Carga_Llave(appkey);
    DString out;
    crypt.Encripta(json.c_str(), out);
    return out;
}

std::string LoginJson(bool login_ok, const char* idioma = "en", const char* password = kPassword) {
    return std::string("{\"loginOK\":") + (login_ok ? "true" : "false") + ",\"Email\":\"" + kUser +
           "\",\"Pwd\":\"" + password + "\",\"Token\":\"" + kToken + "\",\"sessionId\":\"" + kSession +
           "\",\"Idioma\":\"" + idioma + "\"}";
}

class TestHost : public TManagerDevicesHost {
public:
    int step2_calls = 0;
    int quits = 0;
    DString params;
    bool no_params = false;
    void InitCallStep2(const DString& p, bool np, TStringErr&) override {
        ++step2_calls;
        params = p;
        no_params = np;
    }
    void QuitApplication() override { ++quits; }
};

// A frame with its objects, the catalogue selected and a log of its own.
class FrameBase : public ::testing::Test {
protected:
    class Frame : public MyFrame_base {
    public:
        using MyFrame_base::MyFrame_base;
        DString title;

    protected:
        void SetTitleText(const DString& t) override { title = t; }
    };

    void SetUp() override {
        Apple_Init_Paths("Downloader2");
        Registra_SetDataFolder(home.Shared().c_str());
        RegistraGPS.SetFileName(home.LogFile().c_str());
        TStringErr_i err;
        TStringNomFitx locale(home.dir().Path("locale").c_str());
        ASSERT_TRUE(MoveLocaleToFolder(locale, err)) << err.c_str();
        ASSERT_TRUE(SelectCatalogue(locale));
        ResetErrorFlags();
        frame.CreaUtilidades(650, 58, TStringNomFitx(home.dir().Path("qiwdata").c_str()));
        frame.SetDevices(&devices);
        frame.espera = [this](int ms) { waits.push_back(ms); };
    }
    void TearDown() override { ReleaseCatalogue(); }

    // Points the program at a running world.
    void UseWorld(const dltest::World& world) {
        server_www_com = world.Get("web.host").c_str();
        TInternetITV::Set_CAFile(world.Get("ca_file").c_str());
    }

    AppTestHome home;
    TManagerDevices_base devices;
    Frame frame{nullptr};
    std::vector<int> waits;
};

TEST(Version, NewVersionAndNewInstallationDetection) {
    const struct {
        const char* stored;
        const char* new_installation;
        bool update;
        bool installed;
    } cases[] = {
        {"149", "0", false, false}, // the same version again
        {"149", "", false, false},  //
        {"", "", true, true},       // first run ever
        {"148", "0", true, false},  // an update
        {"148", "1", true, false},  // an update (the flag only counts for the same version)
        {"149", "1", true, true},   // an installer has just put this version in place
        {"150", "0", true, false},  // an older build after a newer one
    };
    for (const auto& c : cases) {
        TVersionCheck v = DetectaVersion(c.stored, c.new_installation, "149");
        EXPECT_EQ(v.update, c.update) << c.stored << "/" << c.new_installation;
        EXPECT_EQ(v.new_installation, c.installed) << c.stored << "/" << c.new_installation;
    }
}

TEST_F(FrameBase, InitVersionRewritesTheStoredValues) {
    TManagerUtils_base::SetValue("148", "Version");
    TManagerUtils_base::SetValue("1", "NewInstallation");
    frame.InitVersion();
    DString version, installed;
    ASSERT_TRUE(TManagerUtils_base::GetValue(version, "Version"));
    ASSERT_TRUE(TManagerUtils_base::GetValue(installed, "NewInstallation"));
    EXPECT_STREQ(version.c_str(), "149");
    EXPECT_STREQ(installed.c_str(), "0");
    std::string log = home.Log();
    EXPECT_NE(log.find("MyFrame::Init() . Version=148 . NewInstallation=1 . update=1 . newInstallation=0"),
              std::string::npos);
    EXPECT_NE(log.find("OS Info=" + std::string(downloader_os.c_str())), std::string::npos);
    EXPECT_NE(log.find("Version App=149 . Build Number="), std::string::npos);

    frame.InitVersion();
    EXPECT_NE(
        home.Log().find("MyFrame::Init() . Version=149 . NewInstallation=0 . update=0 . newInstallation=0"),
        std::string::npos);
}

TEST_F(FrameBase, AutoLoginFailuresAndTheirCodes) {
    TCryptITV plain_method("TwoFishBase64");
    plain_method.Carga_Llave(appkey);
    DString not_zlib;
    plain_method.Encripta("deciphers, but is not a zlib stream", not_zlib);
    const std::string format = "Error in format. Format not accepted.";
    const struct {
        const char* what;
        DString params;
        int code;
        std::string message;
    } cases[] = {
        {"empty", "", 7310704, format},
        {"not Base64", "!!!not base64!!!", 7310701, format},
        {"an IV alone", "QUJDREVGR0hJSktMTU5PUA==", 7310701, format},
        {"not zlib", not_zlib, 7310702, format},
        {"not JSON", Params("this is no JSON"), 7310703, format},
        {"JSON but no object", Params("[1,2,3]"), 7310703, format},
        {"loginOK false", Params(LoginJson(false)), 73108, "Error during login process. Check credentials. "},
        {"loginOK missing", Params("{\"Email\":\"a@b\"}"), 73108,
         "Error during login process. Check credentials. "},
    };
    for (const auto& c : cases) {
        ResetErrorFlags();
        TStringErr_i err;
        EXPECT_FALSE(frame.AutoLogin(c.params, err)) << c.what;
        EXPECT_EQ(std::string(err.c_str()), c.message) << c.what;
        EXPECT_EQ(downloader_errorCode(), c.code) << c.what;
    }
    std::string log = home.Log();
    EXPECT_NE(log.find("parse json ---Error in format. Format not accepted.---"), std::string::npos);
    EXPECT_NE(log.find("parse loginOK ---Error during login process. Check credentials. ---"),
              std::string::npos);
    EXPECT_EQ(log.find(kPassword), std::string::npos);
}

TEST_F(FrameBase, LoginRetriesOnceAfterSevenSeconds) {
    TStringErr_i err;
    EXPECT_FALSE(frame.Login(Params(LoginJson(false)), false, err));
    EXPECT_EQ(waits, std::vector<int>{7000});
    EXPECT_STREQ(err.c_str(), "Error during login process. Check credentials. ");
    std::string log = home.Log();
    EXPECT_EQ(CountOf(log, "parse loginOK ---"), 2);
    EXPECT_EQ(
        CountOf(log,
                "MyFrame_base::Login() - AutoLogin() failed . strError=Error during login process. Check "
                "credentials.  . In 7 segs. try again"),
        1);
}

TEST_F(FrameBase, LoginWithoutParametersSaysSo) {
    TStringErr_i err;
    EXPECT_FALSE(frame.Login("", true, err));
    EXPECT_STREQ(err.c_str(),
                 "Error in format. Format not accepted.Error during login process.  Bad response. No Params");
    EXPECT_EQ(downloader_errorCode(), 7310704);
}

TEST_F(FrameBase, ACancelledLoginDoesNotTryAgain) {
    frame.espera = [this](int ms) {
        waits.push_back(ms);
        frame.m_utils->MonitorCancel();
    };
    TStringErr_i err;
    EXPECT_FALSE(frame.Login(Params(LoginJson(false)), false, err));
    EXPECT_EQ(CountOf(home.Log(), "parse loginOK ---"), 1);
}

TEST_F(FrameBase, TheDefaultWaitSleepsInSlicesUntilCancelled) {
    TFakeClockITV clock;
    TScopedClockITV use(&clock);
    Frame f(nullptr);
    f.CreaUtilidades(650, 58, TStringNomFitx(home.dir().Path("qiwdata").c_str()));
    clock.OnSleep([&](int) {
        if (clock.SleepCount() == 3) f.m_utils->MonitorCancel();
    });
    f.espera(7000);
    EXPECT_EQ(clock.Sleeps(), (std::vector<int>{100, 100, 100}));
}

TEST_F(FrameBase, LoginAgainstTheServiceStoresTheSession) {
    dltest::World world;
    ASSERT_TRUE(world.ok()) << world.error();
    UseWorld(world);
    // The web shop's habit of escaping every quote, and its own language.
    std::string json = LoginJson(true, "es");
    std::string escaped;
    for (char c : json)
        escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
    const DString params = Params(escaped);

    TStringErr_i err;
    ASSERT_TRUE(frame.AutoLogin(params, err)) << err.c_str();
    TManagerUtils_base& utils = *frame.m_utils;
    EXPECT_STREQ(utils.sesion.user.c_str(), kUser);
    EXPECT_STREQ(utils.sesion.sessionId.c_str(), kSession);
    EXPECT_STREQ(utils.sesion.token.c_str(), kToken);
    EXPECT_STREQ(utils.sesion.idioma.c_str(), "en");
    EXPECT_EQ(utils.GetLanguageCode(), 58);
    EXPECT_STREQ(utils.user_email2.c_str(), kUser);
    EXPECT_STREQ(downloader_user.c_str(), kUser);

    std::vector<dltest::World::Record> web = world.WaitRecords("web", 1);
    ASSERT_EQ(web.size(), 1u);
    EXPECT_EQ(web[0]["func"], "LOGINCHECK");

    // Neither the password, the token, the session id nor the parameters reach the log.
    std::string log = home.Log();
    EXPECT_NE(log.find("TManagerComm::Server_Login_Check() . loginOK=1"), std::string::npos);
    EXPECT_NE(log.find(" - usr=demo@example.com"), std::string::npos);
    for (const char* secret : {kPassword, kToken, kSession, params.c_str()})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST_F(FrameBase, LoginAndProductListLeadToTheDeviceSearch) {
    dltest::World world;
    ASSERT_TRUE(world.ok()) << world.error();
    UseWorld(world);
    frame.InitCall(Params(LoginJson(true)), false);
    EXPECT_EQ(devices.GetState(), STAT_STEP2_INIT);
    frame.Beat(); // runs the posted STAT_STEP2_INIT, which starts the login worker
    frame.FinishStep2Now();

    EXPECT_EQ(devices.GetState(), STAT_UPDATE_DEVICES);
    EXPECT_TRUE(devices.IsInitialised());
    EXPECT_STREQ(frame.title.c_str(), "Downloader");
    EXPECT_EQ(frame.m_utils->Products().Numero(), 3);
    EXPECT_TRUE(devices.message.IsEmpty());
    EXPECT_EQ(std::string(devices.Linea(TManagerDevices_base::kLineUpper).texto.c_str()),
              "Please, plug the device(s) where product(s) will be installed.");
    EXPECT_TRUE(devices.Linea(TManagerDevices_base::kLineCentre2).shown);
    std::string log = home.Log();
    for (const char* line :
         {"SM = 13", "TManagerComm::Server_Login_Check() . loginOK=1",
          "MyFrame::Init() . languageCode=58. language=en",
          "TManagerComm::Server_User_Products() . ok=1 . products=3", "SM = 0", "SM = 1", "SM = 2"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(FrameBase, AFailedLoginEndsOnTheErrorScreen) {
    dltest::World world;
    ASSERT_TRUE(world.ok()) << world.error();
    UseWorld(world);
    frame.step2_en_hilo = false;
    frame.InitCall(Params(LoginJson(true, "en", "wrong-password")), false);
    frame.Beat();
    EXPECT_FALSE(frame.Step2Running());
    EXPECT_EQ(devices.GetState(), STAT_END);
    EXPECT_EQ(waits, std::vector<int>{7000});
    EXPECT_STREQ(devices.message.c_str(), "Error during login process. Check credentials. ");
    EXPECT_STREQ(devices.Linea(TManagerDevices_base::kLineUpper).texto.c_str(), devices.message.c_str());
    EXPECT_TRUE(devices.Button1Shown());
    EXPECT_STREQ(devices.Button1Label().c_str(), "Txt.Button.Central.NoOkEnd");
    EXPECT_EQ(CountOf(home.Log(), "SM = -2"), 1);
    EXPECT_EQ(world.WaitRecords("web", 2).size(), 2u) << "one login check, then one more after the pause";
}

TEST_F(FrameBase, AStartUpErrorGoesStraightToTheErrorScreen) {
    class App : public MyApp_base {};
    App app;
    app.m_startup_error = "no parameters text";
    Frame f(&app);
    f.CreaUtilidades(650, 58, TStringNomFitx(home.dir().Path("qiwdata").c_str()));
    TManagerDevices_base d;
    f.SetDevices(&d);
    f.InitCall("", true);
    EXPECT_EQ(d.GetState(), STAT_END);
    EXPECT_STREQ(d.Linea(TManagerDevices_base::kLineUpper).texto.c_str(), "no parameters text");
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 0) << "no login is posted";
}

TEST_F(FrameBase, AMissingDownloadFolderGoesToTheErrorScreen) {
    delete frame.m_comm;
    frame.m_comm = new TManagerComm(TStringNomFitx("/nonexistent/qiwdata/"),
                                    [](const TStringNomFitx&) { return false; });
    frame.m_utils->InitGlobals(frame.m_comm);
    frame.InitCall("params", false);
    EXPECT_EQ(devices.GetState(), STAT_END);
    EXPECT_EQ(std::string(devices.message.c_str()).rfind("Error accessing to folder: Init =", 0), 0u)
        << devices.message.c_str();
}

TEST_F(FrameBase, DestroyingTheFrameDuringTheLoginWaitsForTheWorker) {
    dltest::World world;
    ASSERT_TRUE(world.ok()) << world.error();
    UseWorld(world);
    world.Tool({"control", "/web", R"({"login": [{"kind": "stall", "seconds": 30}]})"});
    TManagerDevices_base d;
    auto* f = new Frame(nullptr);
    f->CreaUtilidades(650, 58, TStringNomFitx(home.dir().Path("qiwdata").c_str()));
    f->SetDevices(&d);
    TStringErr_i none;
    f->InitCallStep2(Params(LoginJson(true)), false, none);
    EXPECT_TRUE(f->Step2Running());
    delete f; // cancels, joins the worker, then frees what it used
    EXPECT_NE(home.Log().find("MyFrame::~MyFrame . End of App"), std::string::npos);
}

TEST_F(FrameBase, TheCloseQuestion) {
    int asked = 0;
    int answer = 7;
    TMessageBoxFn old = SetApplicationMessageBox([&](const DString& text, const DString& caption, int style) {
        ++asked;
        EXPECT_STREQ(caption.c_str(), "Downloader");
        EXPECT_EQ(style & 0x0F, 4);
        EXPECT_STREQ(
            text.c_str(),
            "Download/Installation in progress. Do you really want to cancel and close the process?");
        return answer;
    });
    TMonitorProc* monitor = frame.m_utils->CurrentMonitor();

    EXPECT_TRUE(frame.ConfirmClose()) << "nothing running: no question";
    EXPECT_EQ(asked, 0);
    frame.m_utils->NewMonitor();
    monitor = frame.m_utils->CurrentMonitor();

    frame.m_comm->work_in_progress = true;
    EXPECT_FALSE(frame.ConfirmClose()) << "No keeps the window open";
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(monitor->HayStop());

    answer = 6;
    EXPECT_TRUE(frame.ConfirmClose());
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(monitor->HayStop()) << "Yes cancels the work";
    SetApplicationMessageBox(old);
}

// ---- The devices window's first states ----

TEST_F(FrameBase, TheLoginDataArePostedToTheDevicesWindow) {
    TManagerDevices_base d;
    TestHost host;
    d.SetHost(&host);
    TStringErr_i none;
    d.doPostStep2Init("PARAMS", true, none);
    EXPECT_EQ(host.step2_calls, 0) << "runs at the next beat";
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(host.step2_calls, 1);
    EXPECT_STREQ(host.params.c_str(), "PARAMS");
    EXPECT_TRUE(host.no_params);
    EXPECT_EQ(d.GetState(), STAT_STEP2_INIT);
    EXPECT_TRUE(d.IsInitialised());
}

TEST_F(FrameBase, TheErrorScreenWithoutAMessage) {
    TManagerDevices_base d;
    EXPECT_EQ(d.State_Machine(STAT_ERROR), STAT_END);
    EXPECT_EQ(d.GetState(), STAT_END);
    // The final screen says an error happened, never that the installation finished.
    EXPECT_STREQ(d.Linea(TManagerDevices_base::kLineUpper).texto.c_str(),
                 "An error occurred while connecting to server.");
    EXPECT_STREQ(d.Button1Label().c_str(), "Txt.Button.Central.NoOkEnd");
    EXPECT_EQ(downloader_errorCode(), 73122) << "painting the error screen without a message records it";
}

TEST_F(FrameBase, TheLargeButtonQuitsFromTheFinalScreen) {
    TManagerDevices_base d;
    TestHost host;
    d.SetHost(&host);
    d.message = "boom";
    d.State_Machine(STAT_ERROR);
    d.OnButton_1_1(nullptr);
    EXPECT_EQ(host.quits, 1);
}

TEST_F(FrameBase, TextsOfTheDevicesWindow) {
    TManagerDevices_base d;
    VectorS<TProduct> products;
    d.SetProducts(&products);
    EXPECT_STREQ(d.Strings(7).c_str(), "");
    products.Anyade().name = "Europe Maps";
    EXPECT_NE(std::string(d.Strings(7).c_str()).find("install the  product 'Europe Maps' on"),
              std::string::npos);
    products.Anyade().name = "Other";
    EXPECT_NE(std::string(d.Strings(7).c_str()).find("install the 2 product 'Europe Maps' on"),
              std::string::npos);
    EXPECT_STREQ(d.Strings(99).c_str(), "");
    d.AddError("");
    EXPECT_TRUE(d.message.IsEmpty());
    d.message = "a";
    d.AddError("b");
    EXPECT_STREQ(d.message.c_str(), "a\r\nb");
    EXPECT_EQ(d.State_Machine(42), STAT_ERROR) << "an unknown state";
    std::string log = home.Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log.substr(log.size() - 5), "SM = ") << "logged without its number";
}

} // namespace
