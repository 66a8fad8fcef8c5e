// The file class on small real volumes (tmpfs in a private mount namespace): a full disk in the
// middle of a replacement, and a read-only device.
#include <gtest/gtest.h>

#include "files/FicheroITV.h"
#include "foundation/StringErr.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool Contiene(const DString& text, const std::string& part) {
    return std::string(text.c_str()).find(part) != std::string::npos;
}

} // namespace

TEST(DiskFull, ReplacementKeepsTheOldContentAndLeavesNoTemporary) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 2);
    std::string f = vol.path() + "/map.img";
    std::string old(300000, 'o');
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre(f.c_str(), 0x12));
        ASSERT_TRUE(w.PonTokenBin(old.data(), int64_t(old.size())));
        ASSERT_TRUE(w.Cierra());
    }
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 100000));

    TFicheroITV w;
    ASSERT_TRUE(w.Abre(f.c_str(), 0x112));
    std::string block(65536, 'n');
    bool all = true;
    for (int i = 0; i < 16; i++)
        all = w.PonTokenBin(block.data(), int64_t(block.size())) && all;
    EXPECT_FALSE(all);
    EXPECT_TRUE(w.ErrorEscritura());
    TStringErr err;
    EXPECT_FALSE(w.CierraEx(true, &err));
    EXPECT_TRUE(Contiene(err, "Error writing " + f + " file.")) << err.c_str();
    EXPECT_TRUE(Contiene(err, "No space left on device")) << err.c_str();
    EXPECT_FALSE(Contiene(err, ".$$$")) << err.c_str();
    err.Reported();
    EXPECT_EQ(dir.Read("vol/map.img"), old);
    EXPECT_FALSE(dir.Exists("vol/map.img.$$$"));
}

TEST(DiskFull, DestructionAfterAFailedWriteDoesNotCommit) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("vol/cfg.txt", "old settings"));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 20000));
    {
        TFicheroITV w;
        ASSERT_TRUE(w.Abre((vol.path() + "/cfg.txt").c_str(), 0x10a));
        std::string big(200000, 'x');
        w.PonTokenBin(big.data(), int64_t(big.size()));
    }
    EXPECT_EQ(dir.Read("vol/cfg.txt"), "old settings");
    EXPECT_FALSE(dir.Exists("vol/cfg.txt.$$$"));
}

TEST(DiskFull, FailureFoundOnlyAtCloseIsReported) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("vol/a.txt", "old"));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 2000));
    // Small enough to stay in the stream's buffer until the close.
    TFicheroITV w;
    ASSERT_TRUE(w.Abre((vol.path() + "/a.txt").c_str(), 0x112));
    std::string chunk(3000, 'y');
    EXPECT_TRUE(w.PonTokenBin(chunk.data(), int64_t(chunk.size())));
    TStringErr err;
    EXPECT_FALSE(w.CierraEx(true, &err));
    EXPECT_TRUE(Contiene(err, vol.path() + "/a.txt")) << err.c_str();
    err.Reported();
    EXPECT_EQ(dir.Read("vol/a.txt"), "old");
    EXPECT_FALSE(dir.Exists("vol/a.txt.$$$"));
}

TEST(DiskFull, DirectWriteNamesTheFile) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 10000));
    std::string f = vol.path() + "/new.bin";
    TFicheroITV w;
    ASSERT_TRUE(w.Abre(f.c_str(), 0x12));
    std::string big(100000, 'z');
    EXPECT_FALSE(w.PonTokenBin(big.data(), int64_t(big.size())));
    TStringErr err;
    EXPECT_FALSE(w.CierraEx(true, &err));
    EXPECT_TRUE(Contiene(err, "Error writing " + f + " file. No space left on device")) << err.c_str();
    err.Reported();
}

TEST(DiskFull, SavingATextFileKeepsTheOldOne) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("vol/doc.json", "{\"old\":1}"));
    ASSERT_TRUE(dltest::FillVolume(vol.path(), 4000));
    TStringErr err;
    std::string big(50000, 'j');
    EXPECT_FALSE(
        TFicheroITV::GuardaTodoAString((vol.path() + "/doc.json").c_str(), DString(big.c_str()), &err));
    EXPECT_TRUE(Contiene(err, "doc.json")) << err.c_str();
    err.Reported();
    EXPECT_EQ(dir.Read("vol/doc.json"), "{\"old\":1}");
    EXPECT_FALSE(dir.Exists("vol/doc.json.$$$"));
}

TEST(ReadOnlyDevice, WritesFailAtOpenAndReadsWork) {
    dltest::TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(dir.Write("vol/f.txt", "content"));
    ASSERT_TRUE(vol.RemountReadOnly()) << vol.error();
    std::string f = vol.path() + "/f.txt";
    for (int mode : {0x12, 0x112, 0x14, 0xa}) {
        TFicheroITV w;
        TStringErr err;
        EXPECT_FALSE(w.Abre(f.c_str(), mode, &err)) << std::hex << mode;
        EXPECT_EQ(std::string(err.c_str()),
                  "Error writing " + f + " file. fopen failed, errno = " + std::to_string(EROFS) + "\n");
        err.Reported();
    }
    EXPECT_FALSE(dir.Exists("vol/f.txt.$$$"));
    DString text;
    ASSERT_TRUE(TFicheroITV::LeeTodoAString(f.c_str(), text, nullptr));
    EXPECT_STREQ(text.c_str(), "content");
}
