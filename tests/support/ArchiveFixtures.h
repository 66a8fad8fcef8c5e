// Archives made at test time, through Python's zipfile and tarfile (/usr/bin/python3).
//
//   dltest::MakeZip(dir.Path("a.zip"), {{"Maps/x.map", "data"}, dltest::Folder("Maps/")});
//   dltest::MakeTar(dir.Path("a.tar"), {{"a/b.txt", "hi"}}, dltest::TarFormat::Pax, /*gzip=*/true);
//
// Names and data are taken byte for byte (names must be valid UTF-8; use patches to plant other
// bytes, such as a NUL, in the finished file). Every function returns false, with the generator's
// output on stderr, when the archive could not be made. Any thread; no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dltest {

struct ArchiveMember {
    ArchiveMember() = default;
    ArchiveMember(std::string n, std::string d) : name(std::move(n)), data(std::move(d)) {}

    std::string name;
    std::string data;
    // When > 0, the content is generated instead: fill 'z' zeros, 'r' random bytes (seeded by
    // the size), 't' numbered text lines (compresses well).
    int64_t fill_size = 0;
    char fill = 'r';
    bool stored = false; // zip: method 0 (else deflate)
    bool zip64 = false;  // zip: force zip64 extra fields for this member
    char tar_type = '0'; // tar: '0' file, '5' folder, '2' symbolic link, '1' hard link, '6' fifo
    std::string link;    // tar: link target
    bool folder = false; // zip: a folder entry (its name should end in '/')
};

inline ArchiveMember Folder(const std::string& name) {
    ArchiveMember m(name, "");
    m.folder = true;
    m.tar_type = '5';
    return m;
}
inline ArchiveMember Stored(const std::string& name, const std::string& data) {
    ArchiveMember m(name, data);
    m.stored = true;
    return m;
}
inline ArchiveMember Generated(const std::string& name, int64_t size, char fill = 'r', bool stored = false) {
    ArchiveMember m(name, "");
    m.fill_size = size;
    m.fill = fill;
    m.stored = stored;
    return m;
}

// Byte strings replaced (same length) in the finished file, in order; each must occur.
using Patches = std::vector<std::pair<std::string, std::string>>;

bool MakeZip(const std::string& path, const std::vector<ArchiveMember>& members, const Patches& patches = {});

enum class TarFormat { Gnu, Pax, Ustar };
// end_block false leaves out the two zero blocks that end the archive.
bool MakeTar(const std::string& path, const std::vector<ArchiveMember>& members, TarFormat format,
             bool gzip = false, bool end_block = true, const Patches& patches = {});

// The bytes that a Generated member holds (computed here, not by Python; for checking results).
std::string GeneratedContent(int64_t size, char fill);

// Runs a Python program; true when it exits with 0.
bool RunPython(const std::string& program, const std::vector<std::string>& args = {});

} // namespace dltest
