// File utilities on real files in temporary folders: existence and attributes, sizes, copy,
// move, folders, the iterator, recursive deletion and listings.
#include <gtest/gtest.h>

#include "files/FicheroITV.h"
#include "files/FitxUtils.h"
#include "foundation/Monitor.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"
#include "foundation/Temps.h"
#include "support/TempDir.h"

#include <algorithm>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace {

std::string S(const DString& d) {
    return d.c_str();
}
TStringNomFitx N(const std::string& s) {
    return TStringNomFitx(s.c_str());
}

std::vector<std::string> Nombres(const VectorS<TStringNomFitx>& v, const std::string& base) {
    std::vector<std::string> out;
    for (int i = 0; i < v.Numero(); i++)
        out.push_back(S(v[i]).substr(base.size()));
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// ---- Existence and attributes ----

TEST(Existence, FilesFoldersAndFolderOfFile) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("a/f.txt", "x"));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Archivo(N(dir.Path("a/f.txt"))));
    EXPECT_FALSE(TFitxUtils::Verifica_Existencia_Archivo(N(dir.Path("a"))));
    EXPECT_FALSE(TFitxUtils::Verifica_Existencia_Archivo(N(dir.Path("none"))));
    EXPECT_FALSE(TFitxUtils::Verifica_Existencia_Archivo(""));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Carpeta(N(dir.Path("a"))));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Carpeta(N(dir.Path("a/"))));
    EXPECT_FALSE(TFitxUtils::Verifica_Existencia_Carpeta(N(dir.Path("a/f.txt"))));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Carpeta(N(dir.Path("a/none.txt")), true));
    EXPECT_FALSE(TFitxUtils::Verifica_Existencia_Carpeta(N(dir.Path("b/none.txt")), true));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Carpeta("/x", true));
    // A FIFO is there, and checking it does not wait for a writer.
    ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Archivo(N(dir.Path("pipe"))));
}

TEST(Attributes, LettersPerKindOfEntry) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("f.txt", "x"));
    ASSERT_TRUE(dir.Write("ro.txt", "x"));
    ASSERT_TRUE(dir.Write(".hidden", "x"));
    ASSERT_TRUE(dir.Mkdir(".folder"));
    ASSERT_EQ(chmod(dir.Path("ro.txt").c_str(), 0444), 0);
    struct Case {
        std::string rel;
        std::string letters;
    } cases[] = {{"f.txt", " A        "},
                 {"ro.txt", " AR       "},
                 {".hidden", " A H      "},
                 {".folder", "D         "},
                 {"none", "          "}};
    for (const Case& c : cases)
        EXPECT_EQ(S(TFitxUtils::GetFileAttributesString(N(dir.Path(c.rel)))), c.letters) << c.rel;
    // Read-only needs owner-write and owner-execute clear.
    ASSERT_EQ(chmod(dir.Path("ro.txt").c_str(), 0500), 0);
    EXPECT_FALSE(TFitxUtils::IsFileReadOnly(N(dir.Path("ro.txt"))));
    EXPECT_EQ(TFitxUtils::FileAttributeLetter(0), ' ');
    EXPECT_EQ(TFitxUtils::FileAttributeLetter(10), 'T');
    EXPECT_EQ(TFitxUtils::FileAttributeLetter(11), ' ');
    EXPECT_FALSE(TFitxUtils::IsConnectableDevice("FTP1:/Maps/a"));
    EXPECT_FALSE(TFitxUtils::IsRemovableUnit(N(dir.path())));
}

// ---- Sizes ----

TEST(Sizes, FileSizeAndCheck) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("f.bin", std::string(1234, 'x')));
    ASSERT_TRUE(dir.Mkdir("folder"));
    EXPECT_EQ(TFitxUtils::FileSize(N(dir.Path("f.bin"))), 1234);
    EXPECT_EQ(TFitxUtils::Tamanyo_Archivo_b(N(dir.Path("none"))), 0);
    EXPECT_TRUE(TFitxUtils::Check_FileSize2(N(dir.Path("f.bin")), 1234));
    EXPECT_FALSE(TFitxUtils::Check_FileSize2(N(dir.Path("f.bin")), 1233));
    EXPECT_TRUE(TFitxUtils::Check_FileSize2(N(dir.Path("folder")), 99));
    EXPECT_FALSE(TFitxUtils::Check_FileSize2(N(dir.Path("none")), 0));
    std::string back = dir.path() + "\\f.bin";
    EXPECT_TRUE(TFitxUtils::Check_FileSize2(N(back), 1234));
}

