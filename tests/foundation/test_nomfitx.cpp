// TStringNomFitx: name parts, composition, cd, comparison, volumes, registry folders and the
// wildcard matcher.
#include <gtest/gtest.h>

#include "foundation/NomFitx.h"
#include "support/TempDir.h"

#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

class NomFitx : public ::testing::Test {
protected:
    void SetUp() override { TStringNomFitx::Libera_Registro(); }
    void TearDown() override { TStringNomFitx::Libera_Registro(); }
};

std::string S(const CDString& d) {
    return d.c_str();
}

// ---- name parts ----

struct PartCase {
    const char* value;
    const char* op;
    const char* expected;
};

std::string ApplyPart(const TStringNomFitx& p, const std::string& op) {
    if (op == "nom_fitx_ext") return S(p.nom_fitx_ext());
    if (op == "nom_fitx_sinext") return S(p.nom_fitx_sinext());
    if (op == "extension") return S(p.extension());
    if (op == "npath") return S(p.npath());
    if (op == "npath\\") return S(p.npath('\\'));
    if (op == "Obten_Carpeta") return S(p.Obten_Carpeta());
    if (op == "MainFile") return S(p.MainFile());
    if (op == "SubFile") return S(p.SubFile());
    if (op == "Obten_Num_Carpetas") return std::to_string(p.Obten_Num_Carpetas());
    if (op == "Path_Absoluto") return p.Path_Absoluto() ? "1" : "0";
    if (op == "Es_URL_http") return p.Es_URL_http() ? "1" : "0";
    if (op == "Obten_Unidad") return S(p.Obten_Unidad());
    if (op == "Obten_Unidad_Formateada") return S(p.Obten_Unidad_Formateada(false));
    if (op == "Obten_Unidad_Formateada_ftp") return S(p.Obten_Unidad_Formateada(true));
    if (op == "Len_Unidad_Formateada") return std::to_string(p.Len_Unidad_Formateada());
    if (op == "Obten_Unidad_Typo") return S(p.Obten_Unidad_Typo());
    return "unknown op " + op;
}

TEST_F(NomFitx, NameParts) {
    const PartCase cases[] = {
        {"/a/b/", "nom_fitx_ext", ""},
        {"name", "nom_fitx_ext", "name"},
        {"", "nom_fitx_ext", ""},
        {"/a/b\\c.txt", "nom_fitx_ext", "c.txt"},
        {"C:\\dir/x\\y.bin", "nom_fitx_ext", "y.bin"},
        {"name", "npath", ""},
        {"/a/b/c.txt", "npath", "/a/b"},
        {"/a/b/", "npath", "/a/b"},
        {"C:\\x\\y", "npath\\", "C:\\x"},
        {".hidden", "nom_fitx_sinext", ".hidden"},
        {"/a/arch.tar.gz", "nom_fitx_sinext", "arch.tar"},
        {"/a.b/c", "nom_fitx_sinext", "c"},
        {"/a.b/c", "extension", ""},
        {"/a/b.TXT", "extension", "TXT"},
        {"/a/arch.tar.gz", "extension", "gz"},
        {"/a/b/c.txt", "Obten_Carpeta", "/a/b/"},
        {"name", "Obten_Carpeta", ""},
        {"/x.txt", "Obten_Carpeta", "/"},
        {"/d/a.zip!/in/f.txt", "MainFile", "/d/a.zip"},
        {"/d/a.zip!/in/b.zip!/f", "MainFile", "/d/a.zip!/in/b.zip"},
        {"/d/plain/f.txt", "MainFile", "/d/plain"},
        {"/d/a.zip!/in/f.txt", "SubFile", "in/f.txt"},
        {"/d/plain/f.txt", "SubFile", ""},
        {"/a/b/c", "Obten_Num_Carpetas", "3"},
        {"abc", "Obten_Num_Carpetas", "0"},
        {"$(QuillmapApp)/x", "Path_Absoluto", "1"},
        {"C:x", "Path_Absoluto", "1"},
        {"/a", "Path_Absoluto", "1"},
        {"FTP1:/Maps", "Path_Absoluto", "1"},
        {"ab:c", "Path_Absoluto", "1"},
        {"/", "Path_Absoluto", "0"},
        {"a/b", "Path_Absoluto", "0"},
        {"", "Path_Absoluto", "0"},
        {"http://h/a", "Es_URL_http", "1"},
        {"https://h/a", "Es_URL_http", "1"},
        {"HTTP://h/a", "Es_URL_http", "0"},
        {"ftp://h/a", "Es_URL_http", "0"},
    };
    for (const PartCase& c : cases)
        EXPECT_EQ(ApplyPart(TStringNomFitx(c.value), c.op), c.expected) << c.op << " of '" << c.value << "'";
}

