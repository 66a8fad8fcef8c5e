// CJSON: parsing, lookups, building, printing and the limits that keep untrusted answers safe.
#include "foundation/Json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

std::string Print(const CJSON& node) {
    DString out;
    EXPECT_TRUE(node.PrintUnformatted(out));
    return out.c_str();
}

std::string Reprint(const char* text) {
    CJSON node;
    if (!node.Parse(text)) return "<fail>";
    return Print(node);
}

TEST(JsonParse, Table) {
    const struct {
        const char* text;
        const char* printed; // "<fail>" when Parse must fail
    } table[] = {
        {"null", "null"},
        {"true", "true"},
        {"false", "false"},
        {"  \t\r\n\x01\x1f 7", "7"}, // every byte 1..32 is whitespace
        {"nullx", "null"},           // only the letters are compared
        {"truest", "true"},
        {"[1,2] trailing text", "[1,2]"}, // nothing after the value is read
        {"\"abc\"", "\"abc\""},
        {"\"a\\\"b\\\\c\\/d\\qe\"", "\"a\\\"b\\\\c/dqe\""}, // any other escaped byte stands for itself
        {"\"\\b\\f\\n\\r\\t\"", "\"\\b\\f\\n\\r\\t\""},
        {"\"\\u00e9\\u20AC\\u0041\"", "\"\xc3\xa9\xe2\x82\xac"
                                      "A\""},
        {"\"\\ud83d\\ude00\"", "\"\xed\xa0\xbd\xed\xb8\x80\""}, // halves are encoded one by one
        {"\"a\\u0000b\"", "\"ab\""},                            // no zero byte inside a text
        {"\"caf\xc3\xa9\"", "\"caf\xc3\xa9\""},                 // UTF-8 passes
        {"[]", "[]"},
        {"{}", "{}"},
        {"[ 1 , [ ] , { } , \"x\" ]", "[1,[],{},\"x\"]"},
        {"{\"a\":{\"b\":[true,false,null]}}", "{\"a\":{\"b\":[true,false,null]}}"},
        {"{\"a\":1,\"a\":2}", "{\"a\":1,\"a\":2}"}, // duplicates are kept
        {"0123", "123"},                            // one leading zero is skipped
        {"-", "0"},
        {"-0", "0"},
        {"1.", "1"}, // '.' without a digit ends the number
        {"[1.]", "<fail>"},
        {"1e", "1"},
        {"2E+3", "2000"},
        {"25e-1", "2.5000000"},
        {"", "<fail>"},
        {"   ", "<fail>"},
        {"nul", "<fail>"},
        {"x", "<fail>"},
        {"[1,2", "<fail>"},
        {"[1,]", "<fail>"},
        {"[1 2]", "<fail>"},
        {"{\"a\":}", "<fail>"},
        {"{\"a\"}", "<fail>"},
        {"{a:1}", "<fail>"},
        {"{\"a\":1,}", "<fail>"},
        {"\"abc", "<fail>"}, // cut off by the end of the text
        {"\"abc\\", "<fail>"},
        {"\"\\u12", "<fail>"}, // a \u escape never reads past the end
        {"\"\\u123", "<fail>"},
        {"\"\\u12\"", "<fail>"},
        {"\"\\u12G4\"", "<fail>"},
        {"\"\\u1234", "<fail>"},
    };
    for (const auto& row : table)
        EXPECT_EQ(Reprint(row.text), row.printed) << row.text;
}

