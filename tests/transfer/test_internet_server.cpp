// The transfer layer against the simulated file server, support sink and HTTPS servers.
#include "transfer/InternetITV.h"

#include "foundation/Monitor.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"
#include "support/World.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <unistd.h>
#include <chrono>
#include <thread>

namespace {

std::string Str(const CDString& s) {
    return s.c_str();
}

class InternetServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(world_.ok()) << world_.error();
        TInternetITV::Set_CAFile(world_.Get("ca_file").c_str());
        TInternetITV::Set_Default_Limits(THttpLimits());
        http_ = world_.Get("files_http.url");
    }
    void TearDown() override {
        TInternetITV::Set_CAFile("");
        TInternetITV::Set_Default_Limits(THttpLimits());
    }

    // "/gen/SEED/SIZE/name": generated content served by the file server.
    static std::string Gen(uint32_t seed, int64_t size, const std::string& name) {
        return "/gen/" + std::to_string(seed) + "/" + std::to_string(size) + "/" + name;
    }
    std::vector<dltest::World::Record> FileRecords(const std::string& path, size_t at_least) {
        std::vector<dltest::World::Record> out;
        for (auto& r : world_.WaitRecords("files_http", at_least))
            if (r["path"] == path) out.push_back(r);
        return out;
    }
    // A resumable download as the download manager makes it (resume switch on).
    bool Resumable(const std::string& path, const std::string& target, TStringErr& err, int64_t expected,
                   TMonitorProc* monitor = nullptr) {
        TInternetITV net;
        net.Set_Resume_Download(true);
        return net.DescargaHTTP_ITV_File((http_ + path).c_str(), target.c_str(), err, monitor, nullptr,
                                         nullptr, true, nullptr, expected, nullptr);
    }

    dltest::World world_;
    dltest::TempDir dir_;
    std::string http_;
};

TEST_F(InternetServer, ResumeAfterADropGivesTheSameBytesAtEveryOffset) {
    const int64_t size = 200000;
    const std::string expected = dltest::GeneratedBytes(7, 0, size);
    const int64_t offsets[] = {0, 1, 65521, size / 2, size - 1};
    size_t seen = 0;
    for (int64_t off : offsets) {
        std::string path = Gen(7, size, "drop" + std::to_string(off) + ".bin");
        ASSERT_TRUE(world_.Fault(path, "{\"kind\":\"drop\",\"after\":" + std::to_string(off) + "}"));
        std::string target = dir_.Path("d" + std::to_string(off) + ".bin");
        TStringErr err;
        TMonitorProc monitor;
        EXPECT_TRUE(Resumable(path, target, err, size, &monitor)) << Str(err);
        EXPECT_EQ(dir_.Read("d" + std::to_string(off) + ".bin"), expected) << "drop after " << off;
        EXPECT_FALSE(dir_.Exists("d" + std::to_string(off) + ".bin.part"));
        EXPECT_EQ(monitor.npasos.load(), size);
        seen += 2;
        auto recs = FileRecords(path, seen);
        ASSERT_EQ(recs.size(), 2u) << "drop after " << off;
        EXPECT_EQ(recs[0]["range"], "null");
        EXPECT_EQ(recs[1]["range"], off > 0 ? "bytes=" + std::to_string(off) + "-" : "null");
    }
}

TEST_F(InternetServer, PartialFileIsResumedWithARangeAndTheMonitorStartsThere) {
    const int64_t size = 5000;
    std::string path = Gen(3, size, "part.bin");
    ASSERT_TRUE(dir_.Write("part.bin.part", dltest::GeneratedBytes(3, 0, 1000)));
    TMonitorProc monitor;
    TStringErr err;
    EXPECT_TRUE(Resumable(path, dir_.Path("part.bin"), err, size, &monitor)) << Str(err);
    EXPECT_EQ(dir_.Read("part.bin"), dltest::GeneratedBytes(3, 0, size));
    auto recs = FileRecords(path, 1);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0]["range"], "bytes=1000-");
    EXPECT_EQ(monitor.total.load(), size);
    EXPECT_EQ(Str(monitor.texto.Get()), "4.88 Kb/4.88 Kb");
}