TEST_F(NomFitx, SplittingIntoFolderAndName) {
    DString folder, name;
    TStringNomFitx("/a/b/c.txt").Separa_Path_Fitx(folder, name);
    EXPECT_EQ(S(folder), "/a/b");
    EXPECT_EQ(S(name), "c.txt");

    TStringNomFitx p("/a/b/");
    ASSERT_TRUE(p.Separa_Carpeta_Padre_y_Esta(folder, name));
    EXPECT_EQ(S(p), "/a/b");
    EXPECT_EQ(S(folder), "/a/");
    EXPECT_EQ(S(name), "b");

    TStringNomFitx top("/top");
    ASSERT_TRUE(top.Separa_Carpeta_Padre_y_Esta(folder, name));
    EXPECT_EQ(S(folder), "/");
    EXPECT_EQ(S(name), "top");

    TStringNomFitx empty;
    EXPECT_FALSE(empty.Separa_Carpeta_Padre_y_Esta(folder, name));
}

TEST_F(NomFitx, ExtensionTests) {
    EXPECT_TRUE(TStringNomFitx("a.Zip2").es_extensiones("zip;ZIP2,tar"));
    EXPECT_FALSE(TStringNomFitx("a.zip2.bak").es_extensiones("zip;ZIP2,tar"));
    EXPECT_TRUE(TStringNomFitx("x/a.TAR").es_extensiones(";;zip,,tar"));
    EXPECT_FALSE(TStringNomFitx("noext").es_extensiones("zip;;"));
    EXPECT_TRUE(TStringNomFitx("/p/a.ZIP").es_extension("zip"));
    EXPECT_FALSE(TStringNomFitx("/p.zip/a").es_extension("zip"));
    EXPECT_TRUE(TStringNomFitx("/p/photo.JPeg").es_extension_Imagen());
    EXPECT_FALSE(TStringNomFitx("/p/photo.tiff").es_extension_Imagen());
    EXPECT_TRUE(TStringNomFitx("/p/clip.mp4").es_extension_Video());
    EXPECT_STREQ(TStringNomFitx::GetExtensionesVideo(), "AVI;WMV;MPG;MPEG;ASF;VOB;3GP;MOV;MP4;OGV");
}

TEST_F(NomFitx, ChildOfFolder) {
    struct {
        const char* folder;
        const char* child;
        bool expected;
        int len;
    } cases[] = {
        {"/Volumes/NAV/", "/volumes/nav/Maps/x", true, 12},
        {"/Volumes/NAV", "/Volumes/NAV", true, 12},
        {"/Volumes/NAV", "/Volumes/NAVX/a", false, 12},
        {"/Volumes/NAV", "/Volumes", false, 12},
        {"/", "/anything", true, 0},
    };
    for (const auto& c : cases) {
        int len = -1;
        EXPECT_EQ(TStringNomFitx(c.folder).Es_Archivo_Hijo(c.child, len), c.expected)
            << c.folder << " " << c.child;
        EXPECT_EQ(len, c.len) << c.folder;
    }
}

// ---- composition ----

struct EditCase {
    const char* value;
    std::function<void(TStringNomFitx&)> edit;
    const char* expected;
    const char* what;
};

