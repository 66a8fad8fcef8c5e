// Zip archives: listing, checks, extraction with its refusals, the index cache, members opened
// in place through the file layer, and creation. Fixtures are made at test time.
#include "files/FicheroITV.h"
#include "files/FitxUtils.h"
#include "files/PackedFiles.h"
#include "foundation/Monitor.h"
#include "foundation/StringErr.h"
#include "support/ArchiveFixtures.h"
#include "support/Lists.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using dltest::ArchiveMember;
using dltest::Folder;
using dltest::Generated;
using dltest::MakeZip;
using dltest::Stored;
using dltest::Strings;
using dltest::TempDir;

// Every entry below a folder, as sorted relative paths ("d/" for folders).
std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> out;
    std::function<void(const std::string&, const std::string&)> walk = [&](const std::string& dir,
                                                                           const std::string& rel) {
        DIR* d = opendir(dir.c_str());
        if (!d) return;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n == "." || n == "..") continue;
            struct stat st;
            std::string full = dir + "/" + n;
            lstat(full.c_str(), &st);
            if (S_ISDIR(st.st_mode)) {
                out.push_back(rel + n + "/");
                walk(full, rel + n + "/");
            } else {
                out.push_back(rel + n);
            }
        }
        closedir(d);
    };
    walk(root, "");
    std::sort(out.begin(), out.end());
    return out;
}

class PackedZip : public ::testing::Test {
protected:
    void SetUp() override {
        Registra_Sistema_Zip();
        TListaZips3::Global().Vacia();
    }
    std::string Zip(const std::string& name, const std::vector<ArchiveMember>& members,
                    const dltest::Patches& patches = {}) {
        std::string path = dir.Path(name);
        EXPECT_TRUE(MakeZip(path, members, patches)) << name;
        return path;
    }
    TempDir dir;
};

TEST_F(PackedZip, KindsByExtension) {
    EXPECT_TRUE(Es_Extension_Zip("a.KMZ"));
    EXPECT_TRUE(Es_Extension_Zip("b.apk"));
    EXPECT_TRUE(Es_Extension_Zip("/x/c.Zip"));
    EXPECT_FALSE(Es_Extension_Zip("c.tar"));
    EXPECT_TRUE(Es_Extension_Tar("c.TAR"));
    EXPECT_FALSE(Es_Extension_Packed("c.tar.gz"));
    EXPECT_TRUE(Es_Extension_Packed("c.tar"));
    EXPECT_FALSE(Es_Extension_Packed("c.zip.bak"));
}

TEST_F(PackedZip, ListsNamesAndSizesInDirectoryOrder) {
    std::string long_name = std::string(200, 'd') + "/" + std::string(120, 'f') + ".map"; // > 255 bytes
    ArchiveMember z64("big64.bin", "");
    z64.fill_size = 70000;
    z64.zip64 = true;
    std::string zip = Zip("l.zip", {Folder("Maps/"),
                                    {"Maps/x.map", "abc"},
                                    Stored("s.txt", "stored!"),
                                    {"empty.txt", ""},
                                    {long_name, "long"},
                                    z64});
    VectorS<DString> names;
    VectorS<int64_t> sizes;
    ASSERT_TRUE(GetListaZipZSize(zip.c_str(), names, sizes));
    EXPECT_EQ(Strings(names), (std::vector<std::string>{"Maps/", "Maps/x.map", "s.txt", "empty.txt",
                                                        long_name, "big64.bin"}));
    EXPECT_EQ(dltest::Items(sizes), (std::vector<int64_t>{0, 3, 7, 0, 4, 70000}));
    VectorS<DString> only;
    ASSERT_TRUE(GetListaPacked(zip.c_str(), only));
    EXPECT_EQ(only.Numero(), 6);
    EXPECT_TRUE(Verifica_ZIP(zip.c_str()));
}

