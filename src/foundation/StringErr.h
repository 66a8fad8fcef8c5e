// TStringErr: the error out-parameter of every fallible operation, and the last-error record.
//
// The text of a TStringErr is its message; empty means success, and callers test the message.
// An error destroyed while it still holds a message nobody marked reported leaves a line in the
// common log (TStringErr_i never does). A TStringErr belongs to one thread at a time.
#pragma once

#include "foundation/DString.h"

#include <cstdint>

class TStringErr : public DString {
public:
    enum EtypeError : int32_t {
        eNoError = 0,
        eGenericError = 1,
        eNoInternet = 2,
        eType3 = 3,
        eReadOnly = 4, // the failure came from a read-only file
        eType5 = 5,
    };
    enum EreportedMode : int32_t { eNotReported = 0, eReported = 1 };

    // Default messages per type: 0 "No Error", 1 "GenericError", 2 "No Internet Available",
    // 3 "", 4 and 5 none. Process-wide; SetErrorMsg replaces an entry (main thread, at start-up).
    static const char* typeErrorMessges[6];
    static void SetErrorMsg(int type, const char* text);

    TStringErr() = default;
    TStringErr(const char* message) : DString(message) {}
    TStringErr(const CDString& message) : DString(message) {}
    explicit TStringErr(EreportedMode mode) : reported_(mode) {}
    TStringErr(const TStringErr&) = default;
    TStringErr& operator=(const TStringErr&) = default;
    TStringErr& operator=(const char* message) {
        DString::operator=(message);
        return *this;
    }
    TStringErr& operator=(const CDString& message) {
        DString::operator=(message);
        return *this;
    }
    virtual ~TStringErr();

    // Stores type and detail; a null message with type 1..5 takes the table text of the type.
    void Set(int type, const char* detail, const char* message = nullptr);
    void Reported() { reported_ = eReported; }
    void LogReport() {
        if (!IsEmpty()) reported_ = eReported;
    }
    bool IsReported() const { return reported_ == eReported; }
    // Empties message, detail and extra text; type back to 1 (the reported mode is kept).
    void Vacia();

    int32_t GetType() const { return type_; }
    void SetType(int32_t type) { type_ = type; }
    EreportedMode GetReportedMode() const { return reported_; }
    const DString& Detail() const { return detail_; }
    void SetDetail(const char* d) { detail_ = d; }
    DString& Extra() { return extra_; }
    const DString& Extra() const { return extra_; }

private:
    DString detail_;
    DString extra_;
    int32_t type_ = eGenericError;
    EreportedMode reported_ = eNotReported;
};

// An error the caller may drop without looking at it: never logged on destruction.
class TStringErr_i : public TStringErr {
public:
    using TStringErr::TStringErr;
    using TStringErr::operator=;
    ~TStringErr_i() override { Reported(); }
};

// ---- The last-error record: the first error of a run, sent with statistics and support. ----
// Codes are five- or seven-digit numbers beginning 73; 73001 means no error. Every operation is
// thread-safe (one process-wide lock).

constexpr int kNoErrorCode = 73001;

struct TLastError {
    int code = kNoErrorCode;
    DString file = "No Error";
    DString device = "No Error";
};

// Snapshot of the record.
TLastError GetLastErrorRecord();
int downloader_errorCode();
DString downloader_errorFile();
DString downloader_errorDevice();

// Stores the three values only while the record still says 73001 (the first error wins).
void ManageError(int code, const char* file, const char* device);
// Back to 73001, "No Error", "No Error"; empties err when given.
void ResetErrorFlags(DString* err = nullptr);
inline void ResetErrorFlags(DString& err) {
    ResetErrorFlags(&err);
}
// Saved copy of the record (with the error text given) and its restoration, which logs
// the saved and the current values first.
void BackupError(const char* error_text = nullptr);
void RestoreError(const char* label);
bool IsError(int code);
bool NoHayError();