TEST_F(NomFitx, Composition) {
    const EditCase cases[] = {
        {"", [](TStringNomFitx& p) { p.Set_Path_y_Fitx("C:\\dir\\sub", "/n\\x.txt"); }, "C:/dir/sub/n\\x.txt",
         "Set_Path_y_Fitx converts only the folder, drops one leading '/' of the name"},
        {"", [](TStringNomFitx& p) { p.Set_Path_y_Fitx("/a/", "b"); }, "/a/b", "no doubled '/'"},
        {"", [](TStringNomFitx& p) { p.Set_Path_y_Fitx("", "/b"); }, "b", "empty folder"},
        {"", [](TStringNomFitx& p) { p.Set_Path_y_Fitx("http://h\\x", "y"); }, "http://h\\x/y", "URL kept"},
        {"/old/f.txt", [](TStringNomFitx& p) { p.Set_Path("/new"); }, "/new/f.txt", "Set_Path"},
        {"/old/f.txt", [](TStringNomFitx& p) { p.Set_nom_fitx_ext("g.bin"); }, "/old/g.bin",
         "Set_nom_fitx_ext"},
        {"/f.txt", [](TStringNomFitx& p) { p.Set_nom_fitx_ext("g.bin"); }, "/g.bin", "root folder kept"},
        {"f.txt", [](TStringNomFitx& p) { p.Set_nom_fitx_ext("g"); }, "g", "no folder"},
        {"/d/f.txt", [](TStringNomFitx& p) { p.Set_nom_fitx_sinext("base"); }, "/d/base.txt", "sinext"},
        {"/d/f", [](TStringNomFitx& p) { p.Set_nom_fitx_sinext("base"); }, "/d/base.",
         "sinext, no extension"},
        {"/a.b/c", [](TStringNomFitx& p) { p.Cambia_Ext("zip"); }, "/a.b/c.zip", "Cambia_Ext"},
        {"/a/c.txt", [](TStringNomFitx& p) { p.Cambia_Ext(".bak"); }, "/a/c.bak", "Cambia_Ext with dot"},
        {"/a/c.txt", [](TStringNomFitx& p) { p.Cambia_Ext(""); }, "/a/c", "Cambia_Ext empty"},
        {"/a/c.tar.gz", [](TStringNomFitx& p) { p.Elimina_Ultima_Extension(); }, "/a/c.tar", "Elimina ext"},
        {"/a.b/c", [](TStringNomFitx& p) { p.Elimina_Ultima_Extension(); }, "/a.b/c", "dot in folder"},
        {"", [](TStringNomFitx& p) { p.Set_Final_Slash(); }, "/", "Set_Final_Slash empty"},
        {"/a/", [](TStringNomFitx& p) { p.Set_Final_Slash(); }, "/a/", "Set_Final_Slash"},
        {"/a//", [](TStringNomFitx& p) { p.Quita_Final_Slash(); }, "/a/", "removes one '/'"},
        {"/a/", [](TStringNomFitx& p) { p << '/' << 'b'; }, "/a/b", "<< char"},
        {"/a",
         [](TStringNomFitx& p) {
             p << "b"
               << "/c"
               << ""
               << "d/";
         },
         "/a/b/c/d/", "<< text"},
        {"", [](TStringNomFitx& p) { p << "rel"; }, "rel", "<< on an empty value stays relative"},
        {"C:\\a\\b", [](TStringNomFitx& p) { p.Arregla_dir_carac(); }, "C:/a/b", "Arregla"},
        {"https://h\\a", [](TStringNomFitx& p) { p.Arregla_dir_carac(); }, "https://h\\a", "Arregla URL"},
        {"/Base/Sub/f.txt", [](TStringNomFitx& p) { EXPECT_TRUE(p.Resta_Path("/base/")); }, "Sub/f.txt",
         "Resta"},
        {"/Base2/f.txt", [](TStringNomFitx& p) { EXPECT_FALSE(p.Resta_Path("/Base")); }, "/Base2/f.txt",
         "Resta outside"},
        {"sub/x.txt", [](TStringNomFitx& p) { EXPECT_TRUE(p.Set_Path_del_Fitx("/a/b/file.ini")); },
         "/a/b/sub/x.txt", "Set_Path_del_Fitx"},
        {"x.txt", [](TStringNomFitx& p) { EXPECT_TRUE(p.Set_Path_del_Fitx("/a/b/file.ini")); }, "/a/b/x.txt",
         "Set_Path_del_Fitx without folder"},
        {"/abs/x.txt", [](TStringNomFitx& p) { EXPECT_FALSE(p.Set_Path_del_Fitx("/a/b/file.ini")); },
         "/abs/x.txt", "Set_Path_del_Fitx absolute"},
        {"file:///home/u/My%20Maps/a+b.img", [](TStringNomFitx& p) { EXPECT_TRUE(p.Descodifica_file_url()); },
         "/home/u/My Maps/a b.img", "file URL"},
        {"File:///x", [](TStringNomFitx& p) { EXPECT_FALSE(p.Descodifica_file_url()); }, "File:///x",
         "file URL is case-sensitive"},
        {"/a/<b>:c|d?e*(f)", [](TStringNomFitx& p) { p.Filtra_Path_Special_Chars(0); }, "/a/ b  c d e  f ",
         "special chars"},
        {"C:\\a:b", [](TStringNomFitx& p) { p.Filtra_Path_Special_Chars(0); }, "C:\\a b", "drive kept"},
        {"a:b:c", [](TStringNomFitx& p) { p.Filtra_Path_Special_Chars(2); }, "a:b c", "from position"},
        {"a\\b/c:d*e?f\"g<h>i|j", [](TStringNomFitx& p) { p.Normalize(); }, "abcdefghij", "Normalize"},
    };
    for (const EditCase& c : cases) {
        TStringNomFitx p(c.value);
        c.edit(p);
        EXPECT_EQ(S(p), c.expected) << c.what << " (from '" << c.value << "')";
    }
}

