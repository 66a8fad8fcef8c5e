// The server session against the simulated web service over HTTPS (its own test authority):
// login check, product list, retries and error answers, and the requests as the service
// deciphered them. Waits run on a fake clock, which records them.
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "foundation/StringErr.h"
#include "foundation/Threads.h"
#include "protocol/Catalogue.h"
#include "protocol/ServerProtocol.h"
#include "support/DemoUser.h"
#include "support/TempDir.h"
#include "support/World.h"
#include "transfer/InternetITV.h"
#include "transfer/ManagerComm.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace dltest::demo;                 // the demo scenario's user
const int64_t k2024 = 1704067200LL * 1000000; // 2024-01-01 00:00:00 UTC

class Session : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world_ = new dltest::World();
        locale_ = new dltest::TempDir("dlcat");
        TStringErr_i err;
        MoveLocaleToFolder(locale_->path().c_str(), err);
        SelectCatalogue(locale_->path().c_str());
    }
    static void TearDownTestSuite() {
        ReleaseCatalogue();
        delete world_;
        delete locale_;
        world_ = nullptr;
        locale_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(world_->ok()) << world_->error();
        ASSERT_TRUE(CatalogueSelected());
        server_www_com = world_->Get("web.host").c_str();
        TInternetITV::Set_CAFile(world_->Get("ca_file").c_str());
        Web(R"({"clear":true})");
        first_record_ = world_->Records("web").size();
        log_ = std::make_unique<TRegistra>(dir_.Path("session.log").c_str());
        SetRegistraComun(log_.get());
        ResetErrorFlags();
        comm_ = std::make_unique<TManagerComm>(dir_.Path("qiwdata").c_str());
    }
    void TearDown() override {
        SetRegistraComun(&RegistraGPS);
        server_www_com = kDefaultServerWwwCom;
        ResetErrorFlags();
    }

    // Sets the service's answer sequences (tools/README.md, control endpoint "/web").
    void Web(const std::string& json) {
        TInternetITV net;
        DString answer;
        TStringErr_i err;
        DString url = (world_->Get("control.url") + "/web").c_str();
        ASSERT_TRUE(net.Post_HTTP_ITV_Str(url, json.c_str(), answer, err)) << err.c_str();
        ASSERT_NE(std::string(answer.c_str()).find("\"ok\": true"), std::string::npos)
            << answer.c_str() << json;
    }
    // The web-service requests made since the test began (waiting for `count` of them).
    std::vector<dltest::World::Record> Requests(size_t count) {
        auto all = world_->WaitRecords("web", first_record_ + count);
        return std::vector<dltest::World::Record>(all.begin() + first_record_, all.end());
    }
    std::string Log() const { return dir_.Read("session.log"); }
    // The session of the demo user once the login has stored its session id and token.
    void LogIn(TServerSession& s) {
        s.managerComm = comm_.get();
        s.sessionId = kSession;
        s.token = kToken;
    }

    bool Login(TStringErr& err, DString& token, DString& session, const char* password = kPassword) {
        token = kToken;
        session = kSession;
        return comm_->Server_Login_Check(kUser, password, token, session, "en", err, nullptr);
    }

    static dltest::World* world_;
    static dltest::TempDir* locale_;
    dltest::TempDir dir_;
    TFakeClockITV clock_{5000000, k2024};
    TScopedClockITV scoped_clock_{&clock_};
    std::unique_ptr<TRegistra> log_;
    std::unique_ptr<TManagerComm> comm_;
    size_t first_record_ = 0;
};
dltest::World* Session::world_ = nullptr;
dltest::TempDir* Session::locale_ = nullptr;

