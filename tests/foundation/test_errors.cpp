#include "foundation/Registra.h"
#include "foundation/StringErr.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// The texts after the "STEP2_ZZZ  " prefix of each line of the common log.
class ErrorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistraGPS.SetFileName(dir_.Path("quillmap.log").c_str());
        SetRegistraComun(&RegistraGPS);
        Set_header_app("ZZZ");
        server_login_check_test_mode = false;
        ResetErrorFlags();
    }
    std::vector<std::string> Texts() const {
        std::string log = dir_.Read("quillmap.log");
        std::vector<std::string> out;
        const std::string mark = "] STEP2_ZZZ  ";
        for (size_t p = log.find("\r\n"); p != std::string::npos;) {
            size_t next = log.find("\r\n", p + 2);
            std::string line =
                log.substr(p + 2, next == std::string::npos ? std::string::npos : next - p - 2);
            size_t m = line.find(mark);
            out.push_back(m == std::string::npos ? "?" + line : line.substr(m + mark.size()));
            p = next;
        }
        return out;
    }

    dltest::TempDir dir_{"strings-err"};
};

} // namespace

TEST_F(ErrorsTest, SetAndDefaults) {
    struct Case {
        int type;
        const char* detail;
        const char* message;
        const char* expected;
    } cases[] = {
        {2, "old message", nullptr, "No Internet Available"},
        {1, "", nullptr, "GenericError"},
        {3, "", nullptr, ""},
        {4, "", nullptr, "previous"}, // no table text: the message stays
        {0, "", nullptr, "previous"},
        {5, "d", "given", "given"},
    };
    for (const auto& c : cases) {
        TStringErr e("previous");
        e.Set(c.type, c.detail, c.message);
        EXPECT_EQ(e, c.expected) << c.type;
        EXPECT_EQ(e.GetType(), c.type);
        EXPECT_EQ(e.Detail(), c.detail);
        e.Reported();
    }
    const char* saved = TStringErr::typeErrorMessges[1];
    TStringErr::SetErrorMsg(1, "Something failed");
    TStringErr e;
    e.Set(1, "");
    EXPECT_EQ(e, "Something failed");
    TStringErr::SetErrorMsg(1, saved);
    e.Reported();
}

TEST_F(ErrorsTest, ConstructionReportAndVacia) {
    TStringErr msg("failed");
    EXPECT_EQ(msg.GetType(), TStringErr::eGenericError);
    EXPECT_FALSE(msg.IsReported());
    TStringErr quiet(TStringErr::eReported);
    EXPECT_TRUE(quiet.IsEmpty());
    EXPECT_TRUE(quiet.IsReported());

    TStringErr empty;
    empty.LogReport();
    EXPECT_FALSE(empty.IsReported()); // nothing to report
    msg.LogReport();
    EXPECT_TRUE(msg.IsReported());

    msg.SetType(2);
    msg.SetDetail("d");
    msg.Extra() = "x";
    msg.Vacia();
    EXPECT_TRUE(msg.IsEmpty());
    EXPECT_TRUE(msg.Detail().IsEmpty());
    EXPECT_TRUE(msg.Extra().IsEmpty());
    EXPECT_EQ(msg.GetType(), 1);

    TStringErr assigned;
    assigned = "a message";
    assigned += " grows";
    EXPECT_EQ(assigned, "a message grows");
    assigned.Reported();
}

TEST_F(ErrorsTest, DestroyingAnErrorNeverWritesToTheLog) {
    {
        TStringErr dropped("disk full");
        dropped.Set(4, "file.bin", " File is ReadOnly");
        TStringErr handled("handled");
        handled.Reported();
        TStringErr_i ignorable("may be dropped");
        TStringErr success;
    }
    EXPECT_TRUE(Texts().empty());
}

TEST_F(ErrorsTest, LastErrorRecordKeepsTheFirstError) {
    EXPECT_TRUE(NoHayError());
    EXPECT_EQ(downloader_errorCode(), 73001);
    EXPECT_EQ(downloader_errorFile(), "No Error");
    EXPECT_EQ(downloader_errorDevice(), "No Error");
    ManageError(73105, "map.zip", "GPS-1");
    ManageError(73200, "other", "GPS-2");
    EXPECT_TRUE(IsError(73105));
    EXPECT_FALSE(NoHayError());
    TLastError r = GetLastErrorRecord();
    EXPECT_EQ(r.code, 73105);
    EXPECT_EQ(r.file, "map.zip");
    EXPECT_EQ(r.device, "GPS-1");

    DString err("old error");
    ResetErrorFlags(err);
    EXPECT_TRUE(err.IsEmpty());
    EXPECT_TRUE(NoHayError());
}

TEST_F(ErrorsTest, BackupAndRestoreLogBothRecords) {
    ManageError(7310501, "a.img", "dev A");
    BackupError("Txt.Err");
    ResetErrorFlags();
    ManageError(73300, "b.img", "dev B");
    RestoreError("TManagerUtils_base::DoInstall");
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{
                  "TManagerUtils_base::DoInstall . errorCode_prev=7310501 . errorFile_prev=a.img . "
                  "errorDevice_prev=dev A . strError_prev=Txt.Err---",
                  "TManagerUtils_base::DoInstall . errorCode=73300 . errorFile=b.img . errorDevice=dev B"}));
    EXPECT_TRUE(IsError(7310501));
    EXPECT_EQ(downloader_errorDevice(), "dev A");
}

TEST_F(ErrorsTest, ConcurrentReportsKeepOneConsistentRecord) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; i++) {
                std::string n = std::to_string(t);
                ManageError(73100 + t, ("file" + n).c_str(), ("dev" + n).c_str());
                (void)GetLastErrorRecord();
            }
        });
    for (auto& th : threads)
        th.join();
    TLastError r = GetLastErrorRecord();
    ASSERT_GE(r.code, 73100);
    ASSERT_LE(r.code, 73103);
    std::string n = std::to_string(r.code - 73100);
    EXPECT_EQ(r.file, ("file" + n).c_str());
    EXPECT_EQ(r.device, ("dev" + n).c_str());
}