TEST_F(NomFitx, Cd) {
    struct {
        const char* value;
        const char* target;
        bool keep;
        const char* expected;
    } cases[] = {
        {"/Volumes/NAV/", "OrvaneData/Maps", false, "/Volumes/NAV/OrvaneData/Maps/"},
        {"/a/b/x.txt", "../c", true, "/a/c/x.txt"},
        {"/Volumes/NAV/Maps/", "..", false, "/Volumes/NAV/"},
        {"abc", "..", false, "abc"},
        {"/Volumes/NAV/", "FTP1:/Maps", false, "FTP1:/Maps"},
        {"/a/x.txt", "FTP1:/Maps", true, "FTP1:/Maps/x.txt"},
        {"/a/b", ".", false, "/a/b/"},
        {"/a/b", "c\\d", false, "/a/b/c/d/"},
        {"/a/b/", "./c//d/", false, "/a/b/c/d/"},
        {"/a/", "..", false, "/"},
        {"/a/b/x.txt", "..", true, "/a/x.txt"},
        {"/a/b/x.txt", "sub", true, "/a/b/sub/x.txt"},
        {"x.txt", "sub", true, "sub/x.txt"},
        {"", "Maps", false, "Maps/"},
        {"/a/b", "$(QuillmapApp)/data", false, "$(QuillmapApp)/data"},
        {"/a/b", "/c", false, "/c"},
        {"/a/b/", "../../..", false, "/"},
    };
    for (const auto& c : cases) {
        TStringNomFitx p(c.value);
        p.cd(c.target, c.keep);
        EXPECT_EQ(S(p), c.expected) << "'" << c.value << "' cd '" << c.target << "' keep=" << c.keep;
    }
}

TEST_F(NomFitx, Equality) {
    EXPECT_TRUE(TStringNomFitx("/Volumes/NAV") == TStringNomFitx("/volumes/nav/"));
    EXPECT_TRUE(TStringNomFitx("/a/") == "/A");
    EXPECT_TRUE("/a" == TStringNomFitx("/A/"));
    EXPECT_TRUE(TStringNomFitx("/a") == DString("/a/"));
    EXPECT_FALSE(TStringNomFitx("/a//") == "/a");
    EXPECT_TRUE(TStringNomFitx("/a") != "/ab");
    EXPECT_TRUE(TStringNomFitx("") == TStringNomFitx());
    EXPECT_TRUE(TStringNomFitx("/Ñandú/") == "/ñANDÚ");
    EXPECT_TRUE(TStringNomFitx("/raw/\xff\xfe/") == "/raw/\xff\xfe"); // names need not be UTF-8
    EXPECT_FALSE(TStringNomFitx("/raw/\xff") == "/raw/\xfe");
    TStringNomFitxDS entry("/x/Y", 12, false);
    EXPECT_TRUE(entry == "/x/y");
    EXPECT_EQ(entry.size, 12);
}

// ---- volumes ----

