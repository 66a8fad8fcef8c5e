// Standard folders from the XDG variables and files, and the start-up path set-up.
#include <gtest/gtest.h>

#include "foundation/NomFitx.h"
#include "platform/PlatformFiles.h"
#include "platform/StandardFolders.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

unsigned Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0xFFFFu;
}

std::string S(const CDString& d) {
    return d.c_str();
}

// Runs each test with a made-up home and no XDG variables; restores the environment after.
class StandardFolders : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : kVars) {
            const char* old = getenv(v);
            saved_.push_back(old ? std::make_pair(true, std::string(old))
                                 : std::make_pair(false, std::string()));
            unsetenv(v);
        }
        setenv("HOME", home_.path().c_str(), 1);
        TStringNomFitx::Libera_Registro();
    }
    void TearDown() override {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i].first)
                setenv(kVars[i], saved_[i].second.c_str(), 1);
            else
                unsetenv(kVars[i]);
        }
        TStringNomFitx::Libera_Registro();
        PlatformFiles() = TPlatformFiles();
    }
    static constexpr const char* kVars[] = {
        "HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR"};
    std::vector<std::pair<bool, std::string>> saved_;
    dltest::TempDir home_;
};
constexpr const char* StandardFolders::kVars[];

TEST_F(StandardFolders, XdgBaseFoldersWithOverridesAndFallbacks) {
    const std::string h = home_.path();
    EXPECT_EQ(S(Linux_HomeFolder()), h);
    EXPECT_EQ(S(Linux_DataHome()), h + "/.local/share");
    EXPECT_EQ(S(Linux_CacheHome()), h + "/.cache");
    EXPECT_EQ(S(Linux_ConfigHome()), h + "/.config");
    EXPECT_EQ(S(Mac_GetPathAppData()), h + "/.local/share");

    setenv("XDG_DATA_HOME", "/srv/data/", 1);
    setenv("XDG_CACHE_HOME", "relative/cache", 1); // ignored: XDG values must be absolute
    EXPECT_EQ(S(Linux_DataHome()), "/srv/data");
    EXPECT_EQ(S(Linux_CacheHome()), h + "/.cache");

    setenv("HOME", "", 1); // falls back to the passwd entry
    EXPECT_FALSE(Linux_HomeFolder().IsEmpty());
    EXPECT_EQ(Linux_HomeFolder()[0], '/');
}

TEST_F(StandardFolders, UserFoldersFromUserDirsFile) {
    const std::string h = home_.path();
    EXPECT_EQ(S(Mac_GetPathDocs()), h); // nothing configured: the home folder
    ASSERT_TRUE(home_.Write(".config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                      "XDG_DESKTOP_DIR=\"$HOME/Escritorio\"\n"
                                                      "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n"
                                                      "XDG_MUSIC_DIR=\"$HOME/\"\n"
                                                      "XDG_VIDEOS_DIR=\"/mnt/media/videos\"\n"
                                                      "XDG_PICTURES_DIR=\"relative\"\n"));
    EXPECT_EQ(S(Mac_GetPathDesktop()), h + "/Escritorio");
    EXPECT_EQ(S(Mac_GetPathDocs()), h + "/My \"Docs\"");
    EXPECT_EQ(S(Linux_UserDir("MUSIC")), h);
    EXPECT_EQ(S(Linux_UserDir("VIDEOS")), "/mnt/media/videos");
    EXPECT_EQ(S(Linux_UserDir("PICTURES")), h);

    setenv("XDG_DOCUMENTS_DIR", "/data/docs", 1);
    EXPECT_EQ(S(Mac_GetPathDocs()), "/data/docs");

    dltest::TempDir config;
    ASSERT_TRUE(config.Write("user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Other\"\n"));
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    EXPECT_EQ(S(Mac_GetPathDesktop()), h + "/Other");
}

TEST_F(StandardFolders, TemporaryFolderIsPrivateAndNeverBareTmp) {
    setenv("XDG_CACHE_HOME", home_.Path("cache").c_str(), 1);
    DString temp = AppleGetTempFolder("Downloader2");
    EXPECT_EQ(S(temp), home_.Path("cache/Downloader2/tmp/"));
    EXPECT_EQ(Mode(temp.c_str()), 0700u);
    ASSERT_EQ(chmod(temp.c_str(), 0777), 0);
    AppleGetTempFolder("Downloader2");
    EXPECT_EQ(Mode(temp.c_str()), 0700u);
}

