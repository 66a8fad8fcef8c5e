// The message catalogue: the English texts built into the program, written into a locale folder,
// selected through wxTranslations and looked up by key.
#include "protocol/Catalogue.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Embedded() {
    size_t n = 0;
    const unsigned char* p = EmbeddedCatalogue(n);
    return std::string(reinterpret_cast<const char*>(p), n);
}

uint32_t Le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

// The msgid -> msgstr pairs of the source file, read with the PO escapes (\n, \", \\, \t).
std::map<std::string, std::string> ReadPo(const std::string& file) {
    std::ifstream in(file);
    std::map<std::string, std::string> out;
    std::string line, id, str, *current = nullptr;
    auto flush = [&] {
        if (!id.empty()) out[id] = str;
        id.clear();
        str.clear();
        current = nullptr;
    };
    auto unquote = [](const std::string& s) {
        std::string r;
        size_t a = s.find('"'), b = s.rfind('"');
        for (size_t i = a + 1; i < b; ++i) {
            if (s[i] == '\\' && i + 1 < b) {
                char c = s[++i];
                r += c == 'n' ? '\n' : c == 't' ? '\t' : c;
            } else {
                r += s[i];
            }
        }
        return r;
    };
    while (std::getline(in, line)) {
        if (line.rfind("msgid ", 0) == 0) {
            flush();
            id = unquote(line);
            current = &id;
        } else if (line.rfind("msgstr ", 0) == 0) {
            str = unquote(line);
            current = &str;
        } else if (!line.empty() && line[0] == '"' && current) {
            *current += unquote(line);
        }
    }
    flush();
    return out;
}

class Catalogue : public ::testing::Test {
protected:
    void TearDown() override { ReleaseCatalogue(); }
    dltest::TempDir dir_;
};

TEST_F(Catalogue, EmbeddedFileIsALittleEndianMoFileOfEnglish) {
    std::string mo = Embedded();
    ASSERT_GE(mo.size(), 28u);
    EXPECT_EQ(Le32(mo, 0), 0x950412deu);
    EXPECT_EQ(Le32(mo, 4), 0u);                                                        // revision
    EXPECT_EQ(Le32(mo, 8), ReadPo(DL_SOURCE_DIR "/resources/messages.po").size() + 1); // + header
    // The header entry (msgid "") is the first string of the sorted table.
    uint32_t len = Le32(mo, Le32(mo, 16)), off = Le32(mo, Le32(mo, 16) + 4);
    std::string header = mo.substr(off, len);
    EXPECT_NE(header.find("Language: en_GB\n"), std::string::npos);
    EXPECT_NE(header.find("Content-Type: text/plain; charset=UTF-8\n"), std::string::npos);
}

