// Numbers and JSON follow C rules whatever the user's locale: this whole program runs under
// de_DE.UTF-8, whose decimal mark is ',' and whose thousands separator is '.'.
#include "foundation/Json.h"
#include "protocol/Product.h"
#include "protocol/ServerProtocol.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace {

class GermanLocale : public ::testing::Environment {
public:
    void SetUp() override { ok = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr; }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
    static bool ok;
};
bool GermanLocale::ok = false;
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new GermanLocale);

class UnderGermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(GermanLocale::ok) << "the locale de_DE.UTF-8 is missing on this machine";
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        ASSERT_STREQ(buf, "1,5"); // the locale is really in force
    }
};

TEST_F(UnderGermanLocale, ProductNumbersAreReadWithCRules) {
    const char* answer = R"([{"Id":7.0,"Name":"P","Retries":3,"Links":[
        {"Url":"https://h/a","Path":"/documents/Maps/","Name":"a","File":"a.zip","Size":1234567890123},
        {"Url":"https://h/b","Path":"/documents/Maps/","Name":"b","File":"b.zip","Size":2.5e3},
        {"Url":"https://h/c","Path":"/documents/Maps/","Name":"c","File":"c.zip","Size":1.75}]}])";
    CJSON json;
    ASSERT_TRUE(json.Parse(answer));
    VectorS<TProduct> list;
    ReadProductList(&json, list, 2024);
    ASSERT_EQ(list.Numero(), 1);
    EXPECT_EQ(list[0].id, 7);
    EXPECT_EQ(list[0].retries, 3);
    ASSERT_EQ(list[0].links.Numero(), 3);
    EXPECT_EQ(list[0].links[0].size, 1234567890123LL);
    EXPECT_EQ(list[0].links[1].size, 2500);
    EXPECT_EQ(list[0].links[2].size, 1);
}

TEST_F(UnderGermanLocale, RequestsAndLoggedAnswersAreWrittenWithCRules) {
    std::string plain = RequestPlainText("func=X", "D", "N0NCE1").c_str();
    EXPECT_EQ(plain, "func=X&version=149&Device_product=DownloaderOS&ptf=mac&lang=en&devid=D&N0NCE1");
    EXPECT_STREQ(AnswerForLog(R"({"Size":1234567890123,"ratio":0.25,"Token":"t","n":-3})").c_str(),
                 R"({"Size":1234567890123,"ratio":0.2500000,"n":-3})");
}

} // namespace