TEST_F(InternetServer, ErrorStatusNeverReachesTheFile) {
    struct Case {
        bool resumable;
        int status;
        int requests; // 404 is final; other failures are tried three times
    } cases[] = {{true, 404, 1}, {true, 503, 3}, {false, 404, 1}, {false, 500, 1}};
    size_t seen = 0;
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "st" + std::to_string(n++) + ".bin";
        std::string path = Gen(1, 3000, name);
        ASSERT_TRUE(world_.Fault(path, "{\"kind\":\"status\",\"status\":" + std::to_string(c.status) +
                                           ",\"count\":\"always\"}"));
        TStringErr err;
        bool ok = c.resumable ? Resumable(path, dir_.Path(name), err, 3000)
                              : TInternetITV().DescargaHTTP_ITV_File((http_ + path).c_str(),
                                                                     dir_.Path(name).c_str(), err);
        EXPECT_FALSE(ok);
        EXPECT_EQ(Str(err), "HTTP error " + std::to_string(c.status));
        EXPECT_FALSE(dir_.Exists(name));
        EXPECT_EQ(dir_.Read(name + ".part"), ""); // nothing of the error page was written
        seen += static_cast<size_t>(c.requests);
        EXPECT_EQ(FileRecords(path, seen).size(), static_cast<size_t>(c.requests)) << c.status;
    }
}

TEST_F(InternetServer, FailingTwiceThenAnsweringSucceedsOnTheThirdAttempt) {
    std::string path = Gen(2, 4000, "third.bin");
    ASSERT_TRUE(world_.Fault(path, R"([{"kind":"status","status":500,"count":2}])"));
    TStringErr err;
    EXPECT_TRUE(Resumable(path, dir_.Path("third.bin"), err, 4000)) << Str(err);
    EXPECT_EQ(dir_.Read("third.bin"), dltest::GeneratedBytes(2, 0, 4000));
    EXPECT_EQ(FileRecords(path, 3).size(), 3u);
}

TEST_F(InternetServer, BadPartialFilesStartAgainFromEmpty) {
    const int64_t size = 3000;
    const std::string expected = dltest::GeneratedBytes(5, 0, size);
    const std::string junk(1000, 'x');
    struct Case {
        const char* name;
        const char* fault; // null: none
        std::string part;
        int64_t expected_size;
    } cases[] = {
        {"ignore.bin", R"({"kind":"ignore_range"})", junk, size},               // 200 to a ranged request
        {"wrong.bin", R"({"kind":"wrong_range_start","delta":7})", junk, size}, // another range
        {"toolong.bin", nullptr, std::string(4000, 'x'), -1},                   // 416: larger than the file
        {"over.bin", nullptr, std::string(3500, 'x'), size},                    // larger than expected
    };
    for (const Case& c : cases) {
        std::string path = Gen(5, size, c.name);
        if (c.fault) {
            ASSERT_TRUE(world_.Fault(path, c.fault));
        }
        ASSERT_TRUE(dir_.Write(std::string(c.name) + ".part", c.part));
        TStringErr err;
        EXPECT_TRUE(Resumable(path, dir_.Path(c.name), err, c.expected_size)) << c.name << ": " << Str(err);
        EXPECT_EQ(dir_.Read(c.name), expected) << c.name;
    }
}

TEST_F(InternetServer, CompletePartialFileIsAcceptedWithoutABody) {
    std::string path = Gen(6, 2000, "done.bin");
    ASSERT_TRUE(dir_.Write("done.bin.part", dltest::GeneratedBytes(6, 0, 2000)));
    TStringErr err;
    EXPECT_TRUE(Resumable(path, dir_.Path("done.bin"), err, 2000)) << Str(err);
    EXPECT_EQ(dir_.Read("done.bin"), dltest::GeneratedBytes(6, 0, 2000));
    auto recs = FileRecords(path, 1);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0]["status"], "416");
}