struct SizeText {
    int64_t size;
    const char* text;
};

class FileSizeToStringTable : public ::testing::TestWithParam<SizeText> {};

TEST_P(FileSizeToStringTable, Text) {
    DString out("=");
    TFitxUtils::FileSizeToString(GetParam().size, out);
    EXPECT_EQ(S(out), std::string("=") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeToStringTable,
                         ::testing::Values(SizeText{0, "0b"}, SizeText{512, "512.00b"},
                                           SizeText{1023, "1023.00b"}, SizeText{1024, "1.00Kb"},
                                           SizeText{1536, "1.50Kb"}, SizeText{5242880, "5.00Mb"},
                                           SizeText{3LL << 30, "3.00Gb"}, SizeText{5LL << 40, "5.00Tb"}));

TEST(Sizes, ProgressText) {
    TMonitorProc mon;
    mon.Start(2048);
    mon.Incre(1536);
    DString out;
    TFitxUtils::Text_Proceso_Smart_Size(&mon, "%s %s / %s %s ", out);
    EXPECT_EQ(S(out), "  1.50Kb /   2.00Kb ");
}

// ---- Delete, copy, move ----

TEST(Delete, FileEmptyFolderAndMessages) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("f.txt", "x"));
    ASSERT_TRUE(dir.Mkdir("empty"));
    TStringErr err;
    EXPECT_TRUE(TFitxUtils::Delete_File(N(dir.Path("f.txt")), &err));
    EXPECT_TRUE(TFitxUtils::Remove_Directory(N(dir.Path("empty"))));
    EXPECT_FALSE(dir.Exists("f.txt"));
    EXPECT_FALSE(dir.Exists("empty"));
    EXPECT_FALSE(TFitxUtils::Delete_File(N(dir.Path("f.txt")), &err));
    EXPECT_EQ(S(err), "Error deleting file: " + dir.Path("f.txt") + " ");
    err.Reported();
    EXPECT_FALSE(TFitxUtils::Delete_File(N(dir.Path("f.txt"))));
}

TEST(Copy, PlainAndThroughTemporary) {
    dltest::TempDir dir;
    std::string data(300000, 'd');
    ASSERT_TRUE(dir.Write("src.bin", data));
    for (bool temp : {false, true}) {
        ASSERT_TRUE(dir.Write("dst.bin", "old"));
        TStringErr err;
        TMonitorProc mon;
        mon.texto = "outer";
        ASSERT_TRUE(TFitxUtils::Copy(N(dir.Path("src.bin")), N(dir.Path("dst.bin")), err, true, &mon, temp));
        EXPECT_TRUE(err.IsEmpty()) << err.c_str();
        EXPECT_EQ(dir.Read("dst.bin"), data);
        EXPECT_FALSE(dir.Exists("dst.bin.$$$"));
        EXPECT_EQ(S(mon.texto.Get()), "outer"); // the caption is popped again
        EXPECT_EQ(mon.NumTextos(), 0);
    }
}

TEST(Copy, RefusalsAndMessages) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("src.bin", "new"));
    ASSERT_TRUE(dir.Write("dst.bin", "old"));
    TStringErr err;
    // Existing destination without overwrite: success, nothing copied.
    EXPECT_TRUE(TFitxUtils::Copy_File(N(dir.Path("src.bin")), N(dir.Path("dst.bin")), true, err));
    EXPECT_EQ(S(err), "File in destination, already exists ");
    EXPECT_EQ(dir.Read("dst.bin"), "old");
    err.Vacia();
    EXPECT_FALSE(TFitxUtils::Copy(N(dir.Path("src.bin")), N(dir.Path("no/dst.bin")), err));
    EXPECT_EQ(S(err), "Destination folder " + dir.Path("no/dst.bin") + " does not exist");
    err.Vacia();
    EXPECT_FALSE(TFitxUtils::Copy(N(dir.Path("none")), N(dir.Path("x.bin")), err));
    EXPECT_EQ(S(err), "File not found " + dir.Path("none"));
    EXPECT_FALSE(dir.Exists("x.bin"));
    err.Reported();
}