TEST_F(NomFitx, VolumesUnderTheDefaultRoot) {
    const PartCase cases[] = {
        {"/Volumes/NAV", "Obten_Unidad", ""},
        {"/Volumes/NAV/x", "Obten_Unidad", "NAV"},
        {"NAV", "Obten_Unidad", "NAV"},
        {"/home/u/x", "Obten_Unidad", ""},
        {"/Volumes/NAV/x", "Obten_Unidad_Formateada", "/Volumes/NAV/"},
        {"/home/u/x", "Obten_Unidad_Formateada", "/Volumes/"},
        {"FTP1:/Maps/a", "Obten_Unidad_Formateada_ftp", "FTP1:/"},
        {"FTP1:/Maps/a", "Obten_Unidad_Formateada", "/Volumes/"},
        {"/Volumes/NAV/x", "Obten_Unidad_Formateada_ftp", "/Volumes/NAV/"},
        {"/Volumes/NAV/x", "Len_Unidad_Formateada", "13"},
    };
    for (const PartCase& c : cases)
        EXPECT_EQ(ApplyPart(TStringNomFitx(c.value), c.op), c.expected) << c.op << " of '" << c.value << "'";

    TStringNomFitx p("/Volumes/NAV/OrvaneData/x");
    EXPECT_TRUE(p.Quita_Unidad_Formateada());
    EXPECT_EQ(S(p), "OrvaneData/x");
    TStringNomFitx local("/home/u/x");
    EXPECT_FALSE(local.Quita_Unidad_Formateada());
    EXPECT_EQ(S(local), "/home/u/x");

    EXPECT_EQ(S(TStringNomFitx("Maps").Set_Path_Volume("NAV")), "/Volumes/NAV/Maps/");
    EXPECT_EQ(S(TStringNomFitx("/Maps").Set_Path_Volume("NAV")), "/Volumes/NAV/Maps/");
    EXPECT_EQ(S(TStringNomFitx().Set_Path_Volume("NAV")), "/Volumes/NAV/");
}

TEST_F(NomFitx, EveryVolumeOperationUsesTheRegisteredRoot) {
    TStringNomFitx::Set_this_Volumes_Root("/home/u/.cache/Downloader2/Volumes");
    EXPECT_EQ(S(TStringNomFitx::Ret_Volumes_Root()), "/home/u/.cache/Downloader2/Volumes/");
    TStringNomFitx p("/home/u/.cache/Downloader2/Volumes/NAV/OrvaneData/x");
    EXPECT_EQ(S(p.Obten_Unidad()), "NAV");
    EXPECT_EQ(S(p.Obten_Unidad_Formateada()), "/home/u/.cache/Downloader2/Volumes/NAV/");
    EXPECT_EQ(S(p.Obten_Unidad_Typo()), "/home/u/.cache/Downloader2/Volumes/NAV");
    EXPECT_TRUE(p.Quita_Unidad_Formateada());
    EXPECT_EQ(S(p), "OrvaneData/x");
    EXPECT_EQ(S(TStringNomFitx("Maps").Set_Path_Volume("CARD")),
              "/home/u/.cache/Downloader2/Volumes/CARD/Maps/");
    EXPECT_EQ(S(TStringNomFitx("/Volumes/NAV/x").Obten_Unidad()), "");
}

TEST_F(NomFitx, RootThatMustExist) {
    TStringNomFitx::Set_this_Path_MyDocuments("/Users/ana/Documents/Downloader2/");
    TStringNomFitx::Set_this_Media_Roots("/run/media/ana;/media/ana/");
    const PartCase cases[] = {
        {"/Volumes/NAV/OrvaneData/Maps", "Obten_Unidad_Typo", "/Volumes/NAV"},
        {"/Volumes/NAV/", "Obten_Unidad_Typo", "/Volumes/NAV"},
        {"/Volumes/", "Obten_Unidad_Typo", "/Volumes"},
        {"/Volumes", "Obten_Unidad_Typo", ""},
        {"relative/x", "Obten_Unidad_Typo", ""},
        {"/Users/ana/x", "Obten_Unidad_Typo", "/Users"},
        {"/home/ana/Downloads/x", "Obten_Unidad_Typo", "/home"},
        {"/Users/ana/Documents/Downloader2/a/b", "Obten_Unidad_Typo", "/Users/ana/Documents/Downloader2"},
        {"/Users/ana/Documents/Downloader2X/a", "Obten_Unidad_Typo", "/Users"},
        {"/storage/emulated/0/Maps", "Obten_Unidad_Typo", "/storage/emulated/0"},
        {"/storage/emulated/01/Maps", "Obten_Unidad_Typo", "/storage"},
        {"/root/OrvaneData/x", "Obten_Unidad_Typo", "/root/OrvaneData"},
        {"/root/ExternalSD/x", "Obten_Unidad_Typo", "/root/ExternalSD"},
        {"/root/Documents/x", "Obten_Unidad_Typo", "/root"},
        {"/run/media/ana/CARD/Maps", "Obten_Unidad_Typo", "/run/media/ana/CARD"},
        {"/media/ana/NAV 2/x", "Obten_Unidad_Typo", "/media/ana/NAV 2"},
        {"/media/bob/NAV/x", "Obten_Unidad_Typo", "/media"},
    };
    for (const PartCase& c : cases)
        EXPECT_EQ(ApplyPart(TStringNomFitx(c.value), c.op), c.expected) << c.op << " of '" << c.value << "'";
}

