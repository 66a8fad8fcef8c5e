// The application object without widgets: start-up, the install request, "downloader.cfg", the
// params file, the interface language and the message box codes.
#include "app/MyApp_base.h"
#include "files/FicheroITV.h"

#include "AppTestHome.h"
#include "foundation/Registra.h"
#include "platform/HttpTransfer.h"
#include "platform/SettingsStore.h"
#include "platform/Volumes.h"
#include "protocol/AppGlobals.h"
#include "protocol/Catalogue.h"
#include "protocol/ServerProtocol.h"
#include "window/ManagerUtils_base.h"

#include <gtest/gtest.h>
#include <wx/defs.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using dltest::AppTestHome;
using dltest::CountOf;

// The application with a frame that only records what it was built with.
class TestApp : public MyApp_base {
public:
    int frames = 0;
    DString frame_params;
    bool frame_no_params = false;

protected:
    bool CreaFrame(const DString& params, bool no_params, int language) override {
        ++frames;
        frame_params = params;
        frame_no_params = no_params;
        return true;
    }
};

class AppBase : public ::testing::Test {
protected:
    void SetUp() override {
        MyApp_base::ResetRequestCountForTests();
        app.Initialize_base();
    }
    void TearDown() override { ReleaseCatalogue(); }

    AppTestHome home;
    TestApp app;
};

