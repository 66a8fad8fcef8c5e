// Temporary folder fixture for tests.
//
//   dltest::TempDir dir;                       // a fresh empty folder, e.g. /tmp/dltest-Ab12Cd
//   std::string f = dir.Path("a/b.txt");       // dir.path() + "/a/b.txt" (no I/O)
//   dir.Write("a/b.txt", "hello");             // creates "a" and writes the file (mode 0644)
//   std::string s = dir.Read("a/b.txt");       // whole content ("" when unreadable)
//   dir.Mkdir("x/y");                          // creates folders (mkdir -p)
//
// The folder is made under $TMPDIR (default /tmp) and removed with all its content when the
// object is destroyed; the removal never follows symbolic links. Failures to create the folder
// throw std::runtime_error. Not thread-safe; one object per test.
#pragma once

#include <string>

namespace dltest {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "dltest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a final '/'.
    const std::string& path() const { return path_; }
    // path() + "/" + rel.
    std::string Path(const std::string& rel) const;
    // The folder with a final '/' (the form most path operations of the program expect).
    std::string Dir() const { return path_ + "/"; }

    // Writes a file (creating parent folders); returns false on any error.
    bool Write(const std::string& rel, const std::string& content) const;
    // Reads a whole file; "" when it cannot be read.
    std::string Read(const std::string& rel) const;
    // Creates folders (mkdir -p) under the temporary folder; returns false on error.
    bool Mkdir(const std::string& rel) const;
    // True when rel exists (lstat: a dangling link counts).
    bool Exists(const std::string& rel) const;

private:
    std::string path_;
};

// Removes a file or folder tree without following symbolic links; true when nothing is left.
bool RemoveTree(const std::string& path);
// mkdir -p with the given mode; true when the folder exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);
// Writes a whole file (created with mode 0644 or truncated; parent folders must exist).
bool WriteWholeFile(const std::string& path, const std::string& content);
// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

} // namespace dltest