TEST_F(PackedZip, EmptyOrDamagedArchivesFail) {
    std::string empty = Zip("empty.zip", {});
    VectorS<DString> names;
    EXPECT_FALSE(GetListaZipZ(empty.c_str(), names));
    EXPECT_FALSE(Verifica_ZIP(empty.c_str()));
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    EXPECT_FALSE(Desen_ZIP_Monitor(empty.c_str(), dest, err, nullptr, nullptr));
    EXPECT_FALSE(err.IsEmpty());

    std::string good = Zip("good.zip", {Generated("a.bin", 5000)});
    std::string data = dir.Read("good.zip");
    ASSERT_TRUE(dir.Write("cut.zip", data.substr(0, data.size() - 30)));
    EXPECT_FALSE(Verifica_ZIP(dir.Path("cut.zip").c_str()));
    err = "";
    EXPECT_FALSE(Desen_ZIP_Monitor(dir.Path("cut.zip").c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(std::string(err.c_str()), "Error opening zip file=" + dir.Path("cut.zip"));
    EXPECT_FALSE(Verifica_Packed(dir.Path("x.rar").c_str()));
}

TEST_F(PackedZip, ExtractsEveryKindOfMemberAndVerifies) {
    ArchiveMember z64 = Generated("z64/big.bin", 300000, 't');
    z64.zip64 = true;
    std::string zip = Zip("all.zip", {Folder("Maps/"),
                                      {"Maps/x.map", "map data"},
                                      Stored("s/t/u.bin", "stored"),
                                      {"empty.txt", ""},
                                      {"README", "read me"},
                                      Folder("onlyfolder/"),
                                      Generated("rand.bin", 700001),
                                      {"./dot/./x", "dots"},
                                      z64});
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    TMonitorProc monitor;
    VectorS<TStringNomFitx> list;
    ASSERT_TRUE(Desen_Packed_Monitor(zip.c_str(), dest, err, &monitor, &list)) << err.c_str();
    EXPECT_EQ(std::string(dest.c_str()), dir.Path("out") + "/");
    EXPECT_EQ(Tree(dir.Path("out")),
              (std::vector<std::string>{"Maps/", "Maps/x.map", "README", "dot/", "dot/x", "empty.txt",
                                        "onlyfolder/", "rand.bin", "s/", "s/t/", "s/t/u.bin", "z64/",
                                        "z64/big.bin"}));
    EXPECT_EQ(dir.Read("out/Maps/x.map"), "map data");
    EXPECT_EQ(dir.Read("out/README"), "read me");
    EXPECT_EQ(dir.Read("out/empty.txt"), "");
    EXPECT_EQ(dir.Read("out/rand.bin"), dltest::GeneratedContent(700001, 'r'));
    EXPECT_EQ(dir.Read("out/z64/big.bin"), dltest::GeneratedContent(300000, 't'));
    std::string o = dir.Path("out") + "/";
    EXPECT_EQ(Strings(list),
              (std::vector<std::string>{o + "Maps/x.map", o + "s/t/u.bin", o + "empty.txt", o + "README",
                                        o + "rand.bin", o + "dot/x", o + "z64/big.bin"}));
    int64_t total = 8 + 6 + 0 + 7 + 700001 + 4 + 300000;
    EXPECT_EQ(monitor.total.load(), total);
    EXPECT_EQ(monitor.npasos.load(), total);
    EXPECT_EQ(std::string(monitor.texto.Get().c_str()), "976 Kb / 976 Kb uncompressed. 9 files. (big.bin)");
    EXPECT_TRUE(Verifica_ZIP_Unzipped(zip.c_str(), dest));

    // A member removed or shortened afterwards fails the verification.
    ASSERT_TRUE(dir.Write("out/README", "read"));
    EXPECT_FALSE(Verifica_ZIP_Unzipped(zip.c_str(), dest));
}

TEST_F(PackedZip, CorruptMemberFailsAndIsNotClaimed) {
    std::string zip =
        Zip("crc.zip", {{"good.txt", "fine"}, Stored("bad.txt", "HELLO-CRC-DATA"), {"after.txt", "x"}},
            {{"HELLO-CRC-DATA", "HELLO-CRC-DATB"}});
    EXPECT_TRUE(Verifica_ZIP(zip.c_str())); // headers are fine: only extraction computes the CRC
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    VectorS<TStringNomFitx> list;
    EXPECT_FALSE(Desen_Packed_Monitor(zip.c_str(), dest, err, nullptr, &list));
    EXPECT_EQ(std::string(err.c_str()),
              "Error writing file=" + dir.Path("out/bad.txt") + " from zip file=" + zip);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{dir.Path("out/good.txt")}));
    EXPECT_EQ(Tree(dir.Path("out")), (std::vector<std::string>{"good.txt"}));
}

