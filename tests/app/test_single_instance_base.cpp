// One run per user: the first process owns the run, a later one hands its link over the owner's
// socket.
#include "app/SingleInstance.h"

#include "AppTestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using dltest::AppTestHome;

// Links the owner received, on its listener thread.
class Received {
public:
    void Add(const std::string& link) {
        std::lock_guard<std::mutex> hold(m_);
        links_.push_back(link);
        cv_.notify_all();
    }
    // The links once count have arrived (the hand-over returns before the owner's callback ends).
    std::vector<std::string> Wait(size_t count) {
        std::unique_lock<std::mutex> hold(m_);
        cv_.wait_for(hold, std::chrono::seconds(30), [&] { return links_.size() >= count; });
        return links_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> links_;
};

TEST(SingleInstance, ALaterStartHandsItsLinkToTheOwner) {
    AppTestHome home;
    Received received;
    TInstanciaUnica owner;
    EXPECT_EQ(owner.Folder(), home.Runtime());
    ASSERT_EQ(owner.Claim("quillinstallwizard:first"), TInstanciaUnica::kOwner);
    ASSERT_TRUE(owner.Listen([&](const std::string& link) { received.Add(link); })) << owner.Error();

    struct stat st;
    ASSERT_EQ(lstat(owner.SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);

    TInstanciaUnica later;
    EXPECT_EQ(later.Claim("quillinstallwizard:second"), TInstanciaUnica::kHandedOver) << later.Error();
    TInstanciaUnica empty;
    EXPECT_EQ(empty.Claim(""), TInstanciaUnica::kHandedOver) << empty.Error();
    EXPECT_EQ(received.Wait(2), (std::vector<std::string>{"quillinstallwizard:second", ""}));
}

TEST(SingleInstance, ALongLinkIsCutAtTheLimit) {
    AppTestHome home;
    Received received;
    TInstanciaUnica owner;
    ASSERT_EQ(owner.Claim("x"), TInstanciaUnica::kOwner);
    ASSERT_TRUE(owner.Listen([&](const std::string& link) { received.Add(link); }));
    TInstanciaUnica later;
    EXPECT_EQ(later.Claim(std::string(TInstanciaUnica::kMaxLink + 1000, 'a')), TInstanciaUnica::kHandedOver);
    std::vector<std::string> links = received.Wait(1);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].size(), size_t(TInstanciaUnica::kMaxLink));
}

TEST(SingleInstance, AnOwnerThatDoesNotListenCannotBeReached) {
    AppTestHome home;
    TInstanciaUnica owner;
    ASSERT_EQ(owner.Claim("x"), TInstanciaUnica::kOwner);
    TInstanciaUnica later;
    EXPECT_EQ(later.Claim("y", 0), TInstanciaUnica::kFailed);
    EXPECT_NE(later.Error().find("cannot reach"), std::string::npos) << later.Error();
}

TEST(SingleInstance, TheRunIsFreeAgainWhenTheOwnerEnds) {
    AppTestHome home;
    {
        TInstanciaUnica owner;
        ASSERT_EQ(owner.Claim("x"), TInstanciaUnica::kOwner);
        ASSERT_TRUE(owner.Listen([](const std::string&) {}));
    }
    struct stat st;
    EXPECT_NE(lstat((home.Runtime() + "/downloader2.sock").c_str(), &st), 0)
        << "the owner removes its socket";

    // A socket left by a run that crashed is replaced.
    {
        TInstanciaUnica crashed;
        ASSERT_EQ(crashed.Claim("x"), TInstanciaUnica::kOwner);
        ASSERT_TRUE(crashed.Listen([](const std::string&) {}));
        std::string sock = crashed.SocketPath();
        ASSERT_EQ(link(sock.c_str(), (sock + ".kept").c_str()), 0);
    }
    ASSERT_EQ(rename((home.Runtime() + "/downloader2.sock.kept").c_str(),
                     (home.Runtime() + "/downloader2.sock").c_str()),
              0);
    TInstanciaUnica next;
    ASSERT_EQ(next.Claim("x"), TInstanciaUnica::kOwner);
    EXPECT_TRUE(next.Listen([](const std::string&) {})) << next.Error();
}

TEST(SingleInstance, ARuntimeFolderThatIsNotPrivateIsNotUsed) {
    AppTestHome home;
    chmod(home.Runtime().c_str(), 0755);
    std::string folder = TInstanciaUnica::DefaultFolder();
    EXPECT_EQ(folder, home.Home() + "/.cache/Downloader2/run");
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(TInstanciaUnica::DefaultFolder(), folder);
}

TEST(SingleInstance, TheLockIsNeverTakenThroughALink) {
    AppTestHome home;
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("target", "keep"));
    ASSERT_EQ(symlink(outside.Path("target").c_str(), (home.Runtime() + "/downloader2.lock").c_str()), 0);
    TInstanciaUnica owner;
    EXPECT_EQ(owner.Claim("x"), TInstanciaUnica::kOwner);
    EXPECT_NE(owner.Error().find("cannot open"), std::string::npos);
    EXPECT_EQ(outside.Read("target"), "keep");
}

} // namespace
