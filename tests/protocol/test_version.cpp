// The application's version text and the swap of a prepared replacement of the earlier
// application bundle.
#include "protocol/Version.h"

#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(Version, FormatsHundredsTensAndUnits) {
    const struct {
        const char* version;
        const char* formatted;
    } cases[] = {{"149", "1.4.9"}, {"1", "0.0.1"},     {"0", "0.0.0"},
                 {"", "0.0.0"},    {"1000", "10.0.0"}, {"20", "0.2.0"}};
    for (const auto& c : cases)
        EXPECT_STREQ(Format_Version(c.version).c_str(), c.formatted) << c.version;
}

TEST(Version, NewVersionOnlyWhenATextWaits) {
    EXPECT_FALSE(IsNewVersion(""));
    EXPECT_TRUE(IsNewVersion("150"));
}

TEST(Version, ApplicationPathsUnderTheMainFolder) {
    EXPECT_STREQ(PathEarlierApplication("/opt/x").c_str(), "/opt/x/Downloader.app/Contents/MacOS/Downloader");
    EXPECT_STREQ(PathThisApplication("/opt/x").c_str(), "/opt/x/Downloader2.app/Contents/MacOS/Downloader2");
}

// A main application folder in a temporary folder, with helpers for bundles.
class Replacement : public ::testing::Test {
protected:
    std::string Exe() const { return PathEarlierApplication(dir.path().c_str()).c_str(); }
    // A bundle folder holding one file with the given text.
    void Bundle(const std::string& name, const std::string& text) {
        ASSERT_TRUE(dir.Write(name + "/Contents/MacOS/Downloader", text));
    }
    std::string Content(const std::string& name) const {
        return dir.Read(name + "/Contents/MacOS/Downloader");
    }
    bool IsLink(const std::string& rel) const {
        struct stat st;
        return lstat(dir.Path(rel).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    dltest::TempDir dir;
};

TEST_F(Replacement, SwapsInTheReplacementAndRemovesTheOldBundle) {
    Bundle("Downloader.app", "old");
    Bundle("___Downloader.app", "new");
    DString report;
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str(), &report), EReplacement::kReplaced) << report.c_str();
    EXPECT_EQ(Content("Downloader.app"), "new");
    EXPECT_FALSE(dir.Exists("___Downloader.app"));
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));
}

TEST_F(Replacement, RenamesTheReplacementWhenThereIsNoBundle) {
    Bundle("___Downloader.app", "new");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kReplaced);
    EXPECT_EQ(Content("Downloader.app"), "new");
    EXPECT_FALSE(dir.Exists("___Downloader.app"));
}

TEST_F(Replacement, NothingWaitingChangesNothing) {
    Bundle("Downloader.app", "old");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kNothing);
    EXPECT_EQ(Content("Downloader.app"), "old");
}

TEST_F(Replacement, RefusesPathsThatAreNotTheEarlierBundle) {
    Bundle("___Downloader.app", "new");
    const std::string base = dir.path();
    const std::string refused[] = {
        "Downloader.app/Contents/MacOS/Downloader",              // relative
        base + "/Other.app/Contents/MacOS/Downloader",           // another bundle
        base + "/x/../Downloader.app/Contents/MacOS/Downloader", // climbs
        base + "/Downloader.app/Contents/Downloader",            // not in Contents/MacOS
        "",
    };
    for (const auto& path : refused)
        EXPECT_EQ(ReplaceEarlierApplication(path.c_str()), EReplacement::kRefused) << path;
    EXPECT_EQ(Content("___Downloader.app"), "new");
}

TEST_F(Replacement, AReplacementThatIsALinkIsNotFollowed) {
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("Contents/MacOS/Downloader", "elsewhere"));
    Bundle("Downloader.app", "old");
    ASSERT_EQ(symlink(outside.path().c_str(), dir.Path("___Downloader.app").c_str()), 0);
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kRefused);
    EXPECT_EQ(Content("Downloader.app"), "old");
    EXPECT_EQ(outside.Read("Contents/MacOS/Downloader"), "elsewhere");
}

