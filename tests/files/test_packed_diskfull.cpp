// Extraction onto a small real volume (tmpfs in a private mount namespace): a full disk stops the
// extraction at once, and the member cut short is neither left behind nor reported as extracted.
#include "files/PackedFiles.h"
#include "support/ArchiveFixtures.h"
#include "support/Lists.h"
#include "support/TempDir.h"
#include "support/TmpfsVolume.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using dltest::Generated;
using dltest::Strings;
using dltest::TempDir;

struct KindCase {
    const char* file;
    bool zip;
};

TEST(PackedDiskFull, StopsAtOnceAndClaimsNoPartialMember) {
    TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 2);
    // 3 MB of incompressible data cannot fit on the 2 MB volume.
    const std::vector<dltest::ArchiveMember> members = {
        {"a.txt", "first"}, Generated("big/big.bin", 3 * 1024 * 1024, 'r'), {"c.txt", "never reached"}};
    for (const KindCase& k : {KindCase{"full.zip", true}, KindCase{"full.tar", false}}) {
        SCOPED_TRACE(k.file);
        std::string archive = dir.Path(k.file);
        ASSERT_TRUE(k.zip ? dltest::MakeZip(archive, members)
                          : dltest::MakeTar(archive, members, dltest::TarFormat::Pax, /*gzip=*/true));
        std::string out = vol.path() + "/" + (k.zip ? "z" : "t");
        TStringNomFitx dest(out.c_str());
        DString err;
        VectorS<TStringNomFitx> list;
        EXPECT_FALSE(Desen_Packed_Monitor(archive.c_str(), dest, err, nullptr, &list));
        EXPECT_EQ(std::string(err.c_str()), "Error writing file=" + out + "/big/big.bin from " +
                                                (k.zip ? "zip" : "tar") + " file=" + archive);
        EXPECT_EQ(Strings(list), std::vector<std::string>{out + "/a.txt"});
        EXPECT_NE(access((out + "/big/big.bin").c_str(), F_OK), 0);
        EXPECT_NE(access((out + "/c.txt").c_str(), F_OK), 0);
        dltest::RemoveTree(out); // room again for the next kind
    }
}

TEST(PackedDiskFull, ReadOnlyVolumeFailsBeforeWriting) {
    TempDir dir;
    DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 1);
    ASSERT_TRUE(vol.RemountReadOnly());
    std::string zip = dir.Path("r.zip");
    ASSERT_TRUE(dltest::MakeZip(zip, {{"a.txt", "x"}}));
    TStringNomFitx dest((vol.path() + "/out").c_str());
    DString err;
    EXPECT_FALSE(Desen_ZIP_Monitor(zip.c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(std::string(err.c_str()), "Error creating file structure of zip file=" + vol.path() + "/out/");
}

} // namespace