TEST_F(Session, LoginAcceptedAndTheRequestFieldByField) {
    TStringErr_i err;
    DString token, session;
    ASSERT_TRUE(Login(err, token, session)) << err.c_str();
    EXPECT_TRUE(err.IsEmpty());
    EXPECT_STREQ(token.c_str(), kToken);
    EXPECT_STREQ(session.c_str(), kSession);
    EXPECT_EQ(GetLastErrorRecord().code, kNoErrorCode);
    EXPECT_TRUE(clock_.Sleeps().empty());

    auto r = Requests(1);
    ASSERT_EQ(r.size(), 1u);
    auto& q = r[0];
    EXPECT_EQ(q["method"], "GET");
    EXPECT_EQ(q["path"], "/installwizard/index.php");
    EXPECT_EQ(q["error"], "");
    const char* names[] = {"func",    "Token",          "sessionId", "usr",  "pwd",
                           "version", "Device_product", "ptf",       "lang", "devid"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        EXPECT_EQ(q["pairs." + std::to_string(i) + ".0"], names[i]) << i;
    EXPECT_EQ(q["func"], "LOGINCHECK");
    EXPECT_EQ(q["fields.Token"], kToken);
    EXPECT_EQ(q["fields.sessionId"], kSession);
    EXPECT_EQ(q["fields.usr"], kUser);
    EXPECT_EQ(q["fields.pwd"], kPassword);
    EXPECT_EQ(q["fields.version"], "149");
    EXPECT_EQ(q["fields.Device_product"], "DownloaderOS");
    EXPECT_EQ(q["fields.ptf"], "mac");
    EXPECT_EQ(q["fields.lang"], "en");
    EXPECT_EQ(q["fields.devid"], ThisComputerId().c_str());
    EXPECT_EQ(q["pairs.10.0"], q["nonce"]);
    EXPECT_EQ(q["nonce"].size(), 6u);
    EXPECT_EQ(q["nonce"].find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"), std::string::npos);
    EXPECT_EQ(q["pairs.11.0"], ""); // nothing after the nonce

    // Neither the password nor the token nor the session id reaches the log in clear.
    std::string log = Log();
    EXPECT_NE(log.find("func=LOGINCHECK"), std::string::npos);
    for (const char* secret : {kPassword, kToken, kSession})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST_F(Session, LoginRefused) {
    TStringErr_i err;
    DString token, session;
    EXPECT_FALSE(Login(err, token, session, "wrong-password"));
    EXPECT_STREQ(err.c_str(), "Error during login process. Check credentials. ");
    EXPECT_EQ(GetLastErrorRecord().code, 73108);
    EXPECT_STREQ(GetLastErrorRecord().file.c_str(), "No Linked");
    EXPECT_EQ(Requests(1).size(), 1u);
}

TEST_F(Session, ExpiredSessionIsFinalAfterOneFetch) {
    Web(R"({"login":[{"kind":"expired","text":"expired"}]})");
    TManagerCommData data;
    ASSERT_TRUE(comm_->GetURLParams("func=LOGINCHECK&Token=t&sessionId=s&usr=u&pwd=p", data.url));
    TStringErr_i err;
    EXPECT_TRUE(comm_->FuncDownloadData(data, err, nullptr, true));
    EXPECT_STREQ(err.c_str(), "ERROR 2526 expired");

    Web(R"({"login":[{"kind":"expired","text":"expired"}]})");
    DString token, session;
    TStringErr_i login_err;
    EXPECT_FALSE(Login(login_err, token, session));
    EXPECT_STREQ(login_err.c_str(), "ERROR 2526 expired");
    EXPECT_EQ(Requests(2).size(), 2u); // one fetch each
    EXPECT_TRUE(clock_.Sleeps().empty());
}

TEST_F(Session, FailingAnswersAreFetchedThreeTimes) {
    struct Case {
        const char* steps;
        const char* message;
        int code;
    } cases[] = {
        {R"({"kind":"error","text":"ERROR 10","count":3})",
         "Error connection with server. Bad response.\nERROR 10", 7310901},
        {R"({"kind":"text","body":"xx ERROR 7 \"a\" }","count":3})",
         "Error connection with server. Bad response.\nERROR 7 ", 7310901},
        {R"({"kind":"empty","count":3})", "Error connection with server. Bad response.\nNo URL Answer.",
         73121},
        {R"({"kind":"enciphered_empty","count":3})",
         "Error connection with server. Bad response.\nNo URL Answer.", 73121},
        {R"({"kind":"raw","body":"<html>maintenance</html>","count":3})",
         "Error connection with server. Bad response.\n<html>maintenance</html>", 7310901},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        ResetErrorFlags();
        size_t sleeps_before = clock_.Sleeps().size();
        size_t before = world_->Records("web").size();
        Web(std::string(R"({"login":[)") + c.steps + "]}");
        TStringErr_i err;
        DString token, session;
        EXPECT_FALSE(Login(err, token, session));
        EXPECT_STREQ(err.c_str(), c.message);
        EXPECT_EQ(GetLastErrorRecord().code, c.code);
        EXPECT_EQ(world_->WaitRecords("web", before + 3).size() - before, 3u);
        std::vector<int> sleeps = clock_.Sleeps();
        EXPECT_EQ(std::vector<int>(sleeps.begin() + sleeps_before, sleeps.end()),
                  (std::vector<int>{1000, 1000, 1000}));
    }
}

TEST_F(Session, LoginAnswersThatAreNotUsable) {
    {
        Web(R"({"login":[{"kind":"text","body":"hello"}]})");
        TStringErr_i err;
        DString token, session;
        EXPECT_FALSE(Login(err, token, session));
        EXPECT_STREQ(err.c_str(), "Error during login process.  Bad response. . (Parse) data.resp=hello");
        EXPECT_EQ(GetLastErrorRecord().code, 7310601);
    }
    {
        ResetErrorFlags();
        Web(R"({"login":[{"kind":"no_session"}]})");
        TStringErr_i err;
        DString token, session;
        EXPECT_FALSE(Login(err, token, session));
        EXPECT_STREQ(err.c_str(), "Error during login process.  Bad response.");
        EXPECT_EQ(GetLastErrorRecord().code, 7310602);
    }
    {
        ResetErrorFlags();
        Web(R"({"login":[{"kind":"errorMsg","text":"Account locked"}]})");
        TStringErr_i err;
        DString token, session;
        EXPECT_FALSE(Login(err, token, session));
        EXPECT_STREQ(err.c_str(), "Account locked");
    }
    EXPECT_EQ(Requests(3).size(), 3u);
    EXPECT_TRUE(clock_.Sleeps().empty());
}

TEST_F(Session, DemoProductsAndTheirRequest) {
    TUserInfo user;
    VectorS<TProduct> list;
    TStringErr_i err;
    ASSERT_TRUE(comm_->Server_User_Products(kSession, kToken, user, list, "en", err, nullptr)) << err.c_str();
    EXPECT_STREQ(user.userName.c_str(), "Demo User");
    EXPECT_STREQ(user.email.c_str(), "demo@example.com");
    ASSERT_EQ(list.Numero(), 3);
    EXPECT_EQ(list[0].id, 101);
    EXPECT_STREQ(list[0].name.c_str(), "Europe Maps");
    EXPECT_STREQ(list[0].description.c_str(), "Topographic maps of Europe");
    EXPECT_EQ(list[0].retries, 3);
    ASSERT_EQ(list[0].links.Numero(), 1);
    const TProductLink& l = list[0].links[0];
    EXPECT_EQ(std::string(l.url.c_str()), world_->Get("files_https.url") + "/downloads/Europe_Maps.zip");
    EXPECT_STREQ(l.installPath.c_str(), "/documents/Maps/");
    EXPECT_STREQ(l.name.c_str(), "Europe_Maps");
    EXPECT_STREQ(l.fileName.c_str(), "Europe_Maps.zip");
    EXPECT_GT(l.size, 0);
    EXPECT_EQ(l.md5.Length(), 32);
    EXPECT_EQ(l.md5.strchrs("abcdef"), -1);
    EXPECT_FALSE(l.optional);
    EXPECT_TRUE(list[1].links[0].updateable); // Radars_Europe_2025.zip
    EXPECT_TRUE(comm_->HasUpdateableFiles());
    ASSERT_EQ(list[2].links.Numero(), 2);
    EXPECT_TRUE(list[2].links[0].optional);

    auto r = Requests(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["func"], "PRODUCTSTOINSTALL");
    EXPECT_EQ(r[0]["pairs.1.0"], "sessionId");
    EXPECT_EQ(r[0]["fields.sessionId"], kSession);
    EXPECT_EQ(r[0]["pairs.2.0"], "Token");
    EXPECT_EQ(r[0]["fields.Token"], kToken);
    EXPECT_EQ(r[0]["fields.version"], "149");
    EXPECT_EQ(r[0]["fields.lang"], "en");
    EXPECT_EQ(r[0]["fields.devid"], ThisComputerId().c_str());
}

TEST_F(Session, EveryFilterRuleOfTheProductList) {
    Web(R"({"products":[{"kind":"json","body":{"sessionOK":true,"UserName":"Ana","Email":"ana@example.com",
      "Products":[
        {"Id":1,"Name":"Keep","Description":"d","Retries":2,"Links":[
          {"Url":"https://h/a.zip?sig=1","Path":"/documents/Maps/","Name":"a","File":"a.zip","Size":1234567890123,
           "Md5":"\"ab12\"","Optional":true},
          {"Url":"https://h/b","Path":"/documents/Maps/","Name":"b","File":"b.imp","Optional":true},
          {"Url":"https://h/c","Path":"/documents/Data/","Name":"c","File":"c.dat","Optional":"true"},
          {"Url":"https://h/c1","Path":"/documents/Data/","Name":"c1","File":"c1.dat","Optional":1},
          {"Path":"/documents/Data/","Name":"nourl","File":"d.dat"},
          {"Url":"","Path":"/documents/Data/","Name":"emptyurl","File":"d.dat"},
          {"Url":"https://h/e","Name":"nopath","File":"e.dat"},
          {"Url":"https://h/f","Path":"/documents/Data/","Name":"nofile"},
          {"Url":"https://h/a2","Path":"/documents/Maps/","Name":"a","File":"a2.zip"},
          {"Url":"https://h/u1","Path":"/documents/Maps/../../../../etc/","Name":"u1","File":"u1.bin"},
          {"Url":"https://h/u2","Path":"/documents/Maps/","Name":"u2","File":"../../u2.bin"},
          {"Url":"https://h/u3","Path":"/documents/Maps/","Name":"u3","File":"/etc/passwd"},
          {"Url":"https://h/u4","Path":"/documents/Maps/","Name":"u4","File":"c:u4.bin"},
          {"Url":"https://h/r","Path":"/documents/Radars/","Name":"r","File":"Radars_Europe_2021.zip","Md5":null}]},
        {"Id":0,"Name":"Id zero","Links":[{"Url":"https://h/z0","Path":"/documents/Data/","Name":"z0","File":"z0"}]},
        {"Id":3,"Name":"","Links":[{"Url":"https://h/z1","Path":"/documents/Data/","Name":"z1","File":"z1"}]},
        {"Id":4,"Name":"No links","Links":[]},
        {"Id":5,"Name":"No Links member"},
        {"Id":6,"Name":"Only a duplicate","Links":[
          {"Url":"https://h/a3","Path":"/documents/Maps/","Name":"a","File":"a3.zip"}]},
        {"Id":7,"Name":"Second","Links":[{"Url":"https://h/s","Path":"/documents/Data/","Name":"s","File":"s.dat",
          "Size":10}]}]}}]})");
    TUserInfo user;
    VectorS<TProduct> list;
    TStringErr_i err;
    ASSERT_TRUE(comm_->Server_User_Products(kSession, kToken, user, list, "en", err, nullptr)) << err.c_str();
    ASSERT_EQ(list.Numero(), 2);
    const TProduct& keep = list[0];
    EXPECT_EQ(keep.id, 1);
    EXPECT_EQ(keep.retries, 2);
    ASSERT_EQ(keep.links.Numero(), 5);
    const char* kept[] = {"a", "b", "c", "c1", "r"};
    for (int i = 0; i < 5; ++i)
        EXPECT_STREQ(keep.links[i].name.c_str(), kept[i]);
    EXPECT_STREQ(keep.links[0].md5.c_str(), "AB12");
    EXPECT_EQ(keep.links[0].size, 1234567890123LL);
    EXPECT_STREQ(keep.links[0].url.c_str(), "https://h/a.zip?sig=1");
    EXPECT_TRUE(keep.links[0].optional);
    EXPECT_FALSE(keep.links[1].optional); // "imp"
    EXPECT_FALSE(keep.links[2].optional); // the text "true"
    EXPECT_FALSE(keep.links[3].optional); // the number 1
    EXPECT_STREQ(keep.links[4].md5.c_str(), "");
    EXPECT_TRUE(keep.links[4].updateable);
    EXPECT_TRUE(comm_->HasUpdateableFiles());
    EXPECT_EQ(list[1].id, 7);
    EXPECT_EQ(list[1].retries, -1);
    EXPECT_EQ(list[1].links[0].size, 10);

    std::string log = Log();
    EXPECT_NE(log.find("   - ********* duplicate ***  . Name=a"), std::string::npos);
    EXPECT_NE(log.find("  ---> optional forced to not, imp map"), std::string::npos);
    for (const char* unsafe : {"Name=u1", "Name=u2", "Name=u3", "Name=u4"})
        EXPECT_NE(log.find(std::string("unsafe File or Path from the server, link dropped . ") + unsafe),
                  std::string::npos)
            << unsafe;
    EXPECT_EQ(Requests(1).size(), 1u);
}