TEST_F(PackedZip, MemberLongerThanDeclaredNeverExceedsItsSize) {
    // 100000 zero bytes declared as 1000: a small zip bomb. Sizes are patched in both headers.
    std::string declared("\xa0\x86\x01\x00", 4), lie("\xe8\x03\x00\x00", 4);
    std::string zip = Zip("bomb.zip", {Generated("bomb.bin", 100000, 'z')}, {{declared, lie}});
    VectorS<DString> names;
    VectorS<int64_t> sizes;
    ASSERT_TRUE(GetListaZipZSize(zip.c_str(), names, sizes));
    ASSERT_EQ(dltest::Items(sizes), (std::vector<int64_t>{1000}));
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    EXPECT_FALSE(Desen_ZIP_Monitor(zip.c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(std::string(err.c_str()),
              "Error writing file=" + dir.Path("out/bomb.bin") + " from zip file=" + zip);
    EXPECT_FALSE(dir.Exists("out/bomb.bin"));
}

TEST_F(PackedZip, HostileNamesFailBeforeAnythingIsWritten) {
    const std::vector<std::pair<std::string, dltest::Patches>> cases = {
        {"././y/x/../../../z", {}},
        {"..\\x", {}},
        {"/abs", {}},
        {"../out-sibling/evil.txt", {}},
        {"C:/evil.txt", {}},
        {"a//b.txt", {}},
        {"aXb.txt", {{"aXb.txt", std::string("a\0b.txt", 7)}}},
    };
    ASSERT_TRUE(dir.Mkdir("out-sibling"));
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string zip = Zip("h" + std::to_string(i) + ".zip",
                              {{"first.txt", "ok"}, {cases[i].first, "evil"}}, cases[i].second);
        TStringNomFitx dest(dir.Path("out").c_str());
        DString err;
        VectorS<TStringNomFitx> list;
        EXPECT_FALSE(Desen_Packed_Monitor(zip.c_str(), dest, err, nullptr, &list)) << cases[i].first;
        EXPECT_EQ(std::string(err.c_str()),
                  "Error creating file structure of zip file=" + dir.Path("out") + "/");
        EXPECT_EQ(list.Numero(), 0);
        EXPECT_EQ(Tree(dir.Path("out")), std::vector<std::string>{}) << cases[i].first;
        EXPECT_EQ(Tree(dir.Path("out-sibling")), std::vector<std::string>{});
    }
    EXPECT_FALSE(dir.Exists("z"));
    EXPECT_FALSE(dir.Exists("x"));
    EXPECT_FALSE(access("/abs", F_OK) == 0);
}

TEST_F(PackedZip, LinksInTheDestinationAreNeverFollowed) {
    ASSERT_TRUE(dir.Mkdir("outside"));
    ASSERT_TRUE(dir.Write("outside/a.txt", "precious"));
    ASSERT_TRUE(dir.Mkdir("out"));
    ASSERT_EQ(symlink(dir.Path("outside").c_str(), dir.Path("out/Maps").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path("outside/a.txt").c_str(), dir.Path("out/a.txt").c_str()), 0);

    // A link in place of a member's file is replaced by the file.
    std::string zip1 = Zip("f.zip", {{"a.txt", "new"}});
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    ASSERT_TRUE(Desen_ZIP_Monitor(zip1.c_str(), dest, err, nullptr, nullptr)) << err.c_str();
    struct stat st;
    ASSERT_EQ(lstat(dir.Path("out/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(dir.Read("out/a.txt"), "new");
    EXPECT_EQ(dir.Read("outside/a.txt"), "precious");

    // A link in place of a member's folder fails the extraction.
    std::string zip2 = Zip("d.zip", {{"Maps/a.txt", "through the link"}});
    EXPECT_FALSE(Desen_ZIP_Monitor(zip2.c_str(), dest, err, nullptr, nullptr));
    EXPECT_EQ(dir.Read("outside/a.txt"), "precious");
}

TEST_F(PackedZip, StopRequestCancels) {
    std::string zip = Zip("c.zip", {Generated("a.bin", 600000), {"b.txt", "b"}});
    TStringNomFitx dest(dir.Path("out").c_str());
    DString err;
    TMonitorProc monitor;
    monitor.Cancelar();
    VectorS<TStringNomFitx> list;
    EXPECT_FALSE(Desen_ZIP_Monitor(zip.c_str(), dest, err, &monitor, &list));
    EXPECT_EQ(std::string(err.c_str()), "Operation canceled");
    EXPECT_EQ(list.Numero(), 0);
    EXPECT_FALSE(dir.Exists("out/a.bin")); // the member cut short is removed
}

TEST_F(PackedZip, IndexLookupsAreCaseInsensitiveAndEnumerate) {
    std::string zip =
        Zip("i.zip", {Folder("Empty/"), {"Maps/x.map", "X"}, {"/lead.txt", "L"}, {"b/c/d.txt", "D"}});
    TStringNomFitx base(zip.c_str());
    EXPECT_TRUE(TFicheroITV_zip::Verifica_Existencia_Archivo(base + "!/maps/x.MAP"));
    EXPECT_TRUE(TFicheroITV_zip::Verifica_Existencia_Archivo(base + "!/maps\\x.map"));
    EXPECT_TRUE(TFicheroITV_zip::Verifica_Existencia_Archivo(base + "!/lead.txt"));
    EXPECT_FALSE(TFicheroITV_zip::Verifica_Existencia_Archivo(base + "!/Maps"));
    EXPECT_FALSE(TFicheroITV_zip::Verifica_Existencia_Archivo(base + "!/nope"));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Archivo(base + "!/MAPS/X.MAP"));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Carpeta(base + "!/Maps"));
    EXPECT_EQ(TFitxUtils::FileSize(base + "!/b/c/d.txt"), 1);

    std::vector<std::pair<std::string, bool>> seen;
    int pos = 0;
    DString name;
    bool folder;
    while (TFicheroITV_zip::Siguiente3(base, pos, name, folder))
        seen.emplace_back(name.c_str(), folder);
    // Members in key (upper-case) order, then the folders.
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"b/c/d.txt", false},
                                                               {"lead.txt", false},
                                                               {"Maps/x.map", false},
                                                               {"Empty", true},
                                                               {"Maps", true},
                                                               {"b/c", true}}));
}

