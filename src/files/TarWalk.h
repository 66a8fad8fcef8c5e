// The tar walk: reads a tar archive (plain, or gzip-compressed under any name) header by header
// and hands each regular file with data to a sink, in archive order.
//
// Formats understood: v7, ustar (the prefix field), GNU (long names 'L', long link names 'K',
// base-256 sizes) and pax (the "path" and "size" records of 'x' headers; 'g' headers are skipped).
// The data blocks of every entry type are skipped by their size. The walk ends at a header
// block whose first byte is zero; an archive that ends before it is a read error.
// Entry names are passed on as stored ('\' turned into '/'); checking them is the sink's job.
// Single-threaded; a walk owns nothing of its source or sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where the walk reads its bytes from.
class TTarSource {
public:
    virtual ~TTarSource() = default;
    // Reads up to n bytes; fewer only at the end of the input. -1 on a read error.
    virtual long Lee(char* buffer, size_t n) = 0;
    // Bytes consumed from the underlying file so far (compressed bytes for gzip input).
    virtual int64_t Offset() const { return 0; }
};

// The archive file through zlib's gzip reader, which reads plain files as they are.
class TTarSourceGz : public TTarSource {
public:
    TTarSourceGz() = default;
    ~TTarSourceGz() override;
    TTarSourceGz(const TTarSourceGz&) = delete;
    TTarSourceGz& operator=(const TTarSourceGz&) = delete;

    bool Abre(const char* path); // false when the file cannot be opened
    bool Cierra();               // false when closing reports an error; true when not open
    long Lee(char* buffer, size_t n) override;
    int64_t Offset() const override;

private:
    void* gz_ = nullptr; // gzFile
};

// Bytes in memory (the fuzz target and unit tests).
class TTarSourceMem : public TTarSource {
public:
    TTarSourceMem(const void* data, size_t n) : data_(static_cast<const char*>(data)), n_(n) {}
    long Lee(char* buffer, size_t n) override;
    int64_t Offset() const override { return static_cast<int64_t>(pos_); }

private:
    const char* data_;
    size_t n_;
    size_t pos_ = 0;
};

struct TTarEntry {
    std::string name; // as stored, '\' turned into '/'; may hold anything, NUL bytes included
    int64_t size = 0; // data bytes, > 0
    char type = '0';  // '0', '\0' or '7'
};

// Receives the regular files of a walk. Returning false stops the walk (TTarResult::Parado).
class TTarSink {
public:
    virtual ~TTarSink() = default;
    virtual bool Inicio(const TTarEntry& entry) = 0;    // a regular file with data begins
    virtual bool Datos(const char* data, size_t n) = 0; // the next bytes of it (never past its size)
    virtual bool Fin() = 0;                             // all its bytes were given
    // Called after every read from the source, with the source's offset.
    virtual bool Progreso(int64_t offset) { return true; }
};

enum class TTarResult {
    Ok,      // the end block was reached
    Lectura, // read error, short archive (no end block) or a corrupt header
    Parado,  // the sink said stop
};

// Walks the archive. why (optional) receives a short technical reason for a failure.
TTarResult Recorre_Tar(TTarSource& source, TTarSink& sink, std::string* why = nullptr);

// Parses a tar numeric field (octal text, or base-256 when the first byte has its high bit).
// False for a field that is neither, or a negative or overflowing value.
bool Tar_Numero(const unsigned char* field, size_t len, int64_t& value);
