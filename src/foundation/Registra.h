// The log: TRegistra writes one line per call to a text file, opening and closing the file each
// time so every line is on disk when the call returns, and rotates the file to ".OLD" past its
// threshold. The common log ("quillmap.log", RegistraGPS) is what every layer writes to, through
// the CustomRegistraComun... family. Every call is thread-safe: each log has its own recursive
// lock held from name resolution to the end of rotation, so lines never interleave.
//
// Line shape: "\r\n" [date "YYYY-MM-DD HH:MM:SS" two spaces] "[pid:P, thid:0x.., thspid:T] " text.
#pragma once

#include "foundation/DString.h"

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>

// Local broken-down time used for the date of a line; replaceable for tests.
using TRegistraClock = std::function<std::tm()>;

class TRegistra {
public:
    // Every log of the program is made with header on, rotation on and the options off.
    explicit TRegistra(const char* file_name, bool no_header = false, bool option1 = false,
                       bool option2 = false, bool rotation_off = false, bool init_now = true);
    virtual ~TRegistra();
    TRegistra(const TRegistra&) = delete;
    TRegistra& operator=(const TRegistra&) = delete;

    // Until Init every write is ignored.
    void Init();
    bool IsInit() const { return init_; }

    // Writes one line (a single trailing line feed of text is dropped). Lines are dropped
    // silently while the name cannot be resolved (no data folder yet) or the file cannot be opened.
    void Reg(const char* text, bool with_date = true);
    void Reg(const CDString& text, bool with_date = true) { Reg(text.c_str(), with_date); }
    void operator()(const char* text, bool with_date = true) { Reg(text, with_date); }
    void operator()(const CDString& text, bool with_date = true) { Reg(text.c_str(), with_date); }
    TRegistra& operator<<(const char* text);
    TRegistra& operator<<(const CDString& text) { return *this << text.c_str(); }
    TRegistra& operator<<(char c);
    TRegistra& operator<<(int n);

    // Rotation: past threshold - 3 bytes, the ".OLD" file is replaced by the log and a fresh log
    // holding one space is started. A failed rotation is logged where possible and never throws.
    void LogRotateIfNeeded();
    bool LogRotate();

    // The file name: a relative name is placed in the data folder (Registra_SetDataFolder) when
    // the first line is written; an absolute one is used as it is. Resets the resolution.
    void SetFileName(const char* name);
    DString GetFileName() const;    // as resolved (or as given, before resolution)
    DString GetOldFileName() const; // the ".OLD" name; empty before resolution
    void SetThreshold(long long bytes);
    long long GetThreshold() const { return umbral_; }
    void SetClock(TRegistraClock clock); // null: the system's local time

protected:
    bool ResolveName();                               // with the lock held
    void WriteLine(const char* text, bool with_date); // with the lock held

    std::FILE* fichero_ = nullptr; // open only while a line is written
    std::atomic<bool> init_{false};
    long long umbral_ = 500000;
    DString nombre_;
    bool old_resuelto_ = false;
    DString nombre_old_;
    mutable std::recursive_mutex lock_;
    bool no_header_ = false;
    bool rotation_ = true;
    bool option1_ = false;
    bool option2_ = false;
    unsigned long long ticks_init_ = 0;
    long pid_ = 0;
    TRegistraClock clock_;
    bool rotate_failed_ = false; // a failed rotation is reported once per failure streak
};

// The class of the common log: adds the last communication error and a count of such reports.
class TRegistraGPS : public TRegistra {
public:
    using TRegistra::TRegistra;
    DString last_comm_error;
    int n_comm_errors = 0;
};

// GPS sentence logs (nothing in this product writes to them).
class TRegistraNMEA : public TRegistra {
public:
    explicit TRegistraNMEA(const char* file_name) : TRegistra(file_name) { SetThreshold(10000000); }
};

// Process-wide logs, made before main: the common log on "quillmap.log" and the two sentence logs.
extern TRegistraGPS RegistraGPS;
extern TRegistraNMEA RegistraNMEA;
extern TRegistraNMEA RegistraNMEAFix;

// The folder where relative log names are placed (the application's data folder). Set by the
// application at start-up; until then lines written to relatively named logs are dropped.
void Registra_SetDataFolder(const char* folder);
DString Registra_GetDataFolder();

// The log RegistraComun writes to (RegistraGPS unless changed; the first TRegistra made claims it
// when none is set). SetRegistraComun(nullptr) silences the common log.
void SetRegistraComun(TRegistra* log);
TRegistra* GetRegistraComun();

// One line to the common log (nothing when there is none); one line to RegistraGPS.
void RegistraComun(const char* text, bool with_date = true);
inline void RegistraComun(const CDString& text, bool with_date = true) {
    RegistraComun(text.c_str(), with_date);
}
void RegistraGPS_c(const char* text, bool with_date = true);

// ---- The log run state (process-wide). ----
// Run tag: three characters from "0123456789ABCDEFGHIJKLMNOPQRSTUV", drawn by InitTrace.
DString Get_header_app();
void Set_header_app(const char* tag); // for tests and tools
extern const char* const TRACE_LINE;  // 133 "="
// Silences the normal lines and enables the test-mode lines.
extern std::atomic<bool> server_login_check_test_mode;

// ---- Log-shaping operations (every layer writes through these). ----
// "STEP2_" + run tag + two spaces + text; nothing while test mode is on.
// Prefix of alarm lines in the log.
extern const char* const HEADER_ERROR;

void CustomRegistraComun(const CDString& text, bool with_date = true);
// The same line, only while test mode is on.
void CustomRegistraComunTestMode(const CDString& text, bool with_date = true);
// [empty] separator, text, separator [empty].
void CustomRegistraComunHeader(const CDString& text, bool blank_lines = true);
void CustomRegistraComunHeaderAddText(const CDString& text, const CDString& suffix, bool blank_lines = true);
void CustomRegistraComunHeaderBegin(const CDString& text, bool blank_lines = true);
void CustomRegistraComunHeaderEnd(const CDString& text, bool blank_lines = true);
// empty, separator, text + extra, empty.
void CustomRegistraComunSeparator(const CDString& text, const CDString& extra = CDString());
void CustomRegistraSeparator();
void CustomRegistraSeparatorCompact();
void CustomRegistraLanguagesList();
void CustomRegistraLanguagesCodes();

// Start of the trace: resets the last-error record, draws the run tag, writes the beginning
// block and the language codes. Main thread, once at start-up, before workers start.
void InitTrace();

// "YYYYMMDDhhmm" of the build of this library.
DString BuildStamp();
// empty; "Version App=<v> . Build Number=<stamp> . Compiler Version=<compiler>"; empty; empty.
void ShowCompiler(const CDString& app_version, const CDString& build_stamp = BuildStamp());
