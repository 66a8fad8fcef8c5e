// Volumes: the mount table, the folder of volume links, the `VolumesRoot=` override and free space.
#include <gtest/gtest.h>

#include "foundation/NomFitx.h"
#include "platform/PlatformFiles.h"
#include "platform/StandardFolders.h"
#include "platform/Volumes.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kMountInfo[] =
    "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
    "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "60 28 8:17 / /run/media/ana/NAV\\040GPS rw,nosuid,nodev,relatime shared:300 master:7 - vfat /dev/sdb1 "
    "rw,fmask=0022\n"
    "61 28 8:18 / /media/ana/CARD rw,nosuid - exfat /dev/sdc1 rw\n"
    "62 60 8:19 / /run/media/ana/NAV\\040GPS/inner rw - vfat /dev/sdd1 rw\n"
    "63 28 8:20 / /run/media/bob/OTHER rw - vfat /dev/sde1 rw\n"
    "64 28 8:21 / /media/ana/CARD rw - vfat /dev/sdf1 rw\n"
    "65 28 8:22 /sub /run/media/ana/Tab\\011Name rw - vfat /dev/sdg1 rw\n"
    "garbage line\n"
    "66 28 8:23 / relative rw - vfat /dev/sdh1 rw\n"
    "67 28 8:24 / /run/media/ana/NoDash rw vfat /dev/sdi1 rw\n";

TEST(MountInfo, ParsesFieldsAndDecodesEscapes) {
    std::vector<TMountEntry> m = Linux_ParseMountInfo(kMountInfo);
    ASSERT_EQ(m.size(), 8u);
    EXPECT_EQ(m[0].mount_point, "/proc");
    EXPECT_EQ(m[0].fstype, "proc");
    EXPECT_EQ(m[1].id, 28);
    EXPECT_EQ(m[1].parent, 1);
    EXPECT_EQ(m[1].source, "/dev/vda");
    EXPECT_EQ(m[2].mount_point, "/run/media/ana/NAV GPS");
    EXPECT_EQ(m[2].fstype, "vfat"); // after the optional fields
    EXPECT_EQ(m[2].source, "/dev/sdb1");
    EXPECT_EQ(m[2].options, "rw,nosuid,nodev,relatime");
    EXPECT_EQ(m[7].root, "/sub");
    EXPECT_EQ(m[7].mount_point, "/run/media/ana/Tab\tName");

    EXPECT_EQ(Linux_DecodeMountEscapes("a\\040b\\134c\\012d"), "a b\\c\nd");
    EXPECT_EQ(Linux_DecodeMountEscapes("\\04"), "\\04");
    EXPECT_EQ(Linux_DecodeMountEscapes("\\999x"), "\\999x");
}

TEST(MountInfo, RemovableVolumesAreDirectChildrenOfTheMediaRoots) {
    std::vector<TRemovableVolume> v =
        Linux_RemovableVolumes(Linux_ParseMountInfo(kMountInfo), {"/run/media/ana/", "/media/ana"});
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].name, "NAV GPS");
    EXPECT_EQ(v[0].mount_point, "/run/media/ana/NAV GPS");
    EXPECT_EQ(v[1].name, "CARD"); // mounted twice on the same point: one volume
    EXPECT_EQ(v[1].mount_point, "/media/ana/CARD");
    EXPECT_EQ(v[2].name, "Tab\tName");
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") out.insert(n);
        }
        closedir(d);
    }
    return out;
}

std::string LinkTarget(const std::string& path) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? "" : std::string(buf, size_t(n));
}

