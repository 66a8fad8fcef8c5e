#include "foundation/Registra.h"
#include "foundation/Random.h"
#include "foundation/StringErr.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

const char* const HEADER_ERROR = "                    @@@@@@@@@@@@@@@@@@@@@@@  xxxxx ATENCION xxxx >>> ";

const char* const TRACE_LINE = "============================================================================="
                               "========================================================";
std::atomic<bool> server_login_check_test_mode{false};

namespace {

std::atomic<TRegistra*> registra_comun{nullptr};

// Process-wide log state. Never destroyed, so logs written from static destructors stay safe.
struct RegistraState {
    std::mutex lock;
    std::string data_folder;
    char header_app[4] = {0, 0, 0, 0};
};
RegistraState& State() {
    static auto* state = new RegistraState();
    return *state;
}

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

unsigned long long TicksMs() {
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
}

} // namespace

TRegistraGPS RegistraGPS("quillmap.log");
TRegistraNMEA RegistraNMEA("quillmap_nmea.txt");
TRegistraNMEA RegistraNMEAFix("quillmap_nmea_fix.txt");

namespace {
// The common log is RegistraGPS, whichever log was made first in another file.
const bool comun_claimed = (SetRegistraComun(&RegistraGPS), true);
} // namespace

// ---------------------------------------------------------------------------------------------

TRegistra::TRegistra(const char* file_name, bool no_header, bool option1, bool option2, bool rotation_off,
                     bool init_now)
    : nombre_(file_name), no_header_(no_header), rotation_(!rotation_off), option1_(option1),
      option2_(option2) {
    TRegistra* none = nullptr;
    registra_comun.compare_exchange_strong(none, this);
    if (init_now) Init();
}

TRegistra::~TRegistra() {
    TRegistra* self = this;
    registra_comun.compare_exchange_strong(self, nullptr);
}

void TRegistra::Init() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ticks_init_ = TicksMs();
    pid_ = static_cast<long>(getpid());
    init_ = true;
}

void TRegistra::SetFileName(const char* name) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    nombre_ = name;
    old_resuelto_ = false;
    nombre_old_.Libera();
}

DString TRegistra::GetFileName() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return nombre_;
}

DString TRegistra::GetOldFileName() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return nombre_old_;
}

void TRegistra::SetThreshold(long long bytes) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    umbral_ = bytes;
}

void TRegistra::SetClock(TRegistraClock clock) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    clock_ = std::move(clock);
}

bool TRegistra::ResolveName() {
    if (old_resuelto_) return true;
    if (nombre_.IsEmpty()) return false;
    if (nombre_.c_str()[0] != '/') {
        DString folder = Registra_GetDataFolder();
        if (folder.IsEmpty()) return false;
        if (folder.Ultimo_Caracter() != '/') folder += '/';
        nombre_ = folder + nombre_;
    }
    int slash = nombre_.strchr_inv('/');
    int dot = nombre_.strchr_inv('.');
    nombre_old_ = dot > slash ? nombre_.SubString(0, dot) : DString(nombre_);
    nombre_old_ += ".OLD";
    old_resuelto_ = true;
    return true;
}

void TRegistra::Reg(const char* text, bool with_date) {
    if (!init_) return;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!ResolveName()) return;
    WriteLine(text, with_date);
    LogRotateIfNeeded();
}

void TRegistra::WriteLine(const char* text, bool with_date) {
    std::string line = "\r\n";
    char buf[160];
    if (with_date) {
        std::tm tm = clock_ ? clock_() : LocalNow();
        std::snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d  ", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        line += buf;
    }
    if (!no_header_) {
        std::snprintf(buf, sizeof buf, "[pid:%ld, thid:%p, thspid:%ld] ", static_cast<long>(getpid()),
                      reinterpret_cast<void*>(pthread_self()), static_cast<long>(syscall(SYS_gettid)));
        line += buf;
    }
    if (text) {
        size_t n = std::strlen(text);
        if (n > 0 && text[n - 1] == '\n') n--;
        line.append(text, n);
    }
    fichero_ = std::fopen(nombre_.c_str(), "abe");
    if (!fichero_) return;
    std::fwrite(line.data(), 1, line.size(), fichero_);
    std::fflush(fichero_);
    std::fclose(fichero_);
    fichero_ = nullptr;
}

void TRegistra::LogRotateIfNeeded() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!rotation_ || !old_resuelto_) return;
    struct stat st {};
    if (::stat(nombre_.c_str(), &st) != 0) return;
    if (static_cast<long long>(st.st_size) > umbral_ - 3) LogRotate();
}

bool TRegistra::LogRotate() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!ResolveName()) return false;
    std::remove(nombre_old_.c_str());
    if (std::rename(nombre_.c_str(), nombre_old_.c_str()) != 0) {
        // The current log is kept and grows on; the next line tries again.
        if (!rotate_failed_) {
            rotate_failed_ = true;
            WriteLine("TRegistra::LogRotate . cannot rename the log to its .OLD name", true);
        }
        return false;
    }
    std::FILE* f = std::fopen(nombre_.c_str(), "wbe");
    if (!f) {
        // The log must never stop the application: the next line creates the file again.
        std::fprintf(stderr, "Cannnot open file REGISTRA to write: %s\n", nombre_.c_str());
        rotate_failed_ = true;
        return false;
    }
    std::fputc(' ', f);
    std::fclose(f);
    rotate_failed_ = false;
    return true;
}

TRegistra& TRegistra::operator<<(const char* text) {
    Reg(text, true);
    return *this;
}

TRegistra& TRegistra::operator<<(char c) {
    char buf[2] = {c, 0};
    Reg(buf, true);
    return *this;
}

