// Network reachability from route tables: fixtures, and a real network namespace.
#include <gtest/gtest.h>

#include "platform/PlatformFiles.h"
#include "platform/Reachability.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>

namespace {

const char kHeader4[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

// A route table and whether it holds a usable default route.
struct RouteCase {
    const char* what;
    std::string table;
    bool expected;
};

TEST(Reachability, DefaultRouteInIPv4Table) {
    const RouteCase cases[] = {
        {"empty", "", false},
        {"header only", kHeader4, false},
        {"default via gateway",
         std::string(kHeader4) + "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                 "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
         true},
        {"only a local network",
         std::string(kHeader4) + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n", false},
        {"default route down",
         std::string(kHeader4) + "eth0\t00000000\t0100A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", false},
        {"reject default",
         std::string(kHeader4) + "lo\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"default on loopback (test namespaces)",
         std::string(kHeader4) + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", true},
        {"malformed", std::string(kHeader4) + "eth0\tzz\t0\t0003\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Linux_DefaultRouteIPv4(c.table.c_str()), c.expected) << c.what;
}

TEST(Reachability, DefaultRouteInIPv6Table) {
    const std::string zero(32, '0');
    auto row = [&](const std::string& dest, const char* plen, const char* flags, const char* iface) {
        return dest + " " + plen + " " + zero +
               " 00 fe800000000000000000000000000001 00000400 00000001 00000000 " + flags + " " + iface +
               "\n";
    };
    const RouteCase cases[] = {
        {"empty", "", false},
        {"default via router", row(zero, "00", "00000003", "eth0"), true},
        {"unreachable default on lo", row(zero, "00", "00200200", "lo"), false},
        {"link-local only", row("fe800000000000000000000000000000", "40", "00000001", "eth0"), false},
        {"default down", row(zero, "00", "00000002", "eth0"), false},
        {"default on loopback", row(zero, "00", "00000001", "lo"), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Linux_DefaultRouteIPv6(c.table.c_str()), c.expected) << c.what;
}

class InternetAvailable : public ::testing::Test {
protected:
    void TearDown() override { PlatformFiles() = TPlatformFiles(); }
    dltest::TempDir dir_;
};

TEST_F(InternetAvailable, ReportsAndAppendsTheError) {
    ASSERT_TRUE(dir_.Write("route", kHeader4));
    ASSERT_TRUE(dir_.Write("ipv6_route", ""));
    PlatformFiles().route_ipv4 = dir_.Path("route").c_str();
    PlatformFiles().route_ipv6 = dir_.Path("ipv6_route").c_str();
    TStringErr err("Earlier. ");
    EXPECT_FALSE(Apple_IsInternetAvailable(err));
    EXPECT_STREQ(err.c_str(), "Earlier. Apple_IsInternetAvailable: Not connected to internet");
    err.Reported();

    const std::string zero(32, '0');
    ASSERT_TRUE(dir_.Write("ipv6_route", zero + " 00 " + zero + " 00 " + zero +
                                             " 00000400 00000001 00000000 00000003 eth0\n"));
    TStringErr ok;
    EXPECT_TRUE(Apple_IsInternetAvailable(ok));
    EXPECT_TRUE(ok.IsEmpty());

    PlatformFiles().route_ipv4 = dir_.Path("none").c_str();
    PlatformFiles().route_ipv6 = dir_.Path("none").c_str();
    TStringErr none;
    EXPECT_FALSE(Apple_IsInternetAvailable(none));
    none.Reported();
}

// A fresh network namespace has no route at all; a default route on loopback makes it "online".
TEST_F(InternetAvailable, RealNetworkNamespace) {
    if (unshare(CLONE_NEWNET) != 0) {
        if (errno == EPERM || errno == EACCES)
            GTEST_SKIP() << "needs a private network namespace (run as root): " << strerror(errno);
        FAIL() << "unshare(CLONE_NEWNET): " << strerror(errno);
    }
    TStringErr err;
    EXPECT_FALSE(Apple_IsInternetAvailable(err));
    err.Reported();
    ASSERT_EQ(system("ip link set lo up && ip route add default dev lo"), 0);
    TStringErr ok;
    EXPECT_TRUE(Apple_IsInternetAvailable(ok)) << ok.c_str();
}

} // namespace
