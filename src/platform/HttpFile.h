// The local file a download writes into: opened for appending, written block by block as the
// data arrives (never held in memory), closed with every error reported. Local paths only.
// One object belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class THttpFile {
public:
    THttpFile() = default;
    ~THttpFile(); // closes without reporting; call Close to learn whether the data reached the disk
    THttpFile(const THttpFile&) = delete;
    THttpFile& operator=(const THttpFile&) = delete;

    // Opens for appending, creating the file when missing; truncate empties it first.
    bool Open(const std::string& path, bool truncate);
    bool IsOpen() const { return fd_ >= 0; }
    // Bytes in the file (the write position).
    int64_t Size() const { return size_; }
    // Writes every byte or fails (disk full, read-only volume...).
    bool Write(const char* data, size_t length);
    // Empties the open file.
    bool Truncate();
    // True when the file was open and closed cleanly.
    bool Close();
    // The system's reason for the last failure ("No space left on device").
    const std::string& ErrorText() const { return error_; }

    // Size of a file on disk; -1 when it does not exist or is not a regular file.
    static int64_t SizeOf(const std::string& path);

private:
    bool Fail();
    int fd_ = -1;
    int64_t size_ = 0;
    std::string error_;
};