TEST_F(InternetServer, ShortBodiesAreNeverAcceptedAsComplete) {
    // A plain download whose server announces more than it sends fails and leaves nothing.
    std::string path = Gen(8, 5000, "short.bin");
    ASSERT_TRUE(world_.Fault(path, R"({"kind":"content_length","delta":100,"count":"always"})"));
    TStringErr err;
    EXPECT_FALSE(
        TInternetITV().DescargaHTTP_ITV_File((http_ + path).c_str(), dir_.Path("short.bin").c_str(), err));
    EXPECT_FALSE(err.IsEmpty());
    EXPECT_FALSE(dir_.Exists("short.bin"));

    // A resumable download dropped on every attempt: three attempts, then the ".part" waits with
    // exactly the bytes received so far.
    std::string dropped = Gen(8, 5000, "dropped.bin");
    ASSERT_TRUE(world_.Fault(dropped, R"({"kind":"drop","after":1000,"count":"always"})"));
    TStringErr err1;
    EXPECT_FALSE(Resumable(dropped, dir_.Path("dropped.bin"), err1, 5000));
    EXPECT_FALSE(err1.IsEmpty());
    EXPECT_FALSE(dir_.Exists("dropped.bin"));
    EXPECT_EQ(dir_.Read("dropped.bin.part"), dltest::GeneratedBytes(8, 0, 3000));

    // The server announces less than the file holds: the expected size catches it.
    std::string path2 = Gen(8, 5000, "short2.bin");
    ASSERT_TRUE(world_.Fault(path2, R"({"kind":"content_length","delta":-100,"count":"always"})"));
    TStringErr err2;
    EXPECT_FALSE(Resumable(path2, dir_.Path("short2.bin"), err2, 5000));
    EXPECT_NE(Str(err2).find("Incomplete download of short2.bin"), std::string::npos) << Str(err2);
    EXPECT_FALSE(dir_.Exists("short2.bin"));
}

TEST_F(InternetServer, AStalledServerHitsTheIdleLimit) {
    THttpLimits quick;
    quick.idleSeconds = 1;
    TInternetITV::Set_Default_Limits(quick);
    std::string path = Gen(9, 5000, "stall.bin");
    ASSERT_TRUE(world_.Fault(path, R"({"kind":"stall","after":0,"seconds":60})"));
    TStringErr err;
    EXPECT_FALSE(
        TInternetITV().DescargaHTTP_ITV_File((http_ + path).c_str(), dir_.Path("stall.bin").c_str(), err));
    EXPECT_NE(Str(err).find("Timeout"), std::string::npos) << Str(err);
    EXPECT_FALSE(dir_.Exists("stall.bin"));
}

TEST_F(InternetServer, CancelStopsATricklingOrStalledTransfer) {
    struct Case {
        const char* name;
        const char* fault;
    } cases[] = {{"trickle.bin", R"({"kind":"trickle","rate":2000,"chunk":100})"},
                 {"stalled.bin", R"({"kind":"stall","after":100,"seconds":600})"}};
    for (const Case& c : cases) {
        std::string path = Gen(4, 1000000, c.name);
        ASSERT_TRUE(world_.Fault(path, c.fault));
        TMonitorProc monitor;
        TStringErr err;
        std::atomic<bool> ok{true};
        std::thread worker([&] { ok = Resumable(path, dir_.Path(c.name), err, 1000000, &monitor); });
        while (monitor.npasos.load() < 100) // bytes are arriving
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        monitor.Cancelar();
        worker.join();
        EXPECT_FALSE(ok.load()) << c.name;
        EXPECT_EQ(Str(err), "Operation canceled");
        EXPECT_TRUE(dir_.Exists(std::string(c.name) + ".part")) << "kept for a later resume";
        EXPECT_FALSE(dir_.Exists(c.name));
    }
}

