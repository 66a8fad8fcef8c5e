// The per-user settings store: property-list round trips, privacy and atomic replacement.
#include <gtest/gtest.h>

#include "foundation/NomFitx.h"
#include "platform/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

unsigned Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0xFFFFu;
}

int CountEntries(const std::string& folder) {
    int n = 0;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
        closedir(d);
    }
    return n;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", home_.Path("data").c_str(), 1);
        TStringNomFitx::Libera_Registro();
        TStringNomFitx::Set_this_Path_Exe(home_.Path("share/downloader2/Downloader2.exe").c_str());
        ASSERT_TRUE(Apple_GetApppList_Path("Downloader", folder_, file_));
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        TStringNomFitx::Libera_Registro();
    }
    dltest::TempDir home_;
    DString folder_, file_;
};

TEST_F(SettingsStore, PathOfTheStore) {
    EXPECT_EQ(std::string(folder_.c_str()), home_.Path("data/Downloader/"));
    EXPECT_EQ(std::string(file_.c_str()), home_.Path("data/Downloader/Downloader-CustomInfo.plist"));
    DString folder, file;
    EXPECT_FALSE(Apple_GetApppList_Path("", folder, file));
}

TEST_F(SettingsStore, FirstRunHasNoStoreAndLosesWrites) {
    DString value = "stale";
    EXPECT_FALSE(Apple_GetValuepList(file_.c_str(), "Language", value));
    EXPECT_STREQ(value.c_str(), "");
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "Language", "58"));
    EXPECT_FALSE(home_.Exists("data/Downloader/Downloader-CustomInfo.plist")); // never created here
}

TEST_F(SettingsStore, RoundTripIsPrivate) {
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    EXPECT_EQ(Mode(file_.c_str()), 0600u);
    EXPECT_EQ(Mode(folder_.c_str()), 0700u);

    DString value = "x";
    EXPECT_TRUE(Apple_GetValuepList(file_.c_str(), "IP", value)); // absent name: true and empty
    EXPECT_STREQ(value.c_str(), "");

    const char* tricky = "p&ss<wörd> \"quoted\" 'single' ]]> \ttab\r\nnext line";
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "IP", "192.168.1.20"));
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "Password", tricky));
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "IP", "192.168.1.21")); // replaced, not added
    EXPECT_TRUE(Apple_GetValuepList(file_.c_str(), "IP", value));
    EXPECT_STREQ(value.c_str(), "192.168.1.21");
    EXPECT_TRUE(Apple_GetValuepList(file_.c_str(), "Password", value));
    EXPECT_STREQ(value.c_str(), tricky);
    EXPECT_EQ(Mode(file_.c_str()), 0600u);

    std::vector<TPListEntry> entries;
    ASSERT_TRUE(Linux_ParsePList(home_.Read("data/Downloader/Downloader-CustomInfo.plist"), entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(CountEntries(folder_.c_str()), 1); // no temporary left behind
}

TEST_F(SettingsStore, StoreIsMadeFromTheTemplate) {
    std::vector<TPListEntry> defaults = {
        {"Language", "integer", "58"}, {"NewInstallation", "string", "1"}, {"Beta", "true", "1"}};
    ASSERT_TRUE(home_.Write("share/downloader2/Downloader-CustomInfo.plist", Linux_FormatPList(defaults)));
    ASSERT_TRUE(home_.Mkdir("data/Downloader"));
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    EXPECT_EQ(Mode(folder_.c_str()), 0700u); // an existing shared folder is made private too
    EXPECT_EQ(Mode(file_.c_str()), 0600u);
    DString value;
    ASSERT_TRUE(Apple_GetValuepList(file_.c_str(), "Language", value));
    EXPECT_STREQ(value.c_str(), "58");
    ASSERT_TRUE(Apple_GetValuepList(file_.c_str(), "Beta", value));
    EXPECT_STREQ(value.c_str(), "1");

    // An existing store is never replaced by the template.
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "NewInstallation", "0"));
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    ASSERT_TRUE(Apple_GetValuepList(file_.c_str(), "NewInstallation", value));
    EXPECT_STREQ(value.c_str(), "0");
    // Values of other types keep their type when the store is rewritten.
    std::vector<TPListEntry> entries;
    ASSERT_TRUE(Linux_ParsePList(home_.Read("data/Downloader/Downloader-CustomInfo.plist"), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, "integer");
    EXPECT_EQ(entries[2].type, "true");
}