TEST(JsonParse, NestedValuesAndTrailingText) {
    CJSON root;
    ASSERT_TRUE(root.Parse("  {\"a\":[1,2,{\"b\":null}]} and more"));
    CJSON* a = root.GetObjectItem("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->type, CJSON::cJSON_Array);
    ASSERT_EQ(a->GetArraySize(), 3);
    CJSON* b = a->GetArrayItem(2)->GetObjectItem("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->type, CJSON::cJSON_NULL);
    EXPECT_EQ(a->GetArrayItem(3), nullptr);
    EXPECT_EQ(a->GetArrayItem(-1), nullptr);
    EXPECT_EQ(root.GetArrayItem(0), nullptr); // not an array
}

TEST(JsonParse, AStringEndingOnAControlByteContinuesThere) {
    CJSON node;
    EXPECT_FALSE(node.Parse("[\"ab\n\"cd\"]")); // "ab" ends at the newline; then a stray string
    CJSON ok;
    ASSERT_TRUE(ok.Parse("[\"ab\n]"));
    ASSERT_EQ(ok.GetArraySize(), 1);
    EXPECT_STREQ(ok.GetArrayItem(0)->valuestring.c_str(), "ab");
}

TEST(JsonParse, FailureKeepsWhatWasBuilt) {
    CJSON node;
    EXPECT_FALSE(node.Parse(""));
    EXPECT_EQ(node.type, CJSON::cJSON_False);
    EXPECT_FALSE(node.Parse("[1,2,"));
    EXPECT_EQ(node.type, CJSON::cJSON_Array);
    EXPECT_EQ(node.GetArraySize(), 3); // the third item was started
    EXPECT_FALSE(node.Parse(nullptr));
}

TEST(JsonParse, ReparsingANodeStartsAfresh) {
    CJSON node;
    ASSERT_TRUE(node.Parse("[1,2,3]"));
    ASSERT_TRUE(node.Parse("{\"x\":\"y\"}"));
    EXPECT_EQ(Print(node), "{\"x\":\"y\"}");
}

TEST(JsonParse, LengthBoundedInput) {
    const char text[] = {'[', '1', ',', '2', ']', '9'};
    CJSON node;
    ASSERT_TRUE(node.Parse(text, 5));
    EXPECT_EQ(Print(node), "[1,2]");
    CJSON cut;
    EXPECT_FALSE(cut.Parse(text, 4)); // "[1,2" without its end
    CJSON nul;
    EXPECT_FALSE(nul.Parse("[1\0]", 4)); // a zero byte ends the text
}

TEST(JsonParse, NestingDepthIsLimited) {
    const int limit = CJSON::kMaxProfundidad;
    const std::string ok = std::string(limit, '[') + std::string(limit, ']');
    CJSON shallow;
    EXPECT_TRUE(shallow.Parse(ok.c_str()));
    const std::string deep = std::string(limit + 1, '[') + std::string(limit + 1, ']');
    CJSON too_deep;
    EXPECT_FALSE(too_deep.Parse(deep.c_str()));
    // A hostile answer far deeper than the limit: refused, no stack overflow.
    std::string hostile;
    for (int i = 0; i < 1000000; ++i)
        hostile += "{\"a\":[";
    CJSON h;
    EXPECT_FALSE(h.Parse(hostile.c_str()));
}

TEST(JsonParse, NumbersSaturateOutsideTheIntegerRanges) {
    const struct {
        const char* text;
        int int_value;
        int64_t int64_value;
    } table[] = {
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", std::numeric_limits<int>::max(), 2147483648LL},
        {"-2147483649", std::numeric_limits<int>::min(), -2147483649LL},
        {"1e30", std::numeric_limits<int>::max(), std::numeric_limits<int64_t>::max()},
        {"-1e30", std::numeric_limits<int>::min(), std::numeric_limits<int64_t>::min()},
        {"1e999", std::numeric_limits<int>::max(), std::numeric_limits<int64_t>::max()},
        {"9223372036854775807", std::numeric_limits<int>::max(), std::numeric_limits<int64_t>::max()},
        {"1.9", 1, 1},
        {"-1.9", -1, -1},
        {"1e-99999999999999999999", 0, 0},
        {"-1e99999999999999999999", std::numeric_limits<int>::min(), std::numeric_limits<int64_t>::min()},
    };
    for (const auto& row : table) {
        CJSON node;
        ASSERT_TRUE(node.Parse(row.text)) << row.text;
        EXPECT_EQ(node.type, CJSON::cJSON_Number);
        EXPECT_EQ(node.valueint, row.int_value) << row.text;
        EXPECT_EQ(node.valueint64, row.int64_value) << row.text;
    }
    CJSON huge;
    ASSERT_TRUE(huge.Parse("[1e400]"));
    EXPECT_EQ(Print(huge), "[null]"); // no number JSON can write
}

TEST(JsonParse, NumbersReadTheSameInAnyLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8"))
        GTEST_SKIP() << "no German locale on this machine";
    CJSON node;
    const bool parsed = node.Parse("[2.5,1e-7,12345.678]");
    const std::string printed = parsed ? Print(node) : "";
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(node.GetArrayItem(0)->valuedouble, 2.5);
    EXPECT_EQ(printed, "[2.5000000,1.000000e-07,12345.6780000]");
}

TEST(JsonPrint, NumberCases) {
    const struct {
        double value;
        const char* printed;
    } table[] = {
        {3, "3"},
        {-0.0, "0"},
        {-42, "-42"},
        {2147483647.0, "2147483647"},
        {-2147483648.0, "-2147483648"},
        {2147483648.0, "2147483648"}, // "%.0f"
        {1e10, "10000000000"},
        {-1e15, "-1000000000000000"},
        {0.5, "0.5000000"},
        {-0.25, "-0.2500000"},
        {1.0 / 3, "0.3333333"},
        {123456.789, "123456.7890000"},
        {0.0000001, "1.000000e-07"},
        {1e9 + 0.5, "1.000000e+09"},
        {std::nan(""), "null"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const auto& row : table) {
        CJSON* n = CJSON::CreateNumber(row.value);
        EXPECT_EQ(Print(*n), row.printed) << row.value;
        delete n;
    }
}

TEST(JsonPrint, StringEscapes) {
    CJSON* s = CJSON::CreateString("q\"b\\s\bt\tn\nf\fr\r\x01\x1f|\xc3\xa9");
    EXPECT_EQ(Print(*s), "\"q\\\"b\\\\s\\bt\\tn\\nf\\fr\\r|\xc3\xa9\"");
    delete s;
    CJSON* e = CJSON::CreateString("");
    EXPECT_EQ(Print(*e), "\"\"");
    delete e;
    CJSON* lf = CJSON::CreateString("\n\x01");
    EXPECT_EQ(Print(*lf), "\"\\n\"");
    delete lf;
}

TEST(JsonBuild, ObjectsAndArrays) {
    CJSON* root = CJSON::CreateObject();
    EXPECT_TRUE(root->AddStringToObject("app_key", "k"));
    EXPECT_TRUE(root->AddNumberToObject("end_session", 1));
    CJSON* events = CJSON::CreateArray();
    CJSON* ev = CJSON::CreateObject();
    ev->AddStringToObject("key", "InfoUser");
    ev->AddNumberToObject("count", 1);
    EXPECT_TRUE(events->AddItemToArray(ev));
    EXPECT_TRUE(root->AddItemToObject("events", events));
    EXPECT_EQ(Print(*root),
              "{\"app_key\":\"k\",\"end_session\":1,\"events\":[{\"key\":\"InfoUser\",\"count\":1}]}");

    // The wrong kind of container, a null or linked item: refused, the item stays the caller's.
    CJSON* item = CJSON::CreateString("x");
    EXPECT_FALSE(events->AddItemToObject("x", item));
    CJSON* inner = CJSON::CreateArray();
    EXPECT_FALSE(item->AddItemToArray(inner)); // a string holds no items
    delete inner;
    EXPECT_FALSE(root->AddItemToObject("self", root));
    EXPECT_FALSE(root->AddItemToObject("null", nullptr));
    ASSERT_TRUE(events->AddItemToArray(CJSON::CreateNumber(2)));
    EXPECT_FALSE(root->AddItemToArray(ev));                 // linked to a sibling inside events
    EXPECT_FALSE(root->AddItemToArray(events->child_last)); //
    EXPECT_TRUE(root->AddItemToArray(item));                // objects take array items, key untouched
    EXPECT_STREQ(item->key.c_str(), "");
    delete root;
}

TEST(JsonLookup, IgnoresCaseThroughUnicodeUpperCasing) {
    CJSON root;
    ASSERT_TRUE(root.Parse("{\"SessionId\":\"a\",\"sessionId\":\"b\",\"n\":123,\"s\":\"123\",\"f\":1.9,"
                           "\"m\":-1.9,\"t\":true,\"fa\":false,\"\xc3\xa9t\xc3\xa9\":\"summer\","
                           "\"big\":12345678901}"));
    EXPECT_STREQ(root.GetObjectValueString("SESSIONID"), "a");
    EXPECT_STREQ(root.GetObjectValueString("sessionid"), "a");
    EXPECT_EQ(root.GetObjectValueString("absent"), nullptr);
    EXPECT_STREQ(root.GetObjectValueString("n"), "");
    EXPECT_EQ(root.GetObjectValueInt("s"), 0); // never read from text
    EXPECT_EQ(root.GetObjectValueInt("n"), 123);
    EXPECT_EQ(root.GetObjectValueInt("F"), 1);
    EXPECT_EQ(root.GetObjectValueInt("m"), -1);
    EXPECT_EQ(root.GetObjectValueInt("absent"), 0);
    EXPECT_EQ(root.GetObjectValueInt64("BIG"), 12345678901LL);
    EXPECT_TRUE(root.GetObjectValueTrue("T"));
    EXPECT_FALSE(root.GetObjectValueTrue("fa"));
    EXPECT_FALSE(root.GetObjectValueTrue("n"));
    EXPECT_FALSE(root.GetObjectValueTrue("absent"));
    EXPECT_STREQ(root.GetObjectValueString("\xc3\x89T\xc3\x89"), "summer"); // É matches é

    CJSON array;
    ASSERT_TRUE(array.Parse("[{\"a\":1}]"));
    EXPECT_EQ(array.GetObjectItem("a"), nullptr); // only objects have members
    EXPECT_EQ(array.GetObjectValueString("a"), nullptr);
    EXPECT_EQ(root.GetArraySize(), 0);
}

TEST(JsonTree, EmptyLeavesAReusableContainer) {
    CJSON root;
    ASSERT_TRUE(root.Parse("[1,2,3]"));
    root.Empty();
    EXPECT_EQ(root.type, CJSON::cJSON_Array);
    EXPECT_EQ(root.GetArraySize(), 0);
    EXPECT_TRUE(root.AddItemToArray(CJSON::CreateNumber(4)));
    EXPECT_EQ(Print(root), "[4]");
}

TEST(JsonTree, DestroyingALongSiblingChainDoesNotRecurse) {
    // A 16 MiB answer: some 400000 siblings, far more than a stack could take one frame each.
    std::string big = "[";
    while (big.size() < 16u * 1024 * 1024)
        big += "\"0123456789abcdefghijklmnopqrstuvwxyz\",";
    big += "0]";
    {
        CJSON root;
        ASSERT_TRUE(root.Parse(big.c_str()));
        EXPECT_GT(root.GetArraySize(), 400000);
    }
    // Trees built by code may go deeper than the parser allows; they are released alike.
    CJSON* top = CJSON::CreateArray();
    CJSON* at = top;
    for (int i = 0; i < 200000; ++i) {
        CJSON* inner = CJSON::CreateArray();
        ASSERT_TRUE(at->AddItemToArray(inner));
        ASSERT_TRUE(at->AddItemToArray(CJSON::CreateNumber(i)));
        at = inner;
    }
    delete top;
}

TEST(JsonTree, DestroyingANodeTakesTheSiblingsAfterIt) {
    CJSON root;
    ASSERT_TRUE(root.Parse("[1,2,3]"));
    CJSON* second = root.GetArrayItem(1);
    // Unlinked from the list, the tail (2 and 3) belongs to whoever holds it.
    root.GetArrayItem(0)->next = nullptr;
    root.child_last = root.child;
    second->prev = nullptr;
    EXPECT_EQ(root.GetArraySize(), 1);
    delete second; // releases 3 as well (checked by the leak sanitizer)
    EXPECT_EQ(Print(root), "[1]");
}

} // namespace