TRegistra& TRegistra::operator<<(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", n);
    Reg(buf, true);
    return *this;
}

// ---------------------------------------------------------------------------------------------

void Registra_SetDataFolder(const char* folder) {
    std::lock_guard<std::mutex> hold(State().lock);
    State().data_folder = folder ? folder : "";
}

DString Registra_GetDataFolder() {
    std::lock_guard<std::mutex> hold(State().lock);
    return DString(State().data_folder.c_str());
}

void SetRegistraComun(TRegistra* log) {
    registra_comun.store(log);
}
TRegistra* GetRegistraComun() {
    return registra_comun.load();
}

void RegistraComun(const char* text, bool with_date) {
    if (TRegistra* r = registra_comun.load()) r->Reg(text, with_date);
}

void RegistraGPS_c(const char* text, bool with_date) {
    RegistraGPS.Reg(text, with_date);
}

DString Get_header_app() {
    std::lock_guard<std::mutex> hold(State().lock);
    return DString(State().header_app);
}

void Set_header_app(const char* tag) {
    std::lock_guard<std::mutex> hold(State().lock);
    std::snprintf(State().header_app, sizeof State().header_app, "%s", tag ? tag : "");
}

// ---------------------------------------------------------------------------------------------

namespace {
void WriteStepLine(const CDString& text, bool with_date) {
    DString line("STEP2_");
    line << Get_header_app() << "  " << text;
    RegistraComun(line.c_str(), with_date);
}
} // namespace

void CustomRegistraComun(const CDString& text, bool with_date) {
    if (server_login_check_test_mode) return;
    WriteStepLine(text, with_date);
}

void CustomRegistraComunTestMode(const CDString& text, bool with_date) {
    if (!server_login_check_test_mode) return;
    WriteStepLine(text, with_date);
}

void CustomRegistraComunHeader(const CDString& text, bool blank_lines) {
    if (blank_lines) CustomRegistraComun("");
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraComun(text);
    CustomRegistraComun(TRACE_LINE);
    if (blank_lines) CustomRegistraComun("");
}

void CustomRegistraComunHeaderAddText(const CDString& text, const CDString& suffix, bool blank_lines) {
    CustomRegistraComunHeader(text + suffix, blank_lines);
}

void CustomRegistraComunHeaderBegin(const CDString& text, bool blank_lines) {
    CustomRegistraComunHeader(text + " Begin", blank_lines);
}

void CustomRegistraComunHeaderEnd(const CDString& text, bool blank_lines) {
    CustomRegistraComunHeader(text + " End", blank_lines);
}

void CustomRegistraComunSeparator(const CDString& text, const CDString& extra) {
    CustomRegistraComun("");
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraComun(extra.IsEmpty() ? DString(text) : text + extra);
    CustomRegistraComun("");
}

void CustomRegistraSeparator() {
    CustomRegistraComun("");
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraComun("");
}

void CustomRegistraSeparatorCompact() {
    CustomRegistraComun(TRACE_LINE);
}

void CustomRegistraLanguagesList() {
    CustomRegistraComun("");
    CustomRegistraComun("languages list=178=ES 58=EN 80=FR 89=GE 44=CA 100=HE 110=IT 56=NL 151=PL 152=PT");
}

void CustomRegistraLanguagesCodes() {
    static const struct {
        const char* name;
        int code;
    } languages[] = {{"wxLANGUAGE_ENGLISH=", 58}, {"wxLANGUAGE_SPANISH=", 178},
                     {"wxLANGUAGE_FRENCH=", 80},  {"wxLANGUAGE_GERMAN=", 89},
                     {"wxLANGUAGE_CATALAN=", 44}, {"wxLANGUAGE_POLISH=", 151},
                     {"wxLANGUAGE_HEBREW=", 100}, {"wxLANGUAGE_ITALIAN=", 110},
                     {"wxLANGUAGE_DUTCH=", 56},   {"wxLANGUAGE_PORTUGUESE=", 152}};
    CustomRegistraComun("");
    CustomRegistraComun(TRACE_LINE);
    for (const auto& l : languages) {
        DString line(l.name);
        line << l.code;
        CustomRegistraComun(line);
    }
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraComun("");
}

void InitTrace() {
    ResetErrorFlags();
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
    char tag[4];
    for (int i = 0; i < 3; i++)
        tag[i] = alphabet[Random_Int(0, 31)];
    tag[3] = 0;
    Set_header_app(tag);
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraComun("------------ BEGINNING OF APP ----------------- ");
    CustomRegistraComun(DString("------------ STEP") << "2"
                                                     << " . "
                                                     << "Downloader2");
    CustomRegistraComun(TRACE_LINE);
    CustomRegistraLanguagesCodes();
}

DString BuildStamp() {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* date = __DATE__; // "Mmm dd yyyy"
    const char* time = __TIME__; // "hh:mm:ss"
    int month = 1;
    for (int m = 0; m < 12; m++)
        if (std::strncmp(date, months + 3 * m, 3) == 0) month = m + 1;
    int day = (date[4] == ' ' ? 0 : date[4] - '0') * 10 + (date[5] - '0');
    DString stamp;
    stamp.Dsprintf("%.4s%02d%02d%.2s%.2s", date + 7, month, day, time, time + 3);
    return stamp;
}

void ShowCompiler(const CDString& app_version, const CDString& build_stamp) {
    CustomRegistraComun("");
    DString line("Version App=");
    line << app_version << " . Build Number=" << build_stamp << " . Compiler Version=" << __VERSION__;
    CustomRegistraComun(line);
    CustomRegistraComun("");
    CustomRegistraComun("");
}