TEST_F(Session, ProductAnswersThatFail) {
    struct Case {
        const char* steps;
        const char* message;
        int code;
        int fetches;
    } cases[] = {
        {R"({"kind":"filtered"})", "Error during login process. No products received.", 73112, 1},
        {R"({"kind":"no_products"})", "Error during login process. No products received.", 73112, 1},
        {R"({"kind":"refused"})", "Error while checking the list of products.", 73111, 1},
        {R"({"kind":"expired"})", "Error while checking the list of products.", 73111, 1},
        {R"({"kind":"text","body":"plain words"})",
         "Error while checking the list of products. Bad response. ", 7311002, 1},
        {R"({"kind":"error","count":3})",
         "Error while checking the list of products. Bad response. ERROR 10 Internal error", 7311001, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        ResetErrorFlags();
        size_t before = world_->Records("web").size();
        Web(std::string(R"({"products":[)") + c.steps + "]}");
        TUserInfo user;
        VectorS<TProduct> list;
        TStringErr_i err;
        EXPECT_FALSE(comm_->Server_User_Products(kSession, kToken, user, list, "en", err, nullptr));
        EXPECT_STREQ(err.c_str(), c.message);
        EXPECT_EQ(GetLastErrorRecord().code, c.code);
        EXPECT_EQ(list.Numero(), 0);
        EXPECT_EQ(world_->WaitRecords("web", before + c.fetches).size() - before, size_t(c.fetches));
    }
}

TEST_F(Session, NoProductsMemberIsAnEmptySuccess) {
    Web(R"({"products":[{"kind":"no_products_member"}]})");
    TUserInfo user;
    VectorS<TProduct> list;
    list.Anyade(TProduct()); // emptied first
    TStringErr_i err;
    EXPECT_TRUE(comm_->Server_User_Products(kSession, kToken, user, list, "en", err, nullptr));
    EXPECT_TRUE(err.IsEmpty());
    EXPECT_EQ(list.Numero(), 0);
    EXPECT_EQ(GetLastErrorRecord().code, kNoErrorCode);
    EXPECT_EQ(Requests(1).size(), 1u);
}

TEST_F(Session, GetProductsRetriesOnceAfterSevenSeconds) {
    TServerSession s;
    LogIn(s);

    Web(R"({"products":[{"kind":"error","count":3}]})");
    TStringErr_i err;
    ASSERT_TRUE(s.GetProducts(err)) << err.c_str();
    EXPECT_TRUE(err.IsEmpty());
    EXPECT_EQ(s.products.Numero(), 3);
    EXPECT_STREQ(s.userInfo.userName.c_str(), "Demo User");
    EXPECT_EQ(clock_.Sleeps(), (std::vector<int>{1000, 1000, 1000, 7000}));
    EXPECT_EQ(GetLastErrorRecord().code, kNoErrorCode); // reset before the second try
    EXPECT_EQ(Requests(4).size(), 4u);

    // Both tries fail: the list and the user stay as they were, the second failure is reported.
    Web(R"({"products":[{"kind":"error","count":3},{"kind":"refused"}]})");
    TStringErr_i err2;
    EXPECT_FALSE(s.GetProducts(err2));
    EXPECT_STREQ(err2.c_str(), "Error while checking the list of products.");
    EXPECT_EQ(GetLastErrorRecord().code, 73111);
    EXPECT_EQ(s.products.Numero(), 3);
    EXPECT_EQ(clock_.Sleeps(), (std::vector<int>{1000, 1000, 1000, 7000, 1000, 1000, 1000, 7000}));
    EXPECT_EQ(Requests(8).size(), 8u);
}

TEST_F(Session, AStopDuringTheSevenSecondPauseSkipsTheSecondTry) {
    TServerSession s;
    LogIn(s);

    Web(R"({"products":[{"kind":"error","count":3}]})");
    TMonitorProc mon;
    // The window closes while the session waits before its second try.
    clock_.OnSleep([&](int ms) {
        if (ms == 100 && clock_.SleepCount() == 5) mon.Cancelar();
    });
    TStringErr_i err;
    EXPECT_FALSE(s.GetProducts(err, &mon));
    EXPECT_EQ(clock_.Sleeps(), (std::vector<int>{1000, 1000, 1000, 100, 100}));
    EXPECT_EQ(Requests(3).size(), 3u); // no fourth request
    clock_.OnSleep(nullptr);
}

TEST_F(Session, UnreachableServerKeepsTheConnectionError) {
    server_www_com = "127.0.0.1:9"; // discard port: nothing listens
    TStringErr_i err;
    DString token, session;
    EXPECT_FALSE(Login(err, token, session));
    EXPECT_TRUE(err.StartsWith("Error connection with server. Bad response.\n")) << err.c_str();
    EXPECT_GT(err.Length(), 45);
    EXPECT_FALSE(comm_->LastConnError().IsEmpty());
    EXPECT_EQ(GetLastErrorRecord().code, 7310901);
    EXPECT_EQ(clock_.Sleeps(), (std::vector<int>{1000, 1000, 1000}));
}

TEST_F(Session, ProgressTextsComeFromTheCatalogue) {
    comm_->SetIdiomaMsgs();
    EXPECT_STREQ(TInternetITV::Texto_Progreso(1536 * 1024, 10 * 1024 * 1024).c_str(),
                 "1.50 Mb of 10.00 Mb transferred");
    TInternetITV::Set_Progress_Formats("", "");
}

TEST(SessionFolder, DownloadFolderAndItsFallback) {
    dltest::TempDir dir;
    {
        TManagerComm comm(dir.Path("a/qiwdata").c_str());
        EXPECT_STREQ(comm.TempDataPath().c_str(), (dir.Path("a/qiwdata") + "/").c_str());
        EXPECT_FALSE(comm.NoTempFolder());
        EXPECT_TRUE(dir.Exists("a/qiwdata"));
    }
    std::vector<std::string> asked;
    {
        TManagerComm comm(dir.Path("b/qiwdata").c_str(), [&](const TStringNomFitx& f) {
            asked.push_back(f.c_str());
            return asked.size() == 2;
        });
        ASSERT_EQ(asked.size(), 2u);
        const std::string tail = "/Downloader/qiwdata/";
        ASSERT_GT(asked[1].size(), tail.size());
        EXPECT_EQ(asked[1].substr(asked[1].size() - tail.size()), tail);
        EXPECT_STREQ(comm.TempDataPath().c_str(), asked[1].c_str());
        EXPECT_FALSE(comm.NoTempFolder());
    }
    asked.clear();
    {
        TManagerComm comm(dir.Path("c/qiwdata").c_str(), [&](const TStringNomFitx& f) {
            asked.push_back(f.c_str());
            return false;
        });
        EXPECT_EQ(asked.size(), 2u);
        EXPECT_STREQ(comm.TempDataPath().c_str(), (dir.Path("c/qiwdata") + "/").c_str());
        EXPECT_TRUE(comm.NoTempFolder());
    }
}

} // namespace
