// Operating-system texts from os-release fixtures, the platform name and the computer identifier.
#include <gtest/gtest.h>

#include "platform/OsInfo.h"
#include "platform/PlatformFiles.h"
#include "support/TempDir.h"

#include <string>
#include <sys/utsname.h>

namespace {

class OsInfo : public ::testing::Test {
protected:
    void TearDown() override { PlatformFiles() = TPlatformFiles(); }
    void UseOsRelease(const std::string& content) {
        ASSERT_TRUE(dir_.Write("os-release", content));
        PlatformFiles().os_release = dir_.Path("os-release").c_str();
        PlatformFiles().os_release_fallback = dir_.Path("missing").c_str();
    }
    dltest::TempDir dir_;
};

TEST_F(OsInfo, VersionTextsFromOsRelease) {
    struct {
        const char* content;
        const char* version;
        const char* type;
        const char* edition;
    } cases[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n", "12.0.0", "Linux 12.0", "0"},
        {"NAME=Ubuntu\nVERSION_ID=\"22.04\"\n", "22.4.0", "Linux 22.4", "0"},
        {"VERSION_ID=15.5.3\n", "15.5.3", "Linux 15.5", "3"},
        {"VERSION_ID='39'\r\n", "39.0.0", "Linux 39.0", "0"},
        {"  # VERSION_ID=99\nVERSION_ID=1\nVERSION_ID=2.1\n", "2.1.0", "Linux 2.1", "0"},
        {"NAME=\"Arch Linux\"\nBUILD_ID=rolling\n", "0.0.0", "Linux 0.0", "0"},
        {"VERSION_ID=\"12-beta.x\"\n", "12.0.0", "Linux 12.0", "0"},
        {"", "0.0.0", "Linux 0.0", "0"},
    };
    for (const auto& c : cases) {
        UseOsRelease(c.content);
        DString out = "old";
        EXPECT_TRUE(GetOSVersion(out));
        EXPECT_STREQ(out.c_str(), c.version) << c.content;
        EXPECT_TRUE(GetOSType(out));
        EXPECT_STREQ(out.c_str(), c.type) << c.content;
        EXPECT_TRUE(GetOSEdition(out));
        EXPECT_STREQ(out.c_str(), c.edition) << c.content;
    }
}

TEST_F(OsInfo, FallbackFileAndMissingFiles) {
    ASSERT_TRUE(dir_.Write("usr-os-release", "VERSION_ID=7.1\n"));
    PlatformFiles().os_release = dir_.Path("none").c_str();
    PlatformFiles().os_release_fallback = dir_.Path("usr-os-release").c_str();
    DString out;
    GetOSVersion(out);
    EXPECT_STREQ(out.c_str(), "7.1.0");
    PlatformFiles().os_release_fallback = dir_.Path("none2").c_str();
    GetOSVersion(out);
    EXPECT_STREQ(out.c_str(), "0.0.0");
}

TEST_F(OsInfo, BuildCarrierAndPlatform) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    DString out = "x";
    EXPECT_TRUE(GetOSBldVersion(out));
    EXPECT_STREQ(out.c_str(), u.release);
    out = "x";
    EXPECT_FALSE(GetCarrier(out));
    EXPECT_STREQ(out.c_str(), "");
    EXPECT_TRUE(GetPlatformName(out));
    EXPECT_STREQ(out.c_str(), "linux");
}

TEST_F(OsInfo, ComputerIdIsASaltedHashOfTheMachineId) {
    const std::string id_a = "0123456789abcdef0123456789abcdef";
    ASSERT_TRUE(dir_.Write("machine-id", id_a + "\n"));
    ASSERT_TRUE(dir_.Write("machine-id-b", "fedcba9876543210fedcba9876543210\n"));
    PlatformFiles().machine_id = dir_.Path("machine-id").c_str();
    PlatformFiles().machine_id_fallback = dir_.Path("none").c_str();

    DString a, again, b;
    ASSERT_TRUE(GetComputerId(a));
    ASSERT_TRUE(GetComputerId(again));
    std::string s = a.c_str();
    EXPECT_EQ(s.size(), 64u);
    EXPECT_EQ(s.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(s.find(id_a), std::string::npos);
    EXPECT_EQ(s.find(id_a.substr(0, 8)), std::string::npos);
    EXPECT_STREQ(a.c_str(), again.c_str());

    PlatformFiles().machine_id = dir_.Path("machine-id-b").c_str();
    ASSERT_TRUE(GetComputerId(b));
    EXPECT_STRNE(a.c_str(), b.c_str());

    // The fallback file is used when the first is missing.
    PlatformFiles().machine_id = dir_.Path("none").c_str();
    PlatformFiles().machine_id_fallback = dir_.Path("machine-id").c_str();
    ASSERT_TRUE(GetComputerId(again));
    EXPECT_STREQ(a.c_str(), again.c_str());
}

TEST_F(OsInfo, ComputerIdWithoutAUsableMachineIdStaysTheSameForTheRun) {
    ASSERT_TRUE(dir_.Write("bad", "uninitialized\n"));
    PlatformFiles().machine_id = dir_.Path("bad").c_str();
    PlatformFiles().machine_id_fallback = dir_.Path("none").c_str();
    DString a, b;
    ASSERT_TRUE(GetComputerId(a));
    ASSERT_TRUE(GetComputerId(b));
    EXPECT_EQ(a.Length(), 64);
    EXPECT_STREQ(a.c_str(), b.c_str());
}

} // namespace