TEST_F(Catalogue, WrittenUnderEveryLocaleNameAndSelected) {
    TStringErr_i err;
    ASSERT_TRUE(MoveLocaleToFolder(dir_.Dir().c_str(), err)) << err.c_str();
    for (const char* name : {"en", "en_UK", "en_UK.unknown-47.lproj", "en_GB.unknown-47.lproj"})
        EXPECT_EQ(dir_.Read(std::string(name) + "/LC_MESSAGES/messages.mo"), Embedded()) << name;
    ASSERT_TRUE(SelectCatalogue(dir_.path().c_str()));
    EXPECT_TRUE(CatalogueSelected());

    const std::pair<const char*, const char*> cases[] = {
        {"Txt.MgrComm.Err.Login.KO", "Error during login process. Check credentials. "},
        {"Txt.MgrComm.Err.Login.BadResponse", "Error during login process.  Bad response."},
        {"Txt.MgrComm.Err.DownloadData.BadResponse", "Error connection with server. Bad response.\n%s"},
        {"Txt.General.Txt.Null", " "},
        {"Txt.MgrDevices.Txt.ConnectDevs.ProductsToInstall", " products to install"},
        {"Txt.MgrDevices.Txt.CheckDevs",
         "Not seeing your device? Check that it is plugged in, then                                   "},
        {"Txt.MgrDevices.Txt.Wait",
         "Please wait while the map is being installed on your device\xe2\x80\xa6"},
        {"Txt.MgrComm.Transferred2", "%s %s of %s %s transferred"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(GetTxt(c.first).c_str(), c.second) << c.first;
    EXPECT_STREQ(GetTxtF("Txt.MgrComm.Transferred2", {"1.50", "Mb", "10.00", "Gb"}).c_str(),
                 "1.50 Mb of 10.00 Gb transferred");
}

TEST_F(Catalogue, EveryTextOfTheSourceComesBackByteForByte) {
    TStringErr_i err;
    ASSERT_TRUE(MoveLocaleToFolder(dir_.Dir().c_str(), err));
    ASSERT_TRUE(SelectCatalogue(dir_.Dir().c_str()));
    auto po = ReadPo(DL_SOURCE_DIR "/resources/messages.po");
    ASSERT_GE(po.size(), 90u);
    for (const auto& e : po)
        EXPECT_EQ(std::string(GetTxt(e.first.c_str()).c_str()), e.second) << e.first;
}

TEST_F(Catalogue, MissingKeysAndMissingCataloguesShowTheKey) {
    EXPECT_STREQ(GetTxt("Txt.MgrComm.Err.Login.KO").c_str(), "Txt.MgrComm.Err.Login.KO"); // nothing selected
    EXPECT_FALSE(SelectCatalogue(dir_.path().c_str()));                                   // empty folder
    EXPECT_FALSE(CatalogueSelected());
    EXPECT_STREQ(GetTxt("Txt.General.Txt.Null").c_str(), "Txt.General.Txt.Null");

    dir_.Write("en/LC_MESSAGES/messages.mo", "not a catalogue at all, just some text");
    EXPECT_FALSE(SelectCatalogue(dir_.path().c_str()));
    EXPECT_STREQ(GetTxt("Txt.Button.OK").c_str(), "Txt.Button.OK");

    TStringErr_i err;
    ASSERT_TRUE(MoveLocaleToFolder(dir_.path().c_str(), err)); // replaces the damaged file
    ASSERT_TRUE(SelectCatalogue(dir_.path().c_str()));
    EXPECT_STREQ(GetTxt("Txt.Button.OK").c_str(), "OK");
    EXPECT_STREQ(GetTxt("Txt.No.Such.Key").c_str(), "Txt.No.Such.Key");
    EXPECT_STREQ(GetTxtF("Txt.No.Such.Key", {"x"}).c_str(), "Txt.No.Such.Key");
    ReleaseCatalogue();
    EXPECT_STREQ(GetTxt("Txt.Button.OK").c_str(), "Txt.Button.OK");
}

TEST_F(Catalogue, OnlyTheEnglishFolderNeedBePresent) {
    size_t n = 0;
    const unsigned char* bytes = EmbeddedCatalogue(n);
    TStringErr_i err;
    ASSERT_TRUE(CreateLocale(bytes, n, dir_.path().c_str(), "en", err)) << err.c_str();
    ASSERT_TRUE(SelectCatalogue(dir_.path().c_str()));
    EXPECT_STREQ(GetTxt("Txt.Button.Retry").c_str(), "Retry");
}

TEST_F(Catalogue, WriteFailuresAreReported) {
    dir_.Write("en", "a file where the folder should be");
    size_t n = 0;
    const unsigned char* bytes = EmbeddedCatalogue(n);
    TStringErr_i err;
    EXPECT_FALSE(CreateLocale(bytes, n, dir_.path().c_str(), "en", err));
    EXPECT_FALSE(err.IsEmpty());
    TStringErr_i all;
    EXPECT_FALSE(MoveLocaleToFolder(dir_.path().c_str(), all)); // the other three are still written
    EXPECT_FALSE(all.IsEmpty());
    EXPECT_EQ(dir_.Read("en_UK/LC_MESSAGES/messages.mo"), Embedded());
    TStringErr_i bad;
    EXPECT_FALSE(CreateLocale(bytes, n, dir_.path().c_str(), "../escape", bad));
    EXPECT_FALSE(dir_.Exists("../escape"));
}

TEST_F(Catalogue, LookupsFromManyThreads) {
    TStringErr_i err;
    ASSERT_TRUE(MoveLocaleToFolder(dir_.path().c_str(), err));
    ASSERT_TRUE(SelectCatalogue(dir_.path().c_str()));
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &good] {
            for (int i = 0; i < 500; ++i)
                if (GetTxt("Txt.Button.Next") == "Next" && GetTxt("Txt.Missing") == "Txt.Missing") ++good[t];
        });
    for (auto& th : threads)
        th.join();
    for (int g : good)
        EXPECT_EQ(g, 500);
}

TEST(FillTxt, PlaceholdersAreFilledInOrderAndNeverOverrun) {
    struct Case {
        const char* text;
        std::vector<const char*> args;
        const char* expected;
    } cases[] = {
        {"%s %s of %s %s transferred", {"1", "Kb", "2", "Mb"}, "1 Kb of 2 Mb transferred"},
        {"(%ld Kb). \nWould", {"512"}, "(512 Kb). \nWould"},
        {"%d Kb transferred", {"7"}, "7 Kb transferred"},
        {"100%% done %s", {"x"}, "100% done x"},
        {"%s and %s", {"only"}, "only and %s"},
        {"no placeholder", {"extra"}, "no placeholder"},
        {"%x %n %", {"a"}, "%x %n %"},
        {"%lld|%llu|%i|%u", {"1", "2", "3", "4"}, "1|2|3|4"},
    };
    for (const Case& c : cases) {
        std::vector<DString> owned(c.args.begin(), c.args.end());
        DString out;
        switch (owned.size()) {
        case 1:
            out = FillTxt(c.text, {owned[0]});
            break;
        case 4:
            out = FillTxt(c.text, {owned[0], owned[1], owned[2], owned[3]});
            break;
        default:
            FAIL();
        }
        EXPECT_STREQ(out.c_str(), c.expected) << c.text;
    }
}

} // namespace
