#include "foundation/StringErr.h"
#include "foundation/Registra.h"

#include <mutex>

const char* TStringErr::typeErrorMessges[6] = {"No Error", "GenericError", "No Internet Available",
                                               "",         nullptr,        nullptr};

void TStringErr::SetErrorMsg(int type, const char* text) {
    if (type >= 0 && type < 6) typeErrorMessges[type] = text;
}

// Destroying an error never writes to the log: callers report what matters themselves.
TStringErr::~TStringErr() = default;

void TStringErr::Set(int type, const char* detail, const char* message) {
    type_ = type;
    detail_ = detail;
    if (message) {
        DString::operator=(message);
    } else if (type >= 1 && type <= 5 && typeErrorMessges[type]) {
        DString::operator=(typeErrorMessges[type]);
    }
}

void TStringErr::Vacia() {
    DString::Vacia();
    detail_.Vacia();
    extra_.Vacia();
    type_ = eGenericError;
}

// ---------------------------------------------------------------------------------------------
// The last-error record

namespace {
struct ErrorRecord {
    std::mutex lock;
    TLastError current;
    TLastError saved;
    DString saved_text;
};
ErrorRecord& Record() {
    static auto* record = new ErrorRecord(); // never destroyed: usable from static destructors
    return *record;
}
} // namespace

TLastError GetLastErrorRecord() {
    std::lock_guard<std::mutex> hold(Record().lock);
    return Record().current;
}

int downloader_errorCode() {
    return GetLastErrorRecord().code;
}
DString downloader_errorFile() {
    return GetLastErrorRecord().file;
}
DString downloader_errorDevice() {
    return GetLastErrorRecord().device;
}

void ManageError(int code, const char* file, const char* device) {
    std::lock_guard<std::mutex> hold(Record().lock);
    TLastError& r = Record().current;
    if (r.code != kNoErrorCode) return;
    r.code = code;
    r.file = file;
    r.device = device;
}

void ResetErrorFlags(DString* err) {
    {
        std::lock_guard<std::mutex> hold(Record().lock);
        Record().current = TLastError();
    }
    if (err) err->Vacia();
}

void BackupError(const char* error_text) {
    std::lock_guard<std::mutex> hold(Record().lock);
    Record().saved = Record().current;
    Record().saved_text = error_text;
}

void RestoreError(const char* label) {
    TLastError saved, current;
    DString saved_text;
    {
        std::lock_guard<std::mutex> hold(Record().lock);
        saved = Record().saved;
        current = Record().current;
        saved_text = Record().saved_text;
    }
    DString line(label);
    line << " . errorCode_prev=" << saved.code << " . errorFile_prev=" << saved.file
         << " . errorDevice_prev=" << saved.device << " . strError_prev=" << saved_text << "---";
    CustomRegistraComun(line);
    line = label;
    line << " . errorCode=" << current.code << " . errorFile=" << current.file
         << " . errorDevice=" << current.device;
    CustomRegistraComun(line);
    std::lock_guard<std::mutex> hold(Record().lock);
    Record().current = saved;
}

bool IsError(int code) {
    std::lock_guard<std::mutex> hold(Record().lock);
    return Record().current.code == code;
}

bool NoHayError() {
    return IsError(kNoErrorCode);
}
