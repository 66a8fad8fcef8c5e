// File utilities on small real volumes (tmpfs in a private mount namespace): copies and moves
// into a full volume, free space, and a read-only device.
#include <gtest/gtest.h>

#include "files/FitxUtils.h"
#include "foundation/StringErr.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

TStringNomFitx N(const std::string& s) {
    return TStringNomFitx(s.c_str());
}

bool Contiene(const DString& text, const std::string& part) {
    return std::string(text.c_str()).find(part) != std::string::npos;
}

} // namespace

TEST(FullVolume, CopyThroughTemporaryKeepsTheOldFile) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 2);
    ASSERT_TRUE(dir.Write("src.img", std::string(1500000, 'n')));
    ASSERT_TRUE(dir.Write("vol/map.img", std::string(200000, 'o')));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 300000));
    TStringErr err;
    EXPECT_FALSE(
        TFitxUtils::Copy(N(dir.Path("src.img")), N(vol.path() + "/map.img"), err, true, nullptr, true));
    EXPECT_TRUE(Contiene(err, "Error writing " + vol.path() + "/map.img file. No space left on device"))
        << err.c_str();
    err.Reported();
    EXPECT_EQ(dir.Read("vol/map.img"), std::string(200000, 'o'));
    EXPECT_FALSE(dir.Exists("vol/map.img.$$$"));
}

TEST(FullVolume, DirectCopyLeavesNoPartialFile) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("src.img", std::string(600000, 'n')));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 100000));
    TStringErr err;
    EXPECT_FALSE(TFitxUtils::Copy_File(N(dir.Path("src.img")), N(vol.path() + "/new.img"), false, err));
    EXPECT_TRUE(Contiene(err, "Error writing " + vol.path() + "/new.img file. No space left on device"))
        << err.c_str();
    err.Reported();
    EXPECT_FALSE(dir.Exists("vol/new.img"));
}

TEST(FullVolume, MoveAcrossVolumes) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 2);
    ASSERT_TRUE(dir.Write("a.bin", "moved"));
    TStringErr err;
    ASSERT_TRUE(TFitxUtils::Move_File(N(dir.Path("a.bin")), N(vol.path() + "/a.bin"), &err)) << err.c_str();
    EXPECT_EQ(dir.Read("vol/a.bin"), "moved");
    EXPECT_FALSE(dir.Exists("a.bin"));
    // Into a full volume: the source stays and the old destination too.
    ASSERT_TRUE(dir.Write("big.bin", std::string(800000, 'b')));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 100000));
    EXPECT_FALSE(TFitxUtils::Move_File(N(dir.Path("big.bin")), N(vol.path() + "/a.bin"), &err));
    err.Reported();
    EXPECT_EQ(dir.Read("big.bin").size(), 800000u);
    EXPECT_EQ(dir.Read("vol/a.bin"), "moved");
    EXPECT_FALSE(dir.Exists("vol/a.bin.$$$"));
}

TEST(FreeSpace, FollowsTheVolume) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 4);
    int64_t before = 0, after = 0;
    ASSERT_TRUE(TFitxUtils::Disk_Free(N(vol.path()), before));
    EXPECT_EQ(before, 4096);
    ASSERT_TRUE(dir.Write("vol/x.bin", std::string(1 << 20, 'x')));
    ASSERT_TRUE(TFitxUtils::Disk_Free(N(vol.path() + "/"), after));
    EXPECT_EQ(after, 3072);
    EXPECT_TRUE(TFitxUtils::Allow_Disk_Space(N(vol.path()), 3071));
    EXPECT_FALSE(TFitxUtils::Allow_Disk_Space(N(vol.path()), 3072));
}

TEST(ReadOnlyDevice, NothingChangesAndEveryCallSaysSo) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("vol/t/a.txt", "a"));
    ASSERT_TRUE(dir.Write("src.txt", "s"));
    ASSERT_TRUE(vol.RemountReadOnly()) << vol.error();
    TStringErr err;
    EXPECT_FALSE(TFitxUtils::Crea_Carpeta(N(vol.path() + "/new"), false, &err));
    EXPECT_EQ(std::string(err.c_str()), "Error creating folder: " + vol.path() + "/new");
    err.Vacia();
    EXPECT_FALSE(TFitxUtils::Delete_File(N(vol.path() + "/t/a.txt"), &err));
    err.Vacia();
    EXPECT_FALSE(
        TFitxUtils::Copy(N(dir.Path("src.txt")), N(vol.path() + "/t/a.txt"), err, true, nullptr, true));
    err.Vacia();
    EXPECT_FALSE(TIteradorFitx::Borra_Carpeta(N(vol.path() + "/t"), err));
    EXPECT_EQ(std::string(err.c_str()), "Error deleting file: " + vol.path() + "/t/a.txt ");
    err.Reported();
    EXPECT_EQ(dir.Read("vol/t/a.txt"), "a");
}