TEST_F(Replacement, AnOldBundleThatIsALinkGoesAsALink) {
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("Contents/MacOS/Downloader", "keep me"));
    ASSERT_EQ(symlink(outside.path().c_str(), dir.Path("Downloader.app").c_str()), 0);
    Bundle("___Downloader.app", "new");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kReplaced);
    EXPECT_FALSE(IsLink("Downloader.app"));
    EXPECT_EQ(Content("Downloader.app"), "new");
    EXPECT_EQ(outside.Read("Contents/MacOS/Downloader"), "keep me");
}

TEST_F(Replacement, RemovingTheOldBundleDoesNotFollowLinksInsideIt) {
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("precious.txt", "keep me"));
    Bundle("Downloader.app", "old");
    ASSERT_EQ(symlink(outside.path().c_str(), dir.Path("Downloader.app/Contents/Resources").c_str()), 0);
    Bundle("___Downloader.app", "new");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kReplaced);
    EXPECT_EQ(outside.Read("precious.txt"), "keep me");
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));
}

TEST_F(Replacement, FinishesOrUndoesAnInterruptedSwap) {
    // Stopped after moving in: the old bundle left aside is removed.
    Bundle("Downloader.app", "new");
    Bundle("Downloader.app.___old", "old");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kNothing);
    EXPECT_EQ(Content("Downloader.app"), "new");
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));

    // Stopped after moving aside, replacement gone: the old bundle comes back.
    ASSERT_TRUE(dltest::RemoveTree(dir.Path("Downloader.app")));
    Bundle("Downloader.app.___old", "old");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kNothing);
    EXPECT_EQ(Content("Downloader.app"), "old");
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));

    // Stopped after moving aside, replacement still waiting: the swap completes.
    ASSERT_TRUE(dltest::RemoveTree(dir.Path("Downloader.app")));
    Bundle("Downloader.app.___old", "old");
    Bundle("___Downloader.app", "new");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kReplaced);
    EXPECT_EQ(Content("Downloader.app"), "new");
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));
    EXPECT_FALSE(dir.Exists("___Downloader.app"));
}

// A mount point cannot be renamed: a replacement that is one cannot be moved in, and an old
// bundle that is one cannot be moved aside.
TEST_F(Replacement, AFailedMoveInPutsTheOldBundleBack) {
    Bundle("Downloader.app", "old");
    DL_TMPFS_OR_SKIP(vol, dir.Path("___Downloader.app"), 1);
    ASSERT_TRUE(dir.Write("___Downloader.app/Contents/MacOS/Downloader", "new"));
    DString report;
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str(), &report), EReplacement::kRolledBack);
    EXPECT_NE(std::string(report.c_str()).find("rolled back=1"), std::string::npos) << report.c_str();
    EXPECT_EQ(Content("Downloader.app"), "old");
    EXPECT_EQ(Content("___Downloader.app"), "new");
    EXPECT_FALSE(dir.Exists("Downloader.app.___old"));
}

TEST_F(Replacement, AnOldBundleThatCannotMoveAsideStaysAsItIs) {
    DL_TMPFS_OR_SKIP(vol, dir.Path("Downloader.app"), 1);
    Bundle("Downloader.app", "old");
    Bundle("___Downloader.app", "new");
    EXPECT_EQ(ReplaceEarlierApplication(Exe().c_str()), EReplacement::kFailed);
    EXPECT_EQ(Content("Downloader.app"), "old");
    EXPECT_EQ(Content("___Downloader.app"), "new");
}

TEST(RemoveTree, RemovesALinkAsALink) {
    dltest::TempDir dir, outside;
    ASSERT_TRUE(outside.Write("a.txt", "keep"));
    ASSERT_EQ(symlink(outside.path().c_str(), dir.Path("link").c_str()), 0);
    EXPECT_TRUE(RemoveTreeNoFollow(dir.Path("link").c_str()));
    EXPECT_EQ(outside.Read("a.txt"), "keep");
    EXPECT_FALSE(RemoveTreeNoFollow("relative/path"));
    EXPECT_TRUE(RemoveTreeNoFollow(dir.Path("missing").c_str()));
}

} // namespace
