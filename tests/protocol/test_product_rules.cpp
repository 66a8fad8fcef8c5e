// Product records and the rules of the service's answers that need no server: safe names from the
// server, year-versioned files, error answers, request URLs and what the log may show.
#include "foundation/Json.h"
#include "foundation/StringErr.h"
#include "protocol/CryptITV.h"
#include "protocol/Product.h"
#include "protocol/ServerProtocol.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(SafeServerPath, TableOfInstallPathsAndFileNames) {
    struct Case {
        const char* path;
        bool install_path;
        bool safe;
    } cases[] = {
        {"/documents/Maps/", true, true},
        {"/documents/Maps/Europe", true, true},
        {"/documents/Maps/Europe_RTMAP/", true, true},
        {"documents/Maps/", true, false}, // not from the device's root
        {"/", true, false},
        {"//documents/Maps/", true, false},
        {"/documents//Maps/", true, false},
        {"/documents/Maps/../../../etc/", true, false},
        {"/documents/./Maps/", true, false},
        {"/documents/Maps/..", true, false},
        {"/documents\\..\\..\\etc/", true, false},
        {"/C:/documents/", true, false},
        {"/documents/Ma\x01ps/", true, false},
        {"", true, false},
        {"x.bin", false, true},
        {"Maps/x.qmap", false, true},
        {"Radars_Europe_2021.zip", false, true},
        {"/etc/passwd", false, false},
        {"../x.bin", false, false},
        {"a/../../x.bin", false, false},
        {"..", false, false},
        {".", false, false},
        {"dir/", false, false},
        {"a//b", false, false},
        {"c:x.bin", false, false},
        {"..\\x.bin", false, false},
        {"x\tname", false, false},
        {"", false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSafeServerPath(c.path, c.install_path), c.safe)
            << c.path << " install=" << c.install_path;
}

TEST(UpdateableFile, YearWindowAndNames) {
    struct Case {
        const char* file;
        bool updateable;
        const char* suffix;
        const char* base;
        const char* base_no_hd;
    } cases[] = {
        {"Radars_Europe_2021.zip", true, "_2021.", "Radars_Europe", "Radars_Europe"},
        {"Maps_HD_Europe_HD_2024.qmap", true, "_2024.", "Maps_HD_Europe_HD", "Maps_Europe"},
        {"Radars_2004.zip", true, "_2004.", "Radars", "Radars"}, // 20 years before
        {"Radars_2029.zip", true, "_2029.", "Radars", "Radars"}, // 5 years after
        {"Radars_2003.zip", false, "", "", ""},
        {"Radars_2030.zip", false, "", "", ""},
        {"2021.zip", false, "", "", ""},           // no '_'
        {"Radars_2021", false, "", "", ""},        // no extension
        {"Radars_2021.tar.gz", false, "", "", ""}, // "2021.tar" is no year
        {"Radars_20a1.zip", false, "", "", ""},
        {"Radars_12021.zip", false, "", "", ""},
        {"Radars_2021_x.zip", false, "", "", ""},
    };
    for (const Case& c : cases) {
        DString suffix, base, no_hd;
        EXPECT_EQ(GetInfoUpdateableFile(c.file, suffix, base, no_hd, 2024), c.updateable) << c.file;
        EXPECT_STREQ(suffix.c_str(), c.suffix) << c.file;
        EXPECT_STREQ(base.c_str(), c.base) << c.file;
        EXPECT_STREQ(no_hd.c_str(), c.base_no_hd) << c.file;
    }
}

TEST(ErrorAnswer, TableOfAnswers) {
    struct Case {
        const char* answer;
        bool error;
        const char* text;
    } cases[] = {
        {"xx ERROR 7 \"a\" }", true, "ERROR 7 "},
        {"ERROR 12 } more", true, "ERROR 12 "},
        {"{\"errorMsg\":\"ERROR 2526 expired\"}", true, "ERROR 2526 expired"},
        {"{\"errorMsg\":\"Service said: ERROR 10 \\\"x\\\" }\"}", true, "ERROR 10 \"x\" }"},
        {"{\"errorMsg\":\"not an error word\"}", false, ""},
        {"{\"errorMsg\":\"\",\"loginOK\":true}", false, ""},
        {"{\"loginOK\":true,\"UserName\":\"ERROR Maps Ltd\"}", false, ""}, // data, not an error
        {"{\"loginOK\":true}", false, ""},
        {"error in lower case", false, ""},
        {"<html>Internal ERROR</html>", true, "ERROR</html>"},
    };
    for (const Case& c : cases) {
        DString text;
        EXPECT_EQ(CheckErrorAnswer(c.answer, text), c.error) << c.answer;
        EXPECT_STREQ(text.c_str(), c.text) << c.answer;
    }
}

