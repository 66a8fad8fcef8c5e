// The libcurl wrapper against the simulated file server.
#include "platform/HttpTransfer.h"

#include "support/World.h"

#include <gtest/gtest.h>

namespace {

// Collects what a transfer delivers.
struct Collector : THttpReceiver {
    THttpResponse response;
    std::string body;
    int responses = 0;
    int polls = 0;
    bool refuse = false;
    bool cancel_after_first_block = false;
    bool OnResponse(const THttpResponse& r) override {
        response = r;
        ++responses;
        return !refuse;
    }
    bool OnData(const char* data, size_t length) override {
        body.append(data, length);
        return true;
    }
    bool IsCancelled() override {
        ++polls;
        return cancel_after_first_block && !body.empty();
    }
};

class HttpTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(world_.ok()) << world_.error();
        base_ = world_.Get("files_http.url");
    }
    dltest::World world_;
    std::string base_;
};

TEST_F(HttpTransfer, AnswerFieldsAndBody) {
    THttpTransfer http;
    http.SetUrl(base_ + "/gen/1/1000/some%20file.bin?nonce=1");
    Collector c;
    ASSERT_EQ(http.Perform(c), THttpTransfer::Ok) << http.ErrorText();
    EXPECT_EQ(c.responses, 1);
    EXPECT_EQ(c.response.status, 200);
    EXPECT_EQ(c.response.contentLength, 1000);
    EXPECT_EQ(c.response.contentType, "application/octet-stream");
    EXPECT_EQ(c.response.suggestedName, "some file.bin");
    EXPECT_EQ(c.body, dltest::GeneratedBytes(1, 0, 1000));
    EXPECT_TRUE(http.ErrorText().empty());
}

TEST_F(HttpTransfer, RedirectBodiesAreNotPartOfTheAnswer) {
    ASSERT_TRUE(world_.Fault("/gen/2/500/a.bin",
                             R"({"kind":"redirect","status":301,"location":"{self}/gen/2/500/b.bin"})"));
    THttpTransfer http;
    http.SetUrl(base_ + "/gen/2/500/a.bin");
    Collector c;
    ASSERT_EQ(http.Perform(c), THttpTransfer::Ok) << http.ErrorText();
    EXPECT_EQ(c.response.status, 200);
    EXPECT_EQ(c.body, dltest::GeneratedBytes(2, 0, 500));
    EXPECT_EQ(c.response.effectiveUrl, base_ + "/gen/2/500/b.bin");
    EXPECT_EQ(c.response.suggestedName, "b.bin");
}

TEST_F(HttpTransfer, ResumeAsksForTheRestAndReportsARefusedRange) {
    THttpTransfer http;
    http.SetUrl(base_ + "/gen/3/1000/r.bin");
    http.SetResumeFrom(100);
    Collector c;
    ASSERT_EQ(http.Perform(c), THttpTransfer::Ok) << http.ErrorText();
    EXPECT_EQ(c.response.status, 206);
    EXPECT_EQ(c.response.contentRange, "bytes 100-999/1000");
    EXPECT_EQ(c.response.contentLength, 900);
    EXPECT_EQ(c.body, dltest::GeneratedBytes(3, 100, 900));

    ASSERT_TRUE(world_.Fault("/gen/3/1000/r.bin", R"({"kind":"ignore_range"})"));
    Collector whole;
    EXPECT_EQ(http.Perform(whole), THttpTransfer::RangeRefused);
    EXPECT_TRUE(whole.body.empty());
}

TEST_F(HttpTransfer, ReceiverCanRefuseOrCancel) {
    THttpTransfer http;
    http.SetUrl(base_ + "/gen/4/300000/c.bin");
    Collector refusing;
    refusing.refuse = true;
    EXPECT_EQ(http.Perform(refusing), THttpTransfer::Aborted);
    EXPECT_TRUE(refusing.body.empty());

    Collector cancelling;
    cancelling.cancel_after_first_block = true;
    EXPECT_EQ(http.Perform(cancelling), THttpTransfer::Cancelled);
    EXPECT_EQ(http.ErrorText(), "Operation canceled");
    EXPECT_LT(cancelling.body.size(), 300000u);
}

TEST_F(HttpTransfer, WaitingPollsTheCancelQuestionEverySlice) {
    // Nothing arrives for a minute: only the slices give the receiver a chance to stop.
    ASSERT_TRUE(world_.Fault("/gen/5/100/s.bin", R"({"kind":"stall","after":0,"seconds":60})"));
    struct StopAfterPolls : Collector {
        bool IsCancelled() override { return ++polls >= 5; }
    } c;
    THttpLimits limits;
    limits.sliceMs = 20;
    THttpTransfer http;
    http.SetLimits(limits);
    http.SetUrl(base_ + "/gen/5/100/s.bin");
    EXPECT_EQ(http.Perform(c), THttpTransfer::Cancelled);
    EXPECT_GE(c.polls, 5);
}

TEST(HttpTransferRules, OnlyHttpAndHttps) {
    for (const char* url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "dict://127.0.0.1/x"}) {
        THttpTransfer http;
        http.SetUrl(url);
        Collector c;
        EXPECT_EQ(http.Perform(c), THttpTransfer::Failed) << url;
        EXPECT_FALSE(http.ErrorText().empty());
        EXPECT_TRUE(c.body.empty());
    }
}

TEST(HttpTransferHost, HostOfAnAddress) {
    EXPECT_EQ(THttpTransfer::HostOf("https://a.example.com:8443/x?y=1"), "a.example.com:8443");
    EXPECT_EQ(THttpTransfer::HostOf("http://u:p@h/x"), "h");
    EXPECT_EQ(THttpTransfer::HostOf("http://h?par=1"), "h");
}

} // namespace
