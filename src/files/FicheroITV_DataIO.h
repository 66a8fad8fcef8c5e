// Data adapters that feed or drain FTP transfers (the WiFi device's transfer engine) from a file,
// a memory block or a string. The engine calls callback(object, buffer, &count) once per block:
// when receiving, buffer holds count bytes to store; when sending, the adapter fills up to count
// bytes and sets count (0 ends the upload). A false result stops the transfer. One transfer, and
// so one thread, uses an adapter at a time.
#pragma once

#include "files/FicheroITV.h"
#include "foundation/DString.h"

#include <cstdint>

class TMonitorProc;

// The plain sink/source record the transfer engine takes.
using TFuncIOFtp = bool (*)(void* object, char* buffer, int* count);
struct TDataIOFtp {
    TFuncIOFtp callback = nullptr;
    void* object = nullptr;
};

// Base of the adapters: `io` calls FuncIOc with the adapter itself. With a monitor, a cancel
// request stops the transfer, a first call with a null buffer and a positive count starts the
// monitor with that total, and every block advances it (text "KBytes: <pos>/<total>" in KiB).
class TDataIOFtpCpp {
public:
    explicit TDataIOFtpCpp(TMonitorProc* monitor = nullptr);
    virtual ~TDataIOFtpCpp() = default;
    TDataIOFtpCpp(const TDataIOFtpCpp&) = delete;
    TDataIOFtpCpp& operator=(const TDataIOFtpCpp&) = delete;

    static bool FuncIOc(void* object, char* buffer, int* count);
    // One block; a null buffer is answered with true and no action unless an adapter says more.
    virtual bool FuncIOcp(char* buffer, int& count) = 0;

    TDataIOFtp io;
    TMonitorProc* monitor;
};

// An open file: the sink of a download (source = false) or the source of an upload of at most
// `budget` bytes (source = true; a file shorter than the budget fails the upload).
class TDataIOTFicheroITV : public TDataIOFtpCpp {
public:
    TDataIOTFicheroITV(TFicheroITV& file, bool source, int64_t budget = 0, TMonitorProc* monitor = nullptr)
        : TDataIOFtpCpp(monitor), file_(file), source_(source), budget_(budget) {}
    bool FuncIOcp(char* buffer, int& count) override;
    int64_t Queda() const { return budget_; }

private:
    TFicheroITV& file_;
    bool source_;
    int64_t budget_;
};

// A caller's memory block: the source of an upload (source = true) or the sink of a download,
// with `capacity` bytes left. Always true; bytes beyond the capacity are not transferred.
class TDataIOMem : public TDataIOFtpCpp {
public:
    TDataIOMem(void* block, int64_t capacity, bool source, TMonitorProc* monitor = nullptr)
        : TDataIOFtpCpp(monitor), ptr_(static_cast<char*>(block)), source_(source), capacity_(capacity) {}
    bool FuncIOcp(char* buffer, int& count) override;
    int64_t Queda() const { return capacity_; }

private:
    char* ptr_;
    bool source_;
    int64_t capacity_;
};

// A string that receives text (listings, replies). A null buffer reserves count + 2 bytes.
class TDataIOWriteDString : public TDataIOFtpCpp, public DString {
public:
    explicit TDataIOWriteDString(TMonitorProc* monitor = nullptr) : TDataIOFtpCpp(monitor) {}
    bool FuncIOcp(char* buffer, int& count) override;
};