TEST_F(StandardFolders, PrivateAndPlainFolderCreation) {
    VerificaCreaCarpeta(home_.Path("a/b/c").c_str());
    EXPECT_EQ(Mode(home_.Path("a/b/c")), 0700u);
    VerificaCreaCarpeta(home_.Path("docs").c_str(), 0755);
    EXPECT_EQ(Mode(home_.Path("docs")), 0755u);
    VerificaCreaCarpeta(""); // ignored

    ASSERT_TRUE(home_.Mkdir("shared"));
    ASSERT_EQ(chmod(home_.Path("shared").c_str(), 0755), 0);
    EXPECT_TRUE(Linux_PrivateFolder(home_.Path("shared/").c_str()));
    EXPECT_EQ(Mode(home_.Path("shared")), 0700u);
    ASSERT_TRUE(home_.Write("file", "x"));
    EXPECT_FALSE(Linux_PrivateFolder(home_.Path("file/sub").c_str()));
}

TEST_F(StandardFolders, InitPathsFillsTheRegistry) {
    dltest::TempDir prefix;
    ASSERT_TRUE(prefix.Mkdir("bin"));
    ASSERT_EQ(symlink("/usr/bin/true", prefix.Path("bin/downloader2").c_str()), 0);
    PlatformFiles().self_exe = prefix.Path("bin/downloader2").c_str();
    setenv("XDG_DATA_HOME", home_.Path("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", home_.Path("cache").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", home_.Path("Docs").c_str(), 1);

    Apple_Init_Paths("Downloader2");

    const TRegistroCarpetas& r = RegistroCarpetas();
    EXPECT_EQ(S(Mac_GetPathExe()), "/usr/bin/true");
    EXPECT_EQ(S(r.dir_exe), "/usr/share/downloader2"); // <prefix>/share/downloader2 of /usr/bin/true
    EXPECT_EQ(S(r.main_app_path), "/usr/bin");
    EXPECT_EQ(S(r.global_path_app_data), home_.Path("data/Downloader2"));
    EXPECT_EQ(S(r.app_path), home_.Path("data/Downloader2"));
    EXPECT_EQ(S(r.dir_mydocs), home_.Path("Docs/Downloader2"));
    EXPECT_EQ(S(r.dir_temp), home_.Path("cache/Downloader2/tmp/"));
    EXPECT_EQ(S(r.volumes_root), home_.Path("cache/Downloader2/Volumes/"));
    std::string user = Linux_UserName().c_str();
    EXPECT_EQ(S(r.media_roots), "/run/media/" + user + "/;/media/" + user + "/");
    EXPECT_TRUE(r.dir_caches.IsEmpty());

    EXPECT_EQ(Mode(home_.Path("Docs/Downloader2")), 0755u);
    for (const char* f : {"data/Downloader2", "data/Downloader", "cache/Downloader2", "cache/Downloader2/tmp",
                          "cache/Downloader2/Volumes"})
        EXPECT_EQ(Mode(home_.Path(f)), 0700u) << f;

    // The path code now composes within these folders.
    TStringNomFitx log("quillmap.log");
    ASSERT_TRUE(log.Set_Path_AppLog());
    EXPECT_EQ(S(log), home_.Path("data/Downloader2/quillmap.log"));
    TStringNomFitx vol("Maps");
    vol.Set_Path_Volume("NAV");
    EXPECT_EQ(S(vol), home_.Path("cache/Downloader2/Volumes/NAV/Maps/"));
    EXPECT_EQ(S(vol.Obten_Unidad_Typo()), home_.Path("cache/Downloader2/Volumes/NAV"));
    // Local paths outside the volumes root keep their usual root.
    EXPECT_EQ(S(TStringNomFitx(home_.Path("data/x/y").c_str()).Obten_Unidad_Typo()),
              home_.path().substr(0, home_.path().find('/', 1)));
}

TEST_F(StandardFolders, InstalledDataFolderFromTheExecutable) {
    PlatformFiles().self_exe = "/nonexistent/link";
    EXPECT_EQ(S(Linux_InstalledDataFolder()), "/usr/share/downloader2");
    dltest::TempDir prefix;
    ASSERT_TRUE(prefix.Mkdir("opt/dl/bin"));
    ASSERT_EQ(symlink(prefix.Path("opt/dl/bin/downloader2").c_str(), prefix.Path("exe").c_str()), 0);
    PlatformFiles().self_exe = prefix.Path("exe").c_str();
    EXPECT_EQ(S(Linux_InstalledDataFolder()), prefix.Path("opt/dl/share/downloader2"));
}

} // namespace
