// Tar archives made by Python's tarfile: the formats' long names, gzip under a ".tar" name,
// listing, extraction with its refusals, and verification.
#include "files/PackedFiles.h"
#include "foundation/Monitor.h"
#include "support/ArchiveFixtures.h"
#include "support/Lists.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using dltest::ArchiveMember;
using dltest::Folder;
using dltest::Generated;
using dltest::MakeTar;
using dltest::Strings;
using dltest::TarFormat;
using dltest::TempDir;

ArchiveMember Link(const std::string& name, const std::string& target, char type = '2') {
    ArchiveMember m(name, "");
    m.tar_type = type;
    m.link = target;
    return m;
}

class PackedTar : public ::testing::Test {
protected:
    std::string Tar(const std::string& name, const std::vector<ArchiveMember>& members, TarFormat format,
                    bool gzip = false, bool end_block = true) {
        std::string path = dir.Path(name);
        EXPECT_TRUE(MakeTar(path, members, format, gzip, end_block)) << name;
        return path;
    }
    TempDir dir;
};

const std::string kLongPath =
    std::string(60, 'a') + "/" + std::string(60, 'b') + "/" + std::string(40, 'c') + ".txt";

struct FormatCase {
    const char* label;
    TarFormat format;
    bool gzip;
};

TEST_F(PackedTar, EveryFormatListsAndExtractsLongNames) {
    const std::vector<FormatCase> cases = {{"ustar prefix", TarFormat::Ustar, false},
                                           {"gnu long names", TarFormat::Gnu, false},
                                           {"pax path", TarFormat::Pax, false},
                                           {"pax, gzip under .tar", TarFormat::Pax, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name =
            std::string("f") + std::to_string(static_cast<int>(c.format)) + (c.gzip ? "z" : "") + ".tar";
        std::string tar = Tar(name,
                              {Folder("top/"),
                               {"top/a.txt", "alpha"},
                               {"top/empty.txt", ""},
                               {kLongPath, "long"},
                               Generated("rand.bin", 123457),
                               Link("top/link", "../../etc/passwd")},
                              c.format, c.gzip);
        VectorS<DString> names;
        VectorS<int64_t> sizes;
        ASSERT_TRUE(GetListaPackedSize(tar.c_str(), names, sizes));
        EXPECT_EQ(Strings(names), (std::vector<std::string>{"top/a.txt", kLongPath, "rand.bin"}));
        ASSERT_EQ(sizes.Numero(), 3);
        EXPECT_EQ(sizes[2], 123457);
        EXPECT_TRUE(Verifica_Packed(tar.c_str()));

        TStringNomFitx dest(dir.Path(std::string("out-") + name).c_str());
        DString err;
        VectorS<TStringNomFitx> list;
        ASSERT_TRUE(Desen_Packed_Monitor(tar.c_str(), dest, err, nullptr, &list)) << err.c_str();
        std::string out = std::string("out-") + name + "/";
        EXPECT_EQ(dir.Read(out + "top/a.txt"), "alpha");
        EXPECT_EQ(dir.Read(out + kLongPath), "long");
        EXPECT_EQ(dir.Read(out + "rand.bin"), dltest::GeneratedContent(123457, 'r'));
        EXPECT_FALSE(dir.Exists(out + "top/empty.txt")); // 0-byte files are not extracted
        EXPECT_FALSE(dir.Exists(out + "top/link"));      // links are never created
        EXPECT_EQ(list.Numero(), 3);
    }
}

TEST_F(PackedTar, MissingEndBlockFailsEveryWalk) {
    for (bool gzip : {false, true}) {
        std::string tar = Tar(gzip ? "ngz.tar" : "n.tar", {{"a.txt", "a"}}, TarFormat::Gnu, gzip, false);
        VectorS<DString> names;
        EXPECT_FALSE(GetListaTarSize(tar.c_str(), names, nullptr));
        EXPECT_FALSE(Verifica_TAR(tar.c_str()));
        TStringNomFitx dest(dir.Path("out").c_str());
        DString err;
        EXPECT_FALSE(Desen_TAR_Monitor(tar.c_str(), dest, err, nullptr, nullptr));
        EXPECT_EQ(std::string(err.c_str()), "Error reading in tar file=" + tar);
    }
    // A gzip stream cut short is a read error too.
    Tar("cut.tar", {Generated("a.bin", 200000)}, TarFormat::Pax, true);
    std::string whole = dir.Read("cut.tar");
    ASSERT_TRUE(dir.Write("cut2.tar", whole.substr(0, whole.size() / 2)));
    EXPECT_FALSE(Verifica_TAR(dir.Path("cut2.tar").c_str()));

    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    EXPECT_FALSE(Desen_TAR_Monitor(dir.Path("none.tar").c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(std::string(err.c_str()), "Error opening tar file=" + dir.Path("none.tar"));
}

TEST_F(PackedTar, HostileNamesAreRefusedAndNothingLeavesTheDestination) {
    ASSERT_TRUE(dir.Mkdir("out-sibling"));
    const std::vector<std::string> names = {"././y/x/../../../z", "..\\x", "/abs", "../out-sibling/evil",
                                            "c:evil"};
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        std::string tar =
            Tar("h" + std::to_string(i) + ".tar", {{"first.txt", "ok"}, {names[i], "evil"}}, TarFormat::Pax);
        TStringNomFitx dest(dir.Path("out").c_str());
        DString err;
        VectorS<TStringNomFitx> list;
        EXPECT_FALSE(Desen_Packed_Monitor(tar.c_str(), dest, err, nullptr, &list));
        EXPECT_TRUE(err.StartsWith("Error creating file=")) << err.c_str();
        EXPECT_TRUE(err.EndsWith((" from tar file=" + tar).c_str())) << err.c_str();
        EXPECT_EQ(list.Numero(), 1); // the member before it was written
    }
    EXPECT_FALSE(dir.Exists("z"));
    EXPECT_FALSE(dir.Exists("x"));
    EXPECT_FALSE(dir.Exists("out-sibling/evil"));
    EXPECT_NE(access("/abs", F_OK), 0);
}

TEST_F(PackedTar, ProgressAndCancel) {
    std::string tar = Tar("p.tar", {Generated("a.bin", 3000000, 't'), {"b.txt", "b"}}, TarFormat::Gnu, true);
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    TMonitorProc monitor;
    ASSERT_TRUE(Desen_TAR_Monitor(tar.c_str(), dest, err, &monitor, nullptr)) << err.c_str();
    struct stat st;
    ASSERT_EQ(stat(tar.c_str(), &st), 0);
    EXPECT_EQ(monitor.total.load(), st.st_size); // progress counts the (compressed) file read
    EXPECT_EQ(monitor.npasos.load(), st.st_size);
    EXPECT_TRUE(monitor.texto.Get().EndsWith(" uncompressed. 2 files. (b.txt)"));

    TMonitorProc stopped;
    stopped.Cancelar();
    VectorS<TStringNomFitx> list;
    EXPECT_FALSE(Desen_TAR_Monitor(tar.c_str(), dest, err, &stopped, &list));
    EXPECT_EQ(std::string(err.c_str()), "Operation canceled");
    EXPECT_EQ(list.Numero(), 0);
}

TEST_F(PackedTar, VerificationNoticesMissingMembers) {
    std::string tar = Tar("v.tar", {{"d/a.txt", "aaa"}, {"b.txt", "bb"}}, TarFormat::Ustar);
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    ASSERT_TRUE(Desen_Packed_Monitor(tar.c_str(), dest, err, nullptr, nullptr));
    EXPECT_TRUE(Verifica_Packed_Unzipped(tar.c_str(), dest));
    ASSERT_EQ(unlink(dir.Path("out/d/a.txt").c_str()), 0);
    EXPECT_FALSE(Verifica_Packed_Unzipped(tar.c_str(), dest));
    EXPECT_FALSE(Desen_Packed_Monitor(dir.Path("x.tgz").c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(std::string(err.c_str()), "Pack format not supported");
}

} // namespace