// ---- registry ----

TEST_F(NomFitx, RegistryFoldersAndTheirUsers) {
    TStringNomFitx f("x.dat");
    EXPECT_FALSE(f.Set_Path_Exe());
    EXPECT_FALSE(f.Set_Path_AppData());
    EXPECT_EQ(S(f), "x.dat");
    DString folder, label;
    EXPECT_FALSE(TStringNomFitx::GetMyDocsPath(folder, label));
    EXPECT_FALSE(TStringNomFitx::GetMyDocsExtPath(folder, label));
    EXPECT_EQ(S(label), "SDCard");

    TStringNomFitx::Set_this_Path_Exe("/App/Contents/Resources/data/Downloader2.exe");
    TStringNomFitx::Set_this_Path_MyDocuments("/D/Docs/Downloader2/");
    TStringNomFitx::Set_this_Path_Main_App("/Applications");
    EXPECT_EQ(S(TStringNomFitx::Ret_Path_Exe()), "/App/Contents/Resources/data");
    EXPECT_EQ(S(RegistroCarpetas().dir_mydocs), "/D/Docs/Downloader2");
    TStringNomFitx::Set_this_Path_MyDocuments("/ab/");
    EXPECT_EQ(S(RegistroCarpetas().dir_mydocs), "/ab/");
    TStringNomFitx::Set_this_Path_MyDocuments("/D/Docs/Downloader2");

    EXPECT_TRUE(f.Set_Path_AppData()); // falls back to the executable folder
    EXPECT_EQ(S(f), "/App/Contents/Resources/data/x.dat");
    TStringNomFitx g("y.ini");
    EXPECT_TRUE(g.Set_Path_ExeD("update/NAV"));
    EXPECT_EQ(S(g), "/App/Contents/Resources/data/update/NAV/y.ini");

    TStringNomFitx::Set_this_Path_de_AppData("/L/AppSupport/Downloader2");
    EXPECT_TRUE(f.Set_Path_AppLog());
    EXPECT_EQ(S(f), "/L/AppSupport/Downloader2/x.dat");
    EXPECT_EQ(S(TStringNomFitx::Ret_Path_AppData()), "/L/AppSupport/Downloader2");
    EXPECT_EQ(S(TStringNomFitx::Ret_Path_AppMain()), "/Applications");

    EXPECT_TRUE(TStringNomFitx::GetMyDocsPath(folder, label));
    EXPECT_EQ(S(folder), "/D/Docs/Downloader2");
    EXPECT_EQ(S(label), "Docs");
}

TEST_F(NomFitx, PathMacros) {
    TStringNomFitx::Set_this_Path_Main_App("/Applications");
    TStringNomFitx::Set_this_Path_MyDocuments("/D/Docs/Downloader2");
    TStringNomFitx::Set_this_Path_Temp("/T/tmp");
    TStringNomFitx::Set_this_Path_Exe("/Applications/D.app/data/D.exe");

    TStringNomFitx p("/Applications/Map.app");
    EXPECT_EQ(p.CodificaNomFitx(), 1);
    EXPECT_EQ(S(p), "$(QuillmapApp)/Map.app");
    EXPECT_EQ(p.DescodificaNomFitx(), 1);
    EXPECT_EQ(S(p), "/Applications/Map.app");

    struct {
        const char* full;
        const char* reduced;
    } cases[] = {
        {"/d/docs/downloader2/x", "Docs/x"},
        {"/T/tmp/f", "Temp/f"},
        {"/Applications/D.app/data/f", "App/D.app/data/f"}, // "App" is tried before "Exe"
        {"/elsewhere/f", "/elsewhere/f"},
    };
    for (const auto& c : cases) {
        TStringNomFitx r(c.full);
        r.ReducePathUser();
        EXPECT_EQ(S(r), c.reduced) << c.full;
    }
    TStringNomFitx e("docs/x");
    EXPECT_TRUE(e.ExpandePathUser());
    EXPECT_EQ(S(e), "/D/Docs/Downloader2/x");
    TStringNomFitx none("/elsewhere/f");
    EXPECT_FALSE(none.ExpandePathUser());

    TStringNomFitx::Libera_Registro();
    TStringNomFitx q("/Applications/Map.app");
    EXPECT_EQ(q.CodificaNomFitx(), 0);
    EXPECT_FALSE(q.ReducePathUser());
    EXPECT_EQ(S(q), "/Applications/Map.app");
}