TEST(VolumeLinks, FollowsTheMountTableAndTouchesOnlyItsOwnLinks) {
    dltest::TempDir dir;
    const std::string links = dir.Path("Volumes");
    const std::vector<std::string> roots = {"/run/media/ana/", "/media/ana/"};

    // What the user (or anything else) keeps in the folder, including a name a volume will want.
    ASSERT_TRUE(dir.Write("Volumes/notes.txt", "mine"));
    ASSERT_TRUE(dir.Mkdir("Volumes/CARD"));
    ASSERT_EQ(symlink("/somewhere/else", (links + "/foreign").c_str()), 0);
    ASSERT_EQ(symlink("/run/media/ana/deeper/x", (links + "/deep").c_str()), 0);
    // Our own stale link, and one whose volume moved.
    ASSERT_EQ(symlink("/run/media/ana/OLD", (links + "/OLD").c_str()), 0);
    ASSERT_EQ(symlink("/media/ana/NAV GPS", (links + "/NAV GPS").c_str()), 0);

    DString report;
    ASSERT_TRUE(Linux_RefreshVolumeLinks(links.c_str(), Linux_ParseMountInfo(kMountInfo), roots, &report));
    EXPECT_EQ(Entries(links),
              (std::set<std::string>{"notes.txt", "CARD", "foreign", "deep", "NAV GPS", "Tab\tName"}));
    EXPECT_EQ(LinkTarget(links + "/NAV GPS"), "/run/media/ana/NAV GPS");
    EXPECT_EQ(LinkTarget(links + "/Tab\tName"), "/run/media/ana/Tab\tName");
    EXPECT_EQ(LinkTarget(links + "/foreign"), "/somewhere/else");
    EXPECT_EQ(dir.Read("Volumes/notes.txt"), "mine");
    std::string r = report.c_str();
    EXPECT_NE(r.find(" . removed=OLD"), std::string::npos) << r;
    EXPECT_NE(r.find(" . skipped=CARD"), std::string::npos) << r;
    EXPECT_NE(r.find(" . NAV GPS=/run/media/ana/NAV GPS"), std::string::npos) << r;

    // Everything unmounted: only our links go.
    ASSERT_TRUE(Linux_RefreshVolumeLinks(links.c_str(), {}, roots));
    EXPECT_EQ(Entries(links), (std::set<std::string>{"notes.txt", "CARD", "foreign", "deep"}));

    struct stat st;
    ASSERT_EQ(stat(links.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

class VolumesRoot : public ::testing::Test {
protected:
    void SetUp() override { TStringNomFitx::Libera_Registro(); }
    void TearDown() override {
        Linux_ClearVolumesRootOverride();
        TStringNomFitx::Libera_Registro();
        PlatformFiles() = TPlatformFiles();
    }
};

// A real removable volume: a tmpfs mounted under a made-up /run/media/<user>/NAME.
TEST_F(VolumesRoot, RefreshFindsARealMountAndForgetsItOnceUnmounted) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(run, "/run", 1); // keeps the made-up folders off the real disk
    const std::string user = Linux_UserName().c_str();
    const std::string mount_point = "/run/media/" + user + "/NAV DATA";
    DL_TMPFS_OR_SKIP(card, mount_point, 2);
    ASSERT_TRUE(dir.Write("probe", "x"));

    const std::string links = dir.Path("Volumes/");
    TStringNomFitx::Set_this_Volumes_Root(links.c_str());
    TStringNomFitx::Set_this_Media_Roots(("/run/media/" + user + "/;/media/" + user + "/").c_str());
    ASSERT_TRUE(dir.Write("Volumes/README", "not a volume"));

    DString report;
    ASSERT_TRUE(Linux_RefreshVolumesRoot(&report));
    EXPECT_EQ(LinkTarget(links + "NAV DATA"), mount_point) << report.c_str();

    // The volume is reachable through its link, with the size of the real volume.
    TStringNomFitx on_volume((links + "NAV DATA/OrvaneData/Maps/").c_str());
    EXPECT_EQ(std::string(on_volume.Obten_Unidad().c_str()), "NAV DATA");
    EXPECT_TRUE(on_volume.Obten_Unidad_Typo().Verifica_Existencia_Carpeta(false));
    int64_t free_bytes = 0, total = 0;
    ASSERT_TRUE(Linux_FreeSpace(on_volume.Obten_Unidad_Formateada().c_str(), free_bytes, &total));
    EXPECT_EQ(total, 2 * 1024 * 1024);
    EXPECT_GT(free_bytes, 0);

    ASSERT_TRUE(card.Unmount()) << card.error();
    ASSERT_TRUE(Linux_RefreshVolumesRoot(&report));
    EXPECT_EQ(Entries(links), std::set<std::string>{"README"}) << report.c_str();
    // The volume is gone: its root does not exist, so nothing can be created in its place.
    EXPECT_FALSE(on_volume.Obten_Unidad_Typo().Verifica_Existencia_Carpeta(false));
    EXPECT_FALSE(Linux_FreeSpace(on_volume.Obten_Unidad_Formateada().c_str(), free_bytes));
    EXPECT_EQ(free_bytes, 0);
}

TEST_F(VolumesRoot, OverrideIsUsedAsItIs) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Mkdir("vols/NAV"));
    TStringNomFitx::Set_this_Media_Roots("/run/media/ana/");
    ASSERT_TRUE(dir.Write("mountinfo", kMountInfo));
    PlatformFiles().mountinfo = dir.Path("mountinfo").c_str();

    Linux_SetVolumesRootOverride("");
    EXPECT_FALSE(Linux_VolumesRootIsOverride());
    Linux_SetVolumesRootOverride(dir.Path("vols").c_str());
    EXPECT_TRUE(Linux_VolumesRootIsOverride());
    EXPECT_EQ(std::string(TStringNomFitx::Ret_Volumes_Root().c_str()), dir.Path("vols/"));

    ASSERT_TRUE(Linux_RefreshVolumesRoot());
    EXPECT_EQ(Entries(dir.Path("vols")), std::set<std::string>{"NAV"}); // no links added

    TStringNomFitx p(dir.Path("vols/NAV/Maps/a.img").c_str());
    EXPECT_EQ(std::string(p.Obten_Unidad().c_str()), "NAV");
    EXPECT_EQ(std::string(p.Obten_Unidad_Typo().c_str()), dir.Path("vols/NAV"));

    // Without the override the same mount table gives links.
    Linux_ClearVolumesRootOverride();
    TStringNomFitx::Set_this_Volumes_Root(dir.Path("links").c_str());
    ASSERT_TRUE(Linux_RefreshVolumesRoot());
    EXPECT_EQ(Entries(dir.Path("links")), (std::set<std::string>{"NAV GPS", "Tab\tName"}));
}

TEST(FreeSpace, MeasuresLargeAndMissingPaths) {
    int64_t free_bytes = -1, total = -1;
    ASSERT_TRUE(Linux_FreeSpace("/", free_bytes, &total));
    EXPECT_GT(total, 0);
    EXPECT_LE(free_bytes, total);
    EXPECT_FALSE(Linux_FreeSpace("/nonexistent/path", free_bytes, &total));
    EXPECT_EQ(free_bytes, 0);
    EXPECT_EQ(total, 0);
    EXPECT_FALSE(Linux_FreeSpace("", free_bytes));
}

TEST(FreeSpace, SizesBeyondFourGigabytes) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(big, dir.Path("big"), 6 * 1024); // tmpfs takes memory only as it is filled
    int64_t free_bytes = 0, total = 0;
    ASSERT_TRUE(Linux_FreeSpace(big.path().c_str(), free_bytes, &total));
    EXPECT_EQ(total, int64_t(6) * 1024 * 1024 * 1024);
    EXPECT_EQ(free_bytes, total);
}

} // namespace