TEST(Copy, OntoItselfKeepsTheData) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("a.bin", "precious"));
    ASSERT_EQ(symlink(dir.Path("a.bin").c_str(), dir.Path("alias.bin").c_str()), 0);
    TStringErr err;
    EXPECT_TRUE(TFitxUtils::Copy(N(dir.Path("a.bin")), N(dir.Path("a.bin")), err));
    EXPECT_TRUE(TFitxUtils::Copy(N(dir.Path("a.bin")), N(dir.Path("alias.bin")), err));
    EXPECT_EQ(dir.Read("a.bin"), "precious");
}

TEST(Copy, CancelledThroughTemporaryLeavesTheDestination) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("src.bin", std::string(2000000, 's')));
    ASSERT_TRUE(dir.Write("dst.bin", "old"));
    TMonitorProc mon;
    mon.Cancelar();
    TStringErr err;
    EXPECT_FALSE(TFitxUtils::Copy(N(dir.Path("src.bin")), N(dir.Path("dst.bin")), err, true, &mon, true));
    EXPECT_EQ(S(err), "Operation canceled");
    EXPECT_EQ(dir.Read("dst.bin"), "old");
    EXPECT_FALSE(dir.Exists("dst.bin.$$$"));
    // Without a temporary the partial copy is removed rather than left as if complete.
    err.Vacia();
    EXPECT_FALSE(TFitxUtils::Copy(N(dir.Path("src.bin")), N(dir.Path("new.bin")), err, true, &mon, false));
    EXPECT_FALSE(dir.Exists("new.bin"));
    err.Reported();
}

TEST(Move, RenameAndFailure) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("a.txt", "A"));
    TStringErr err;
    EXPECT_TRUE(TFitxUtils::Move_File(N(dir.Path("a.txt")), N(dir.Path("b.txt")), &err));
    EXPECT_EQ(dir.Read("b.txt"), "A");
    EXPECT_FALSE(dir.Exists("a.txt"));
    err = "prefix: ";
    EXPECT_FALSE(TFitxUtils::Move_File(N(dir.Path("a.txt")), N(dir.Path("c.txt")), &err));
    EXPECT_EQ(S(err), "prefix: No such file or directory");
    err.Reported();
}

// ---- Folders ----