TEST_F(PackedZip, CacheHoldsThreeAndNoticesAReplacedArchive) {
    std::vector<std::string> zips;
    for (int i = 0; i < 4; ++i)
        zips.push_back(Zip("c" + std::to_string(i) + ".zip", {{"m.txt", "x"}}));
    TListaZips3& cache = TListaZips3::Global();
    TListaFileInZip3* first = cache.GetListaZipsB(zips[0].c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(cache.GetListaZipsB(zips[0].c_str()), first); // served from the cache
    for (int i = 1; i < 4; ++i)
        ASSERT_NE(cache.GetListaZipsB(zips[i].c_str()), nullptr);
    EXPECT_EQ(cache.Numero(), 3);
    EXPECT_EQ(cache.GetListaZips(nullptr, zips[0].c_str(), false), nullptr); // evicted
    EXPECT_NE(cache.GetListaZips(nullptr, zips[3].c_str(), false), nullptr);

    // The same path replaced by another archive is indexed again.
    TStringNomFitx c3(zips[3].c_str());
    EXPECT_TRUE(TFicheroITV_zip::Verifica_Existencia_Archivo(c3 + "!/m.txt"));
    ASSERT_TRUE(MakeZip(zips[3], {{"other/name.txt", "another archive"}}));
    EXPECT_FALSE(TFicheroITV_zip::Verifica_Existencia_Archivo(c3 + "!/m.txt"));
    EXPECT_TRUE(TFicheroITV_zip::Verifica_Existencia_Archivo(c3 + "!/other/name.txt"));
    EXPECT_LE(cache.Numero(), 3);
}

TEST_F(PackedZip, MembersOpenInPlaceThroughTheFileLayer) {
    std::string deflated = dltest::GeneratedContent(200000, 't');
    std::string stored = dltest::GeneratedContent(5000, 'r');
    std::string zip =
        Zip("m.zip", {{"d/deflated.txt", deflated}, Stored("s.bin", stored), {"next.txt", "NEXT"}});
    TStringNomFitx base(zip.c_str());

    TFicheroITV f;
    TStringErr_i err;
    ASSERT_TRUE(f.Abre(base + "!/D/Deflated.TXT", FITX_LEE | FITX_BINARIO, &err)) << err.c_str();
    EXPECT_EQ(f.FileSize64(), 200000);
    std::string buf(1000, '\0');
    int64_t count = 0;
    ASSERT_TRUE(f.Posicionate64(150000)); // forward: decompress and discard
    ASSERT_TRUE(f.LeeTokenBin(&buf[0], 1000, nullptr, 0, &count));
    EXPECT_EQ(buf, deflated.substr(150000, 1000));
    ASSERT_TRUE(f.Posicionate64(10)); // backward: read again from the start
    ASSERT_TRUE(f.LeeTokenBin(&buf[0], 1000, nullptr, 0, &count));
    EXPECT_EQ(buf, deflated.substr(10, 1000));
    ASSERT_TRUE(f.Posicionate64(0));
    EXPECT_EQ(f.PosActual64(), 0);
    f.Cierra();

    // A stored member is read straight from the archive, never past its own end.
    ASSERT_TRUE(f.Abre(base + "!/s.bin", FITX_LEE | FITX_BINARIO, &err)) << err.c_str();
    ASSERT_TRUE(f.Posicionate64(4000));
    ASSERT_TRUE(f.LeeTokenBin(&buf[0], 1000, nullptr, 0, &count));
    EXPECT_EQ(buf, stored.substr(4000, 1000));
    EXPECT_TRUE(f.eof());
    ASSERT_TRUE(f.Posicionate64(4990));
    std::string tail(100, '\0');
    EXPECT_FALSE(f.LeeTokenBin(&tail[0], 100, nullptr, 0, &count));
    EXPECT_EQ(count, 10);
    EXPECT_EQ(tail.substr(0, 10), stored.substr(4990));
    EXPECT_FALSE(f.Posicionate64(5001));
    f.Cierra();

    // Whole reads through the file layer, the copy utility included.
    ASSERT_TRUE(f.Abre(base + "!/next.txt", FITX_LEE | FITX_BINARIO, &err));
    DStringB all;
    EXPECT_EQ(f.Lee_Todo_Str(all), 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(all.Data()), 4), "NEXT");
    f.Cierra();
    TStringErr_i cerr;
    ASSERT_TRUE(TFitxUtils::Copy(base + "!/d/deflated.txt", dir.Path("copy.txt").c_str(), cerr));
    EXPECT_EQ(dir.Read("copy.txt"), deflated);

    EXPECT_FALSE(f.Abre(base + "!/missing.txt", FITX_LEE | FITX_BINARIO, &err));
    EXPECT_FALSE(f.Abre(base + "!/next.txt", FITX_LEE | FITX_ESCRIBE | FITX_BINARIO, &err));
    EXPECT_FALSE(f.Abre(TStringNomFitx(dir.Path("none.zip").c_str()) + "!/x", FITX_LEE | FITX_BINARIO, &err));
}