TEST_F(AppBase, StartUpMakesTheFoldersAndOpensTheLog) {
    struct stat st;
    ASSERT_EQ(stat(home.Shared().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the shared folder holds the log and the configuration";
    std::string log = home.Log();
    EXPECT_NE(log.find("------------ BEGINNING OF APP"), std::string::npos);
    EXPECT_NE(log.find("MyApp::Initialize() Begin"), std::string::npos);
    EXPECT_EQ(Http_GetExtraCAFile(), "");
}

TEST_F(AppBase, StartUpLetsZipMembersOpenInPlace) {
    std::string zip = home.Shared() + "/maps.zip";
    std::string make = "/usr/bin/python3 -c \"import zipfile,sys; "
                       "zipfile.ZipFile(sys.argv[1],'w').writestr('Maps/readme.txt','inside')\" " +
                       zip;
    ASSERT_EQ(system(make.c_str()), 0);
    DString text;
    TStringErr_i err;
    EXPECT_TRUE(TFicheroITV::LeeTodoAString((zip + "!/Maps/readme.txt").c_str(), text, &err)) << err.c_str();
    EXPECT_STREQ(text.c_str(), "inside");
}

TEST_F(AppBase, InstallRequestParsing) {
    const struct {
        const char* request;
        bool found;
        const char* params;
        bool error_text;
    } cases[] = {
        {"quillinstallwizard2:abc def", true, "abc", false},
        {"quillinstallwizard:abc", true, "abc", false},
        {"quillinstallwizard:abc def ghi", true, "abc", false},
        {"quillinstallwizard:", false, "", false},
        {"quillinstallwizard: abc", false, "", false},
        {"https://example.com/x", false, "", false},
        {"", false, "", true},
    };
    for (const auto& c : cases) {
        TestApp a;
        DString request = c.request;
        TStringErr_i err;
        EXPECT_EQ(a.GetInstallParams(request, err), c.found) << c.request;
        EXPECT_STREQ(request.c_str(), c.params) << c.request;
        EXPECT_EQ(a.m_params_received, c.found) << c.request;
        EXPECT_EQ(!err.IsEmpty(), c.error_text) << c.request;
    }
}

TEST_F(AppBase, TheSecondSchemeIsRewrittenEverywhere) {
    DString request = "quillinstallwizard2:abc quillinstallwizard2:def";
    TStringErr_i err;
    ASSERT_TRUE(app.GetInstallParams(request, err));
    EXPECT_STREQ(app.m_raw_request.c_str(), "quillinstallwizard:abc quillinstallwizard:def");
}

TEST_F(AppBase, TheFirstRequestBuildsTheFrameAndLaterOnesAreIgnored) {
    EXPECT_TRUE(app.ContinueOnInit("quillinstallwizard:SECRETPARAMS1 tail"));
    EXPECT_EQ(app.frames, 1);
    EXPECT_STREQ(app.frame_params.c_str(), "SECRETPARAMS1");
    EXPECT_FALSE(app.frame_no_params);
    EXPECT_TRUE(app.m_startup_error.IsEmpty());

    EXPECT_FALSE(app.ContinueOnInit("quillinstallwizard:SECRETPARAMS2"));
    EXPECT_EQ(app.frames, 1);
    EXPECT_STREQ(app.m_install_params.c_str(), "SECRETPARAMS1");
    EXPECT_EQ(MyApp_base::RequestCount(), 2);

    std::string log = home.Log();
    EXPECT_EQ(CountOf(log, "MyApp::ContinueOnInit() . --- Error !!! --- Second time"), 1);
    EXPECT_NE(log.find("MyApp::OnInitInitialize() End"), std::string::npos);
    // The parameters travel in the log only as length and hash.
    EXPECT_EQ(log.find("SECRETPARAMS"), std::string::npos);
    EXPECT_NE(log.find("installParams=len=37 . hash="), std::string::npos);
}

TEST_F(AppBase, AStartWithoutALinkCarriesTheNoParametersError) {
    EXPECT_TRUE(app.ContinueOnInit(""));
    EXPECT_EQ(app.frames, 1);
    EXPECT_TRUE(app.frame_no_params);
    EXPECT_STREQ(app.m_startup_error.c_str(), GetTxt("Txt.Err.No.Params.Received").c_str());
    EXPECT_EQ(std::string(app.m_startup_error.c_str()).rfind("Please, try once again", 0), 0u);
    EXPECT_NE(home.Log().find("MyApp::GetInstallParams() . No installParams"), std::string::npos);
}

TEST_F(AppBase, TheCatalogueIsWrittenToTheLocaleFolderAndSelected) {
    app.OnInitInitialize();
    std::string locale = app.m_locale_path.c_str();
    EXPECT_EQ(locale, home.DataHome() + "/Downloader_Env/qiwlocale/");
    for (const char* name : kCatalogueLocaleNames) {
        struct stat st;
        EXPECT_EQ(stat((locale + name + "/LC_MESSAGES/messages.mo").c_str(), &st), 0) << name;
    }
    EXPECT_TRUE(CatalogueSelected());
    EXPECT_STREQ(GetTxt("Txt.Button.Next").c_str(), "Next");
    EXPECT_NE(home.Log().find(
                  "MyApp::SelectLanguage() . language=58 . ok=1 . cur_Language=58 . pathlanguage=messages"),
              std::string::npos);
}

TEST_F(AppBase, AStoredLanguageIsLoggedThenReplacedByEnglish) {
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    TManagerUtils_base::SetValue("178", "Language");
    EXPECT_EQ(app.GetLanguage(), 178);
    EXPECT_NE(home.Log().find("MyApp::GetLanguage() . language=178"), std::string::npos);
    app.SelectLanguage();
    DString stored;
    ASSERT_TRUE(TManagerUtils_base::GetValue(stored, "Language"));
    EXPECT_STREQ(stored.c_str(), "58");
    TManagerUtils_base::SetValue("0", "Language");
    EXPECT_EQ(app.GetLanguage(), 58);
}

TEST_F(AppBase, ConfigurationLines) {
    ReadConfigurationText("  WebServerUrl=example  \r\n"
                          "webserverurl=ignored\n"
                          "IntegrityType=3\r"
                          "\n"
                          "StatsServerUrl=stats.test:81\n"
                          "SupportServerUrl=support.test:82\n"
                          "Unknown=1\n"
                          "WebServerUrl=\n"
                          "IntegrityType=1\n");
    EXPECT_STREQ(server_www_com.c_str(), "example");
    EXPECT_EQ(integrity_type, 1) << "a later line wins";
    EXPECT_STREQ(server_stats_com.c_str(), "stats.test:81");
    EXPECT_STREQ(server_support_com.c_str(), "support.test:82");
}

TEST_F(AppBase, ConfigurationPathsMustBeAbsolute) {
    const std::string volumes = home.dir().Path("volumes");
    ReadConfigurationText("CAFile=relative/ca.pem\nVolumesRoot=relative\n");
    EXPECT_EQ(Http_GetExtraCAFile(), "");
    EXPECT_FALSE(Linux_VolumesRootIsOverride());
    ReadConfigurationText(("CAFile=/etc/ssl/test-ca.pem\nVolumesRoot=" + volumes + "\n").c_str());
    EXPECT_EQ(Http_GetExtraCAFile(), "/etc/ssl/test-ca.pem");
    EXPECT_TRUE(Linux_VolumesRootIsOverride());
    EXPECT_EQ(std::string(TStringNomFitx::Ret_Volumes_Root().c_str()), volumes + "/");
    EXPECT_NE(home.Log().find("CAFile ignored (not an absolute path)=relative/ca.pem"), std::string::npos);
}

TEST_F(AppBase, ConfigurationFileFoundOrNot) {
    ReadConfigurationFile();
    EXPECT_STREQ(server_www_com.c_str(), kDefaultServerWwwCom);
    EXPECT_NE(home.Log().find("downloader.cfg not found"), std::string::npos);

    ASSERT_TRUE(
        home.dir().Write("home/.local/share/Downloader/downloader.cfg", "WebServerUrl=127.0.0.1:1\r\n"));
    ReadConfigurationFile();
    EXPECT_STREQ(server_www_com.c_str(), "127.0.0.1:1");
    EXPECT_NE(home.Log().find("downloader.cfg found"), std::string::npos);
}

TEST_F(AppBase, ParamsFileIsPrivateAndDeletedAtExit) {
    TStringErr_i err;
    EXPECT_FALSE(app.SaveParams(err));
    EXPECT_STREQ(err.c_str(), "No Params when SaveParams()");

    app.m_raw_request = "quillinstallwizard:abc";
    err.Vacia();
    ASSERT_TRUE(app.SaveParams(err)) << err.c_str();
    const std::string file = app.ParamsFile().c_str();
    EXPECT_EQ(file, home.AppData() + "/params.bkp");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    app.m_raw_request = "";
    ASSERT_TRUE(app.ReadParams(err));
    EXPECT_STREQ(app.m_raw_request.c_str(), "quillinstallwizard:abc");

    app.Exit_base();
    EXPECT_NE(lstat(file.c_str(), &st), 0);
    EXPECT_NE(home.Log().find("MyApp::DeleteParams() . ok=1 . File=" + file), std::string::npos);
    EXPECT_TRUE(app.DeleteParams(err)) << "a missing file counts as deleted";
    EXPECT_NE(home.Log().find("MyApp::DeleteParams() . In the beginning Params File Not found=" + file),
              std::string::npos);
}

TEST_F(AppBase, ParamsFileThatIsALinkIsNeitherReadNorFollowed) {
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("target", "quillinstallwizard:elsewhere"));
    const std::string file = app.ParamsFile().c_str();
    ASSERT_EQ(symlink(outside.Path("target").c_str(), file.c_str()), 0);
    TStringErr_i err;
    EXPECT_FALSE(app.ReadParams(err));
    EXPECT_STREQ(err.c_str(), "Error reading params when ReadParams()");
    EXPECT_TRUE(app.DeleteParams(err));
    EXPECT_EQ(outside.Read("target"), "quillinstallwizard:elsewhere");
}

TEST(MessageBox, StyleCodesAndAnswers) {
    const struct {
        int style;
        long flags;
    } styles[] = {
        {1, wxOK | wxCANCEL},
        {2, wxOK},
        {3, wxYES_NO | wxCANCEL},
        {4, wxYES_NO},
        {0, wxOK},
        {9, wxOK},
        {0x14, wxYES_NO | wxICON_ERROR},
        {0x24, wxYES_NO | wxICON_QUESTION},
        {0x42, wxOK | wxICON_INFORMATION},
    };
    for (const auto& s : styles)
        EXPECT_EQ(MessageBoxToolkitStyle(s.style), s.flags) << s.style;

    const struct {
        int toolkit;
        int answer;
    } answers[] = {{wxYES, 6}, {wxOK, 1}, {wxNO, 7}, {wxCANCEL, 2}, {wxHELP, 0}, {0, 0}};
    for (const auto& a : answers)
        EXPECT_EQ(MessageBoxAnswer(a.toolkit), a.answer) << a.toolkit;
}

TEST(MessageBox, TheSeamAnswersForTheUser) {
    int seen_style = -1;
    DString seen_caption;
    // The user picks No in a Yes/No box.
    TMessageBoxFn old = SetApplicationMessageBox([&](const DString&, const DString& caption, int style) {
        seen_style = style;
        seen_caption = caption;
        return MessageBoxAnswer(wxNO);
    });
    EXPECT_EQ(Application_MessageBox("Quit?", "Downloader", 4), 7);
    EXPECT_EQ(seen_style, 4);
    EXPECT_STREQ(seen_caption.c_str(), "Downloader");
    SetApplicationMessageBox(nullptr);
    EXPECT_EQ(Application_MessageBox("Quit?", "Downloader", 4), 0) << "no box can be shown";
    SetApplicationMessageBox(old);
}

} // namespace
