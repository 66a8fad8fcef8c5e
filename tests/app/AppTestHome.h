// A throwaway home for the application tests: HOME and the XDG folders point into a temporary
// folder for the life of the object, so nothing touches the real user's files.
#pragma once

#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace dltest {

class AppTestHome {
public:
    AppTestHome() : dir_("dlapp") {
        Set("HOME", dir_.Path("home"));
        Set("XDG_DATA_HOME", dir_.Path("home/.local/share"));
        Set("XDG_CACHE_HOME", dir_.Path("home/.cache"));
        Set("XDG_CONFIG_HOME", dir_.Path("home/.config"));
        Set("XDG_DOCUMENTS_DIR", dir_.Path("home/Documents"));
        Set("XDG_RUNTIME_DIR", dir_.Path("run"));
        MakeDirs(dir_.Path("home/.local/share"), 0700);
        MakeDirs(dir_.Path("home/.cache"), 0700);
        MakeDirs(dir_.Path("home/.config"), 0700);
        MakeDirs(dir_.Path("home/Documents"), 0755);
        MakeDirs(dir_.Path("run"), 0700);
        chmod(dir_.Path("run").c_str(), 0700);
    }

    const TempDir& dir() const { return dir_; }
    std::string Home() const { return dir_.Path("home"); }
    std::string DataHome() const { return dir_.Path("home/.local/share"); }
    std::string Shared() const { return DataHome() + "/Downloader"; }
    std::string AppData() const { return DataHome() + "/Downloader2"; }
    std::string LogFile() const { return Shared() + "/quillmap.log"; }
    std::string Runtime() const { return dir_.Path("run"); }

    // The whole log ("" before the first line).
    std::string Log() const { return ReadFile(LogFile()); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
    TempDir dir_;
};

// How often text occurs in haystack.
inline int CountOf(const std::string& haystack, const std::string& text) {
    int n = 0;
    for (size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + text.size()))
        ++n;
    return n;
}

} // namespace dltest