TEST_F(NomFitx, TemporaryFolderAndNames) {
    dltest::TempDir dir;
    TStringNomFitx::Set_this_Path_de_AppData(dir.path().c_str());
    TStringNomFitx f("a.tmp");
    ASSERT_TRUE(f.Set_Path_Temp());
    EXPECT_EQ(S(f), dir.Path("temp/a.tmp"));
    EXPECT_TRUE(dir.Exists("temp")); // created the first time it was missing

    TStringNomFitx::Set_this_Path_Temp((dir.Dir()).c_str());
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        TStringNomFitx t;
        ASSERT_TRUE(t.SetTempFile());
        std::string s = S(t);
        EXPECT_EQ(s.find("//"), std::string::npos) << s;
        ASSERT_EQ(s.size(), dir.Dir().size() + 10) << s;
        for (char c : s.substr(dir.Dir().size()))
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'V')) << s;
        seen.insert(s);
    }
    EXPECT_GT(seen.size(), 45u);
}

TEST_F(NomFitx, FolderChecksGoThroughTheHooks) {
    dltest::TempDir dir;
    ASSERT_TRUE(dir.Mkdir("sub"));
    EXPECT_TRUE(TStringNomFitx(dir.Path("sub/file.txt").c_str()).Verifica_Existencia_Carpeta(true));
    EXPECT_TRUE(TStringNomFitx(dir.Path("sub").c_str()).Verifica_Existencia_Carpeta(false));
    EXPECT_FALSE(TStringNomFitx(dir.Path("none/file.txt").c_str()).Verifica_Existencia_Carpeta(true));
    EXPECT_FALSE(TStringNomFitx("file.txt").Verifica_Existencia_Carpeta(true));

    static int calls = 0;
    TNomFitxHooks hooks;
    hooks.existe_carpeta = [](const char* f) {
        ++calls;
        return std::string(f) == "FTP1:/Maps/";
    };
    Set_NomFitx_Hooks(hooks);
    EXPECT_TRUE(TStringNomFitx("FTP1:/Maps/a.img").Verifica_Existencia_Carpeta(true));
    EXPECT_EQ(calls, 1);
    Set_NomFitx_Hooks(TNomFitxHooks());
    EXPECT_TRUE(TStringNomFitx(dir.Path("sub").c_str()).Verifica_Existencia_Carpeta(false));
}

// ---- wildcards ----

TEST(Wildcards, Table) {
    struct {
        const char* pattern;
        const char* name;
        bool expected;
    } cases[] = {
        {"*.img", "MAP.IMG", true},
        {"*.img", "dir/MAP.IMG", true},
        {"*.img", "MAP.IMGX", false},
        {"map*", "map/x", false},
        {"map*", "mapping", true},
        {"map*", "MAPX", true},
        {"a*b*", "axxb*", true},
        {"a*b*", "axxbzz", false},
        {"a*b*", "ab*", true},
        {"*.*", "any/where/file.txt", true},
        {"*.*", "noext", true},
        {"*", "noext", true},
        {"*", "file.txt", false}, // the extensions are matched too
        {"exact.TXT", "EXACT.txt", true},
        {"exact.txt", "exact.txt2", false},
        {"m?p.img", "map.img", false}, // '?' is an ordinary character
        {"m?p.img", "M?P.IMG", true},
        {"*.gz", "a.tar.gz", true},
        {"a.tar.*", "a.tar.gz", true},
        {"pre*suf", "pr", false},
        {"ab*ba", "aba", false}, // shorter than prefix and suffix together
        {".hidden", ".HIDDEN", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Verifica_Pertenencia_Windcards(c.pattern, c.name), c.expected)
            << "'" << c.pattern << "' vs '" << c.name << "'";
    EXPECT_TRUE(Verifica_Pertenencia_Windcards_2("*", "a/b\\c"));
    EXPECT_FALSE(Verifica_Pertenencia_Windcards_2("a*", "a\\b"));
    EXPECT_TRUE(Verifica_Pertenencia_Windcards_2("a*", "a"));
}

} // namespace