TEST(ErrorAnswer, EmptyAnswerIsRecorded) {
    ResetErrorFlags();
    DString text;
    EXPECT_TRUE(CheckErrorAnswer("", text));
    EXPECT_STREQ(text.c_str(), "Txt.MgrComm.Err.DownloadData.NoAnswer"); // no catalogue selected here
    TLastError e = GetLastErrorRecord();
    EXPECT_EQ(e.code, 73121);
    EXPECT_STREQ(e.file.c_str(), "No Linked");
    EXPECT_STREQ(e.device.c_str(), "No Linked");
    ResetErrorFlags();
}

TEST(Request, UrlCarriesTheEncipheredPlainText) {
    EXPECT_STREQ(GetUrlQuillWeb(37, "h:1").c_str(), "https://h:1/installwizard/index.php?");
    EXPECT_STREQ(GetUrlQuillWeb(38, "h:1").c_str(), "https://h:1/installwizard/enviaemail.php");
    EXPECT_STREQ(GetUrlQuillWeb(33, "h:1").c_str(), "http://h:1/middleware/StatusInformation/index.php?par=");
    EXPECT_STREQ(GetUrlQuillWeb(5, "h:1").c_str(), "");

    DString url;
    ASSERT_TRUE(BuildRequestUrl("func=LOGINCHECK&usr=a", "DEV-1", "h:1", url));
    const std::string prefix = "https://h:1/installwizard/index.php?par=";
    ASSERT_EQ(std::string(url.c_str()).rfind(prefix, 0), 0u);
    DString par = url.SubString(static_cast<int>(prefix.size()));
    EXPECT_EQ(par.strchrs("abcdef"), -1); // upper-case hex
    DString plain;
    ASSERT_TRUE(DecipherAnswer(par, plain));
    std::string p = plain.c_str();
    const std::string fixed =
        "func=LOGINCHECK&usr=a&version=149&Device_product=DownloaderOS&ptf=mac&lang=en&devid=DEV-1&";
    ASSERT_EQ(p.rfind(fixed, 0), 0u) << p;
    std::string nonce = p.substr(fixed.size());
    EXPECT_EQ(nonce.size(), 6u);
    EXPECT_EQ(nonce.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"), std::string::npos) << nonce;

    // Without a device: this computer's identifier, a hash, never the raw machine id.
    ASSERT_TRUE(BuildRequestUrl("func=X", "", "h:1", url));
    ASSERT_TRUE(DecipherAnswer(url.SubString(static_cast<int>(prefix.size())), plain));
    DString id = ThisComputerId();
    EXPECT_EQ(id.Length(), 64);
    EXPECT_TRUE(plain.Contains((std::string("&devid=") + id.c_str() + "&").c_str())) << plain.c_str();
}

TEST(Request, EnvironmentFoldersLieBesideTheApplicationData) {
    const char* old = getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/srv/data-home", 1);
    EXPECT_STREQ(GetEnvironmentDemandedPath("qiwdata").c_str(), "/srv/data-home/Downloader_Env/qiwdata/");
    EXPECT_STREQ(GetEnvironmentDemandedPath("qiwlocale").c_str(), "/srv/data-home/Downloader_Env/qiwlocale/");
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST(Log, SecretsNeverAppear) {
    EXPECT_STREQ(QueryForLog("func=LOGINCHECK&Token=tk&sessionId=S1&usr=ana@x.com&pwd=p&w").c_str(),
                 "func=LOGINCHECK&Token=********&sessionId=********&usr=ana@x.com&pwd=********&w");
    EXPECT_STREQ(QueryForLog("func=PRODUCTSTOINSTALL&SESSIONID=S&token=").c_str(),
                 "func=PRODUCTSTOINSTALL&SESSIONID=********&token=********");

    DString logged = AnswerForLog(
        "{\"loginOK\":true,\"SessionId\":\"S-secret\",\"Token\":\"T-secret\",\"UserName\":\"Ana\","
        "\"Inner\":{\"token\":\"T2\",\"n\":[{\"pwd\":\"p\",\"k\":1}]},\"Email\":\"a@x.com\"}");
    EXPECT_STREQ(
        logged.c_str(),
        "{\"loginOK\":true,\"UserName\":\"Ana\",\"Inner\":{\"n\":[{\"k\":1}]},\"Email\":\"a@x.com\"}");
    EXPECT_STREQ(AnswerForLog("plain text").c_str(), "plain text");
    EXPECT_STREQ(UrlForLog("https://h/installwizard/index.php?par=ABC").c_str(),
                 "https://h/installwizard/index.php");
}

TEST(Product, CopiesAreDeep) {
    TProduct a;
    a.name = "A";
    a.id = 7;
    TProductLink l;
    l.fileName = "x.bin";
    l.size = 5000000000LL;
    a.links.Anyade(l);
    TProduct b = a;
    b.links[0].fileName = "y.bin";
    b.name = "B";
    EXPECT_STREQ(a.links[0].fileName.c_str(), "x.bin");
    EXPECT_STREQ(a.name.c_str(), "A");
    EXPECT_EQ(b.links[0].size, 5000000000LL);
    EXPECT_EQ(b.retries, -1);
    EXPECT_TRUE(b.links[0].download);
    EXPECT_TRUE(b.links[0].overwrite);
    EXPECT_FALSE(b.links[0].updateable);
}

TEST(Product, ListKeepsOnlyWhatTheRulesLetThrough) {
    const char* answer = R"([
      {"Id":1,"Name":"Keep","Description":"d","Retries":2,"Links":[
        {"Url":"https://h/a","Path":"/documents/Maps/","Name":"a","File":"a.zip","Size":1234567890123,
         "Md5":"\"ab12\"","Optional":true},
        {"Url":"https://h/b","Path":"/documents/Maps/","Name":"b","File":"b.IMP","Optional":true},
        {"Url":"https://h/c","Path":"/documents/Data/","Name":"c","File":"c.dat","Optional":"true"},
        {"Url":"","Path":"/documents/Data/","Name":"e","File":"e.dat"},
        {"Url":"https://h/f","Path":"/documents/Data/","Name":"f","File":"../../f.dat"},
        {"Url":"https://h/a2","Path":"/documents/Maps/","Name":"a","File":"a2.zip"},
        {"Url":"https://h/r","Path":"/documents/Radars/","Name":"r","File":"Radars_2021.zip"}]},
      {"Id":0,"Name":"Zero","Links":[{"Url":"https://h/z","Path":"/documents/Data/","Name":"z","File":"z"}]},
      {"Id":2,"Name":"Dup","Links":[{"Url":"https://h/a3","Path":"/documents/Maps/","Name":"a","File":"a3"}]},
      "not an object"
    ])";
    CJSON json;
    ASSERT_TRUE(json.Parse(answer));
    VectorS<TProduct> list;
    EXPECT_TRUE(ReadProductList(&json, list, 2024));
    ASSERT_EQ(list.Numero(), 1);
    const TProduct& p = list[0];
    EXPECT_EQ(p.id, 1);
    EXPECT_EQ(p.retries, 2);
    EXPECT_STREQ(p.name2.c_str(), "Keep");
    ASSERT_EQ(p.links.Numero(), 4);
    EXPECT_STREQ(p.links[0].md5.c_str(), "AB12");
    EXPECT_EQ(p.links[0].size, 1234567890123LL);
    EXPECT_TRUE(p.links[0].optional);
    EXPECT_FALSE(p.links[1].optional); // imp
    EXPECT_FALSE(p.links[2].optional); // "true" is a text
    EXPECT_STREQ(p.links[3].fileName.c_str(), "Radars_2021.zip");
    EXPECT_TRUE(p.links[3].updateable);
    EXPECT_FALSE(p.links[0].updateable);
}

} // namespace
