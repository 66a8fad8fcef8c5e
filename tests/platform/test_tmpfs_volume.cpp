// The shared test helpers themselves: temporary folders and private tmpfs volumes.
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool IsMountPoint(const std::string& path) {
    struct stat a, b;
    return stat(path.c_str(), &a) == 0 && stat((path + "/..").c_str(), &b) == 0 && a.st_dev != b.st_dev;
}

int WriteBytes(const std::string& file, size_t n) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return errno;
    std::string block(65536, 'x');
    int err = 0;
    while (n > 0) {
        ssize_t w = write(fd, block.data(), n < block.size() ? n : block.size());
        if (w < 0) {
            err = errno;
            break;
        }
        n -= size_t(w);
    }
    if (close(fd) != 0 && err == 0) err = errno;
    return err;
}

} // namespace

TEST(TempDir, WritesReadsAndRemovesWithoutFollowingLinks) {
    dltest::TempDir outside;
    ASSERT_TRUE(outside.Write("keep.txt", "precious"));
    std::string removed;
    {
        dltest::TempDir dir;
        removed = dir.path();
        ASSERT_TRUE(dir.Write("a/b/c.txt", "hello"));
        EXPECT_EQ(dir.Read("a/b/c.txt"), "hello");
        EXPECT_EQ(dir.Path("x"), dir.path() + "/x");
        ASSERT_EQ(symlink(outside.path().c_str(), dir.Path("a/link").c_str()), 0);
        ASSERT_TRUE(dir.Mkdir("locked/inner"));
        ASSERT_EQ(chmod(dir.Path("locked").c_str(), 0), 0);
    }
    struct stat st;
    EXPECT_NE(lstat(removed.c_str(), &st), 0);
    EXPECT_EQ(outside.Read("keep.txt"), "precious");
}

TEST(TmpfsVolume, FillsUpAndTurnsReadOnly) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol/deep"), 1);
    EXPECT_TRUE(IsMountPoint(vol.path()));
    struct statvfs sv;
    ASSERT_EQ(statvfs(vol.path().c_str(), &sv), 0);
    EXPECT_LE(uint64_t(sv.f_blocks) * sv.f_frsize, 1024u * 1024u);

    EXPECT_EQ(WriteBytes(vol.path() + "/big", 2 * 1024 * 1024), ENOSPC);
    ASSERT_EQ(unlink((vol.path() + "/big").c_str()), 0);

    ASSERT_TRUE(vol.RemountReadOnly()) << vol.error();
    EXPECT_EQ(WriteBytes(vol.path() + "/small", 10), EROFS);
    ASSERT_TRUE(vol.RemountReadWrite()) << vol.error();
    EXPECT_EQ(WriteBytes(vol.path() + "/small", 10), 0);

    ASSERT_TRUE(vol.Unmount()) << vol.error();
    EXPECT_FALSE(IsMountPoint(vol.path()));
}

TEST(TmpfsVolume, CoveringASystemFolderLeavesTheRealDiskAlone) {
    std::string made_up = "/run/media/dltest-user/CARD";
    {
        DL_TMPFS_OR_SKIP(run, "/run", 1);
        DL_TMPFS_OR_SKIP(card, made_up, 1);
        EXPECT_TRUE(IsMountPoint(made_up));
        ASSERT_TRUE(card.Unmount());
    }
    // Back outside the covering tmpfs: the made-up folders never existed on the real disk.
    struct stat st;
    EXPECT_NE(lstat("/run/media/dltest-user", &st), 0);
}