TEST_F(PackedZip, EnzipaCreatesReadableArchives) {
    ASSERT_TRUE(dir.Write("src/a.log", "log A"));
    ASSERT_TRUE(dir.Write("src/b.bin", dltest::GeneratedContent(400000, 'r')));
    VectorS<DString> names;
    names.Anyade("logs/a.log");
    names.Anyade("b.bin");
    VectorS<TStringNomFitx> files;
    files.Anyade(dir.Path("src/a.log").c_str());
    files.Anyade(dir.Path("src/b.bin").c_str());
    TMonitorProc monitor;
    std::string zip = dir.Path("made.zip");
    ASSERT_TRUE(Enzipa(zip.c_str(), names, files, &monitor));
    EXPECT_EQ(monitor.npasos.load(), 2);
    VectorS<DString> listed;
    ASSERT_TRUE(GetListaZipZ(zip.c_str(), listed));
    EXPECT_EQ(Strings(listed), (std::vector<std::string>{"logs/a.log", "b.bin"}));
    TStringNomFitx dest(dir.Path("x").c_str());
    DString err;
    ASSERT_TRUE(Desen_Packed_Monitor(zip.c_str(), dest, err, nullptr, nullptr)) << err.c_str();
    EXPECT_EQ(dir.Read("x/b.bin"), dltest::GeneratedContent(400000, 'r'));

    names.Anyade("extra");
    EXPECT_FALSE(Enzipa(dir.Path("mismatch.zip").c_str(), names, files, nullptr));
    EXPECT_FALSE(dir.Exists("mismatch.zip"));
    files.Anyade(dir.Path("src/missing").c_str());
    EXPECT_FALSE(Enzipa(dir.Path("partial.zip").c_str(), names, files, nullptr));
    EXPECT_FALSE(dir.Exists("partial.zip"));

    VectorS<DString> no_names;
    VectorS<TStringNomFitx> no_files;
    ASSERT_TRUE(Enzipa(dir.Path("empty.zip").c_str(), no_names, no_files, nullptr));
    EXPECT_TRUE(dir.Exists("empty.zip"));
}

} // namespace