TEST_F(InternetServer, RedirectsAreFollowedOnlyToHttp) {
    std::string path = Gen(10, 1000, "moved.bin");
    ASSERT_TRUE(world_.Fault(path, R"({"kind":"redirect","location":"{self}/gen/10/1000/there.bin"})"));
    TStringErr err;
    DString name, type;
    EXPECT_TRUE(TInternetITV().DescargaHTTP_ITV_File((http_ + path).c_str(), dir_.Path("moved.bin").c_str(),
                                                     err, nullptr, &name, &type))
        << Str(err);
    EXPECT_EQ(dir_.Read("moved.bin"), dltest::GeneratedBytes(10, 0, 1000));
    EXPECT_EQ(Str(name), "there.bin");
    EXPECT_EQ(Str(type), "application/octet-stream");

    std::string bad = Gen(10, 1000, "evil.bin");
    ASSERT_TRUE(world_.Fault(bad, R"({"kind":"redirect","location":"file:///etc/passwd"})"));
    TStringErr err2;
    EXPECT_FALSE(
        TInternetITV().DescargaHTTP_ITV_File((http_ + bad).c_str(), dir_.Path("evil.bin").c_str(), err2));
    EXPECT_FALSE(err2.IsEmpty());
    EXPECT_FALSE(dir_.Exists("evil.bin"));
}

TEST_F(InternetServer, HttpsTrustsTheConfiguredAuthorityAndChecksTheHost) {
    std::string url = world_.Get("files_https.url") + Gen(11, 1500, "tls.bin");
    TStringErr err;
    EXPECT_TRUE(TInternetITV().DescargaHTTP_ITV_File(url.c_str(), dir_.Path("tls.bin").c_str(), err))
        << Str(err);
    EXPECT_EQ(dir_.Read("tls.bin"), dltest::GeneratedBytes(11, 0, 1500));

    // A certificate issued by the same authority for another host name.
    std::string wrong = world_.Get("badcert.url") + Gen(11, 1500, "tls.bin");
    TStringErr err2;
    EXPECT_FALSE(TInternetITV().DescargaHTTP_ITV_File(wrong.c_str(), dir_.Path("wrong.bin").c_str(), err2));
    EXPECT_FALSE(err2.IsEmpty());
    EXPECT_FALSE(dir_.Exists("wrong.bin"));

    // Without the configured authority the test server is not trusted.
    TInternetITV::Set_CAFile("");
    TStringErr err3;
    EXPECT_FALSE(TInternetITV().DescargaHTTP_ITV_File(url.c_str(), dir_.Path("untrusted.bin").c_str(), err3));
    EXPECT_NE(Str(err3).find("certificate"), std::string::npos) << Str(err3);
}

TEST_F(InternetServer, MemoryRequestsKeepTheBodyWhateverTheStatusAndAreCapped) {
    DString text;
    TStringErr err;
    std::string page = Gen(12, 100, "page.txt");
    ASSERT_TRUE(world_.Fault(page, R"({"kind":"body","status":404,"body":"ERROR=not here"})"));
    EXPECT_TRUE(TInternetITV().DescargaHTTP_ITV_Str((http_ + page).c_str(), text, err)) << Str(err);
    EXPECT_EQ(Str(text), "ERROR=not here");

    TStringErr err2;
    DString big;
    std::string huge = Gen(12, TInternetITV::kMaxMemoryBody + 1, "huge.bin");
    EXPECT_FALSE(TInternetITV().DescargaHTTP_ITV_Str((http_ + huge).c_str(), big, err2));
    EXPECT_EQ(Str(err2), "Answer too large");
}

TEST_F(InternetServer, DiskFullNamesTheLocalFileAndKeepsNoTarget) {
    DL_TMPFS_OR_SKIP(vol, dir_.Path("vol"), 1);
    for (bool resumable : {false, true}) {
        std::string name = resumable ? "r.bin" : "p.bin";
        std::string target = vol.path() + "/" + name;
        std::string path = Gen(13, 3 * 1024 * 1024, name);
        TStringErr err;
        bool ok = resumable
                      ? Resumable(path, target, err, 3 * 1024 * 1024)
                      : TInternetITV().DescargaHTTP_ITV_File((http_ + path).c_str(), target.c_str(), err);
        EXPECT_FALSE(ok);
        EXPECT_NE(Str(err).find("Error saving local file " + target), std::string::npos) << Str(err);
        EXPECT_NE(access(target.c_str(), F_OK), 0) << name;
        if (!resumable) {
            EXPECT_NE(access((target + ".part").c_str(), F_OK), 0);
        }
        unlink((target + ".part").c_str());
    }
}

TEST_F(InternetServer, PostAndUploadSendTheDesignedBytes) {
    std::string support = world_.Get("support.url");
    // A form POST: the body as given, the form headers, no "Expect".
    DString answer;
    TStringErr err;
    EXPECT_TRUE(TInternetITV().Post_HTTP_ITV_Str(support.c_str(), "a=1&b=%C3%A9", answer, err)) << Str(err);
    // An upload: fields, then the file, then the closing boundary.
    const std::string report = "\xEF\xBB\xBF{\"EMail\":{\"subject\":\"x\"}}";
    ASSERT_TRUE(dir_.Write("report.json", report));
    DString answer2;
    TStringErr err2;
    EXPECT_TRUE(TInternetITV().Sube_Fichero_HTTP(support.c_str(), dir_.Path("report.json").c_str(), "a=1&b=2",
                                                 "file", answer2, err2))
        << Str(err2);
    EXPECT_EQ(Str(answer2), "OK");

    auto recs = world_.WaitRecords("support", 2);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0]["method"], "POST");
    EXPECT_EQ(recs[0]["headers.content-type"] + recs[0]["headers.Content-Type"],
              "application/x-www-form-urlencoded");
    EXPECT_EQ(recs[0]["headers.cache-control"] + recs[0]["headers.Cache-Control"], "no-cache");
    std::string body0;
    {
        std::FILE* f = std::fopen((recs[0]["folder"] + "/body.bin").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buf[256];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        std::fclose(f);
        body0.assign(buf, n);
    }
    EXPECT_EQ(body0, "a=1&b=%C3%A9");

    EXPECT_EQ(recs[1]["byte_exact"], "true") << recs[1]["format_errors"];
    EXPECT_EQ(recs[1]["format_errors"], "[]");
    EXPECT_EQ(recs[1]["headers.Content-Type"],
              "multipart/form-data; boundary=MULTI-PARTS-FORM-DATA-BOUNDARY");
    EXPECT_EQ(recs[1]["headers.Accept-Charset"], "ISO-8859-1,utf-8;q=0.7,*;q=0.7");
    EXPECT_EQ(recs[1]["fields"], "[[\"a\", \"1\"], [\"b\", \"2\"]]");
    for (const auto& r : recs) {
        EXPECT_EQ(r.count("headers.Expect"), 0u);
        EXPECT_EQ(r.count("headers.expect"), 0u);
    }
    std::string expected = TInternetITV::Multipart_Head("a=1&b=2", "file", "report.json") + report +
                           TInternetITV::Multipart_Tail();
    EXPECT_EQ(recs[1]["body_size"], std::to_string(expected.size()));
}

TEST_F(InternetServer, RecordTransfersReplaceTheFileOnlyWhenComplete) {
    ASSERT_TRUE(dir_.Write("rec.bin", "old"));
    std::string path = Gen(14, 2500, "rec.bin");
    TDownloadData data;
    data.url = (http_ + path).c_str();
    data.local_file = dir_.Path("rec.bin").c_str();
    TStringErr unused;
    ASSERT_TRUE(world_.Fault(path, R"({"kind":"drop","after":1000})"));
    EXPECT_FALSE(TFileDownloader::Download(data, unused, nullptr));
    EXPECT_EQ(dir_.Read("rec.bin"), "old");
    EXPECT_FALSE(dir_.Exists("rec.bin.temp"));
    EXPECT_TRUE(TFileDownloader::Download(data, unused, nullptr));
    EXPECT_EQ(dir_.Read("rec.bin"), dltest::GeneratedBytes(14, 0, 2500));
    EXPECT_EQ(Str(data.local_file), dir_.Path("rec.bin"));

    // A service refusal in the answer text.
    std::string refusal = Gen(14, 10, "refuse.txt");
    ASSERT_TRUE(world_.Fault(refusal, R"({"kind":"body","body":"ERROR=denied"})"));
    TDownloadData q;
    q.url = (http_ + refusal).c_str();
    EXPECT_FALSE(TFileDownloader::Download(q, unused, nullptr));
    EXPECT_EQ(Str(q.response), "ERROR=denied");
}

} // namespace