TEST_F(SettingsStore, WhatCannotBeStoredLeavesTheStoreAlone) {
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "IP", "10.0.0.1"));
    std::string before = home_.Read("data/Downloader/Downloader-CustomInfo.plist");
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "IP", "bell\x07"));
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "IP", "bad \xC3\x28 utf8"));
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "", "x"));
    EXPECT_EQ(home_.Read("data/Downloader/Downloader-CustomInfo.plist"), before);
}

TEST_F(SettingsStore, UnreadableOrForeignFiles) {
    struct {
        const char* what;
        const char* content;
        bool readable;
        bool writable;
    } cases[] = {
        {"empty file", "", false, false},
        {"not XML", "Language=58\n", false, false},
        {"truncated", "<?xml version=\"1.0\"?><plist><dict><key>IP</key><string>1", false, false},
        {"top level not a dictionary", "<plist><array><string>x</string></array></plist>", false, false},
        {"not a plist", "<dict><key>IP</key><string>1</string></dict>", false, false},
        {"nested values",
         "<plist><dict><key>IP</key><string>1</string><key>L</key><array><string>a</string>"
         "</array></dict></plist>",
         true, false},
        {"no declaration, entities",
         "<plist version=\"1.0\"><dict><key>IP</key><string>a&amp;b&#x41;</string>"
         "</dict></plist>",
         true, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(home_.Write("data/Downloader/Downloader-CustomInfo.plist", c.content));
        DString value;
        EXPECT_EQ(Apple_GetValuepList(file_.c_str(), "IP", value), c.readable) << c.what;
        EXPECT_EQ(Apple_SetValuepList(file_.c_str(), "Version", "149"), c.writable) << c.what;
        if (!c.writable) {
            EXPECT_EQ(home_.Read("data/Downloader/Downloader-CustomInfo.plist"), c.content) << c.what;
        }
    }
    DString value;
    ASSERT_TRUE(Apple_GetValuepList(file_.c_str(), "IP", value));
    EXPECT_STREQ(value.c_str(), "a&bA");
}

TEST_F(SettingsStore, FullDiskKeepsTheOldStore) {
    DL_TMPFS_OR_SKIP(vol, home_.Path("data"), 1);
    ASSERT_TRUE(Apple_InitFTPpList("Downloader"));
    ASSERT_TRUE(Apple_SetValuepList(file_.c_str(), "IP", "10.0.0.1"));
    std::string before = home_.Read("data/Downloader/Downloader-CustomInfo.plist");

    // Fill the volume, then try to store a value larger than what is left.
    ASSERT_TRUE(home_.Write("data/filler", std::string(1024 * 1024 - 64 * 1024, 'f')));
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "Password", std::string(200 * 1024, 'p').c_str()));
    EXPECT_EQ(home_.Read("data/Downloader/Downloader-CustomInfo.plist"), before);
    EXPECT_EQ(CountEntries(folder_.c_str()), 1);

    ASSERT_TRUE(vol.RemountReadOnly()) << vol.error();
    EXPECT_FALSE(Apple_SetValuepList(file_.c_str(), "IP", "10.0.0.2"));
    DString value;
    ASSERT_TRUE(Apple_GetValuepList(file_.c_str(), "IP", value));
    EXPECT_STREQ(value.c_str(), "10.0.0.1");
}

TEST(AtomicWrite, ReplacesWholeFileWithTheGivenMode) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("f", "old content that is longer"));
    ASSERT_EQ(chmod(dir.Path("f").c_str(), 0644), 0);
    ASSERT_TRUE(Linux_WriteFileAtomic(dir.Path("f").c_str(), "new", 0600));
    EXPECT_EQ(dir.Read("f"), "new");
    EXPECT_EQ(Mode(dir.Path("f")), 0600u);
    EXPECT_FALSE(Linux_WriteFileAtomic(dir.Path("missing/f").c_str(), "x"));
    EXPECT_EQ(CountEntries(dir.path()), 1);
}

} // namespace