TEST(Folders, CreatesEveryMissingLevelPrivately) {
    dltest::TempDir dir;
    TStringErr err;
    ASSERT_TRUE(TFitxUtils::Crea_Carpeta(N(dir.Path("a/b/c")), false, &err)) << err.c_str();
    struct stat st;
    ASSERT_EQ(stat(dir.Path("a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(TFitxUtils::Crea_Carpeta(N(dir.Path("a/b/c/")))); // exists already
    EXPECT_TRUE(TFitxUtils::Crea_Carpeta(N(dir.Path("x/y/file.txt")), true));
    EXPECT_TRUE(dir.Exists("x/y"));
    EXPECT_FALSE(dir.Exists("x/y/file.txt"));
    // A file in the way.
    ASSERT_TRUE(dir.Write("f", "x"));
    EXPECT_FALSE(TFitxUtils::Crea_Carpeta(N(dir.Path("f/sub")), false, &err));
    EXPECT_EQ(S(err), "Error creating folder: " + dir.Path("f/sub"));
    err.Reported();
}

TEST(Folders, VolumeThatIsGoneIsNeverCreated) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Mkdir("Volumes/NAV"));
    TStringNomFitx::Set_this_Volumes_Root(dir.Path("Volumes/").c_str());
    TStringErr err;
    EXPECT_TRUE(TFitxUtils::Crea_Carpeta(N(dir.Path("Volumes/NAV/a/b/c")), false, &err)) << err.c_str();
    EXPECT_TRUE(dir.Exists("Volumes/NAV/a/b/c"));
    EXPECT_FALSE(TFitxUtils::Crea_Carpeta(N(dir.Path("Volumes/GONE/a/b")), false, &err));
    EXPECT_FALSE(dir.Exists("Volumes/GONE"));
    EXPECT_FALSE(TFitxUtils::Crea_Carpeta(N(dir.Path("Volumes/GONE")), false, &err));
    EXPECT_FALSE(dir.Exists("Volumes/GONE"));
    TStringNomFitx::Set_this_Volumes_Root("/Volumes/");
    err.Reported();
}

TEST(Folders, FreeSpaceAndDates) {
    dltest::TempDir dir;
    int64_t kb = -1;
    EXPECT_TRUE(TFitxUtils::Disk_Free(N(dir.path()), kb));
    EXPECT_GT(kb, 0);
    EXPECT_TRUE(TFitxUtils::Allow_Disk_Space(N(dir.path()), 1));
    EXPECT_FALSE(TFitxUtils::Allow_Disk_Space(N(dir.path()), kb + 1000000000LL));
    EXPECT_FALSE(TFitxUtils::Disk_Free(N(dir.Path("none")), kb));
    EXPECT_EQ(kb, 0);
    EXPECT_FALSE(TFitxUtils::Allow_Disk_Space(N(dir.Path("none")), 0));

    ASSERT_TRUE(dir.Write("f.txt", "x"));
    struct utimbuf t = {1553781429, 1553781429}; // 2019-03-28 13:57:09 UTC
    ASSERT_EQ(utime(dir.Path("f.txt").c_str(), &t), 0);
    TTempsUTC fecha;
    ASSERT_TRUE(TFitxUtils::Obten_Fecha(N(dir.Path("f.txt")), fecha));
    EXPECT_TRUE(fecha == TTempsUTC(2019, 3, 28, 13, 57, 9));
    EXPECT_FALSE(TFitxUtils::Obten_Fecha(N(dir.Path("none")), fecha));
}

TEST(Folders, FindDirInFiles) {
    VectorS<TStringNomFitx> list;
    EXPECT_TRUE(TFitxUtils::Find_Dir_In_Files("/a/Quillmap/gps.ini", list).IsEmpty());
    list.Anyade("/x/Other/gps.ini");
    list.Anyade("/y/QuillmapData/z");
    list.Anyade("/z/Quillmap/z");
    EXPECT_EQ(S(TFitxUtils::Find_Dir_In_Files("/a/Quillmap/gps.ini", list)), "/y/QuillmapData/z");
    EXPECT_TRUE(TFitxUtils::Find_Dir_In_Files("/a/None/gps.ini", list).IsEmpty());
}

// ---- Iterator ----

namespace {

struct Entry {
    std::string name;
    bool folder;
    bool operator<(const Entry& o) const { return name < o.name; }
    bool operator==(const Entry& o) const { return name == o.name && folder == o.folder; }
};

std::vector<Entry> Itera(const std::string& pattern, bool unfiltered = false, bool raw = false) {
    TIteradorFitx it(pattern.c_str());
    it.sin_filtro = unfiltered;
    std::vector<Entry> out;
    while (raw ? it.Siguiente2() : it.Siguiente())
        out.push_back({S(it.nom_fitx_ext()), it.carpeta});
    EXPECT_TRUE(it.IsEmpty());
    std::sort(out.begin(), out.end());
    return out;
}

void Arbol(dltest::TempDir& dir) {
    ASSERT_TRUE(dir.Write("t/gps.ini", "1"));
    ASSERT_TRUE(dir.Write("t/gps2.ini", "12"));
    ASSERT_TRUE(dir.Write("t/other.txt", "123"));
    ASSERT_TRUE(dir.Write("t/noext", "1234"));
    ASSERT_TRUE(dir.Write("t/.hidden", "h"));
    ASSERT_TRUE(dir.Write("t/sub/gps.ini", "s"));
    ASSERT_TRUE(dir.Write("t/sub/deep/x.bin", "d"));
    ASSERT_TRUE(dir.Write("t/.cfg/y", "y"));
}

} // namespace

struct IterCase {
    std::string name;
    std::string pattern;
    bool unfiltered;
    std::vector<Entry> expected;
};

class IteratorTable : public ::testing::TestWithParam<IterCase> {};

TEST_P(IteratorTable, Entries) {
    dltest::TempDir dir;
    Arbol(dir);
    EXPECT_EQ(Itera(dir.Path("t/") + GetParam().pattern, GetParam().unfiltered), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, IteratorTable,
    ::testing::Values(IterCase{"all",
                               "*.*",
                               false,
                               {{".cfg", true},
                                {"gps.ini", false},
                                {"gps2.ini", false},
                                {"noext", false},
                                {"other.txt", false},
                                {"sub", true}}},
                      IterCase{"unfiltered",
                               "*.*",
                               true,
                               {{".", true},
                                {"..", true},
                                {".cfg", true},
                                {".hidden", false},
                                {"gps.ini", false},
                                {"gps2.ini", false},
                                {"noext", false},
                                {"other.txt", false},
                                {"sub", true}}},
                      IterCase{"ini", "*.ini", false, {{"gps.ini", false}, {"gps2.ini", false}}},
                      IterCase{"prefix", "gps?.ini", false, {{"gps2.ini", false}}},
                      IterCase{"exact", "other.txt", false, {{"other.txt", false}}},
                      IterCase{"none", "*.zip", false, {}}),
    [](const ::testing::TestParamInfo<IterCase>& i) { return i.param.name; });

TEST(Iterator, MissingFolderAndOptions) {
    dltest::TempDir dir;
    Arbol(dir);
    EXPECT_TRUE(Itera(dir.Path("none/*.*")).empty());
    TIteradorFitx it(N(dir.Path("t/other.txt")));
    it.con_size = true;
    it.con_fecha = true;
    ASSERT_TRUE(it.Siguiente());
    EXPECT_EQ(S(it), dir.Path("t/other.txt"));
    EXPECT_EQ(it.size, 3);
    EXPECT_FALSE(it.fecha.Es_NULL());
    EXPECT_FALSE(it.Siguiente());
    EXPECT_FALSE(it.Siguiente()); // stays ended
    // Metacharacters in the folder part are not a pattern.
    ASSERT_TRUE(dir.Write("we[ir]d*/a.txt", "a"));
    EXPECT_EQ(Itera(dir.Path("we[ir]d*/*.*")), (std::vector<Entry>{{"a.txt", false}}));
}

TEST(Iterator, LinksAreNotFolders) {
    dltest::TempDir dir, outside;
    ASSERT_TRUE(outside.Write("o/secret.txt", "s"));
    ASSERT_TRUE(dir.Mkdir("t"));
    ASSERT_EQ(symlink(outside.Path("o").c_str(), dir.Path("t/linkdir").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path("o/secret.txt").c_str(), dir.Path("t/linkfile").c_str()), 0);
    TIteradorFitx it(N(dir.Path("t/*.*")));
    std::set<std::string> links;
    while (it.Siguiente()) {
        EXPECT_FALSE(it.carpeta);
        EXPECT_TRUE(it.enlace);
        links.insert(S(it.nom_fitx_ext()));
    }
    EXPECT_EQ(links, (std::set<std::string>{"linkdir", "linkfile"}));
    EXPECT_EQ(TIteradorFitx::Num_Files_Carpeta(N(dir.Path("t"))), 2);
}

// ---- Recursive deletion ----

TEST(BorraCarpeta, DeletesEverythingHiddenIncluded) {
    dltest::TempDir dir;
    Arbol(dir);
    EXPECT_EQ(TIteradorFitx::Num_Files_Carpeta(N(dir.Path("t"))), 7); // .hidden not counted
    EXPECT_EQ(TIteradorFitx::Num_Files_Carpeta(""), -1);
    TStringErr err;
    TMonitorProc mon;
    mon.total = 0;
    ASSERT_TRUE(TIteradorFitx::Borra_Carpeta(N(dir.Path("t/")), err, &mon)) << err.c_str();
    EXPECT_FALSE(dir.Exists("t"));
    EXPECT_EQ(mon.total.load(), 7);
}

TEST(BorraCarpeta, NeverFollowsLinksOutOfTheFolder) {
    dltest::TempDir dir, outside;
    ASSERT_TRUE(outside.Write("keep/data.txt", "precious"));
    ASSERT_TRUE(outside.Write("file.txt", "precious too"));
    ASSERT_TRUE(dir.Write("t/a.txt", "a"));
    ASSERT_TRUE(dir.Mkdir("t/sub"));
    ASSERT_EQ(symlink(outside.Path("keep").c_str(), dir.Path("t/sub/to_dir").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path("file.txt").c_str(), dir.Path("t/to_file").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", dir.Path("t/dangling").c_str()), 0);
    TStringErr err;
    ASSERT_TRUE(TIteradorFitx::Borra_Carpeta(N(dir.Path("t")), err)) << err.c_str();
    EXPECT_FALSE(dir.Exists("t"));
    EXPECT_EQ(outside.Read("keep/data.txt"), "precious");
    EXPECT_EQ(outside.Read("file.txt"), "precious too");
}

TEST(BorraCarpeta, FolderThatIsALinkLosesOnlyTheLink) {
    dltest::TempDir dir, outside;
    ASSERT_TRUE(outside.Write("keep/data.txt", "precious"));
    ASSERT_EQ(symlink(outside.Path("keep").c_str(), dir.Path("t").c_str()), 0);
    TStringErr err;
    EXPECT_TRUE(TIteradorFitx::Borra_Carpeta(N(dir.Path("t/")), err)) << err.c_str();
    EXPECT_FALSE(dir.Exists("t"));
    EXPECT_EQ(outside.Read("keep/data.txt"), "precious");
}

TEST(BorraCarpeta, CancelKeepsTheFolderAndRefusesRoot) {
    dltest::TempDir dir;
    Arbol(dir);
    TMonitorProc mon;
    mon.Cancelar();
    TStringErr err;
    EXPECT_FALSE(TIteradorFitx::Borra_Carpeta(N(dir.Path("t")), err, &mon));
    EXPECT_EQ(S(err), "Operation canceled");
    EXPECT_TRUE(dir.Exists("t"));
    err.Vacia();
    EXPECT_FALSE(TIteradorFitx::Borra_Carpeta("/", err));
    EXPECT_FALSE(TIteradorFitx::Borra_Carpeta("", err));
    EXPECT_FALSE(TIteradorFitx::Borra_Carpeta(N(dir.Path("none")), err));
    EXPECT_EQ(S(err), "Error deleting file: / ");
    err.Reported();
}

// ---- Listings ----

struct ListCase {
    std::string name;
    bool recursive;
    bool folders;
    std::string pattern;
    std::vector<std::string> expected;
};

class FilesCarpetaTable : public ::testing::TestWithParam<ListCase> {};

TEST_P(FilesCarpetaTable, List) {
    dltest::TempDir dir;
    Arbol(dir);
    ASSERT_EQ(symlink(dir.Path("t/sub").c_str(), dir.Path("t/linkdir").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path("t/noext").c_str(), dir.Path("t/linkfile").c_str()), 0);
    VectorS<TStringNomFitx> list;
    list.Anyade(N(dir.Path("kept")));
    const ListCase& c = GetParam();
    EXPECT_TRUE(
        TQuillUtils_Files::Files_Carpeta(N(dir.Path("t")), list, c.recursive, c.folders, c.pattern.c_str()));
    std::vector<std::string> expected = c.expected;
    expected.push_back("/kept");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Nombres(list, dir.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FilesCarpetaTable,
                         ::testing::Values(ListCase{"recursive_pattern",
                                                    true,
                                                    false,
                                                    "gps*.ini",
                                                    {"/t/.cfg/y", "/t/gps.ini", "/t/gps2.ini",
                                                     "/t/sub/deep/x.bin", "/t/sub/gps.ini"}},
                                           ListCase{"flat_files",
                                                    false,
                                                    false,
                                                    "",
                                                    {"/t/gps.ini", "/t/gps2.ini", "/t/linkfile", "/t/noext",
                                                     "/t/other.txt"}},
                                           ListCase{"flat_folders",
                                                    false,
                                                    true,
                                                    "*.*",
                                                    {"/t/.cfg", "/t/gps.ini", "/t/gps2.ini", "/t/linkfile",
                                                     "/t/noext", "/t/other.txt", "/t/sub"}}),
                         [](const ::testing::TestParamInfo<ListCase>& i) { return i.param.name; });

TEST(FilesCarpeta, EmptyNameFails) {
    VectorS<TStringNomFitx> list;
    EXPECT_FALSE(TQuillUtils_Files::Files_Carpeta("", list, true, false, ""));
}

// ---- Names of a connectable file system ----

namespace {

// A device file system with a few fixed answers, recording what it was asked.
class Dispositivo : public TSistemaFitxITV {
public:
    std::vector<std::string> calls;
    bool Smell(const TStringNomFitx& name, int) override { return name.StartsWith("DEV:"); }
    TFicheroITV_Base* NuevoBackend(const TStringNomFitx&) override { return nullptr; }
    bool EsConectable() override { return true; }
    bool Verifica_Existencia_Archivo(const TStringNomFitx& n) override {
        return Log("exists", n), S(n) == "DEV:/a";
    }
    int64_t FileSize(const TStringNomFitx& n) override { return Log("size", n), 42; }
    bool Delete_File(const TStringNomFitx& n, TStringErr& err) override {
        Log("delete", n);
        err = "device refused";
        return false;
    }
    bool Crea_Carpeta(const TStringNomFitx& n, TStringErr&) override { return Log("mkdir", n), true; }
    bool Allow_Disk_Space(const TStringNomFitx& n, int64_t kb) override { return Log("allo", n), kb < 10; }
    bool Envia_Archivo(const TStringNomFitx& local, const TStringNomFitx& n, TStringErr&,
                       TMonitorProc*) override {
        return Log("send", n), true;
    }

private:
    void Log(const char* what, const TStringNomFitx& n) { calls.push_back(std::string(what) + " " + S(n)); }
};

} // namespace

TEST(Routing, DeviceNamesGoToTheirFileSystem) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Write("local.bin", "x"));
    Dispositivo dev;
    TFicheroITV::RegistraSistema(&dev);
    EXPECT_TRUE(TFitxUtils::IsConnectableDevice("DEV:/a"));
    EXPECT_TRUE(TFitxUtils::Verifica_Existencia_Archivo("DEV:/a"));
    EXPECT_EQ(TFitxUtils::FileSize("DEV:/a"), 42);
    TStringErr err;
    EXPECT_FALSE(TFitxUtils::Delete_File("DEV:/a", &err));
    EXPECT_STREQ(err.c_str(), "device refused");
    EXPECT_TRUE(TFitxUtils::Crea_Carpeta("DEV:/Maps/x.img", true));
    EXPECT_TRUE(TFitxUtils::Allow_Disk_Space("DEV:/", 9));
    int64_t kb = 5;
    EXPECT_FALSE(TFitxUtils::Disk_Free("DEV:/", kb));
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(S(TFitxUtils::GetFileAttributesString("DEV:/a")), "          ");
    err.Vacia();
    EXPECT_TRUE(TFitxUtils::Copy(N(dir.Path("local.bin")), "DEV:/Maps/x.img", err));
    TFicheroITV::DesregistraSistema(&dev);
    EXPECT_EQ(dev.calls,
              (std::vector<std::string>{"exists DEV:/a", "size DEV:/a", "delete DEV:/a", "mkdir DEV:/Maps/",
                                        "allo DEV:/", "send DEV:/Maps/x.img"}));
    err.Reported();
}
