#include "foundation/Threads.h"

#include "foundation/Monitor.h"
#include "foundation/Registra.h"

#include <chrono>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Clock

namespace {

class TRealClockITV : public TClockITV {
public:
    int64_t MonotonicMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t UnixMicros() override {
        using namespace std::chrono;
        return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    }
    void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, int64_t ms,
                 const std::function<bool()>& ready) override {
        return cv.wait_for(lk, std::chrono::milliseconds(ms), ready);
    }
};

TClockITV* RealClock() {
    static TClockITV* real = new TRealClockITV; // never destroyed: used until the process ends
    return real;
}

std::atomic<TClockITV*> g_clock{nullptr};

std::atomic<int> g_start_failure_for_tests{0};

} // namespace

int64_t TClockITV::TickOrigin(int64_t now_ms) {
    int64_t origin = tick_origin_.load(std::memory_order_acquire);
    if (origin != INT64_MIN) return origin;
    int64_t second_start = now_ms - (now_ms % 1000 + 1000) % 1000;
    tick_origin_.compare_exchange_strong(origin, second_start, std::memory_order_acq_rel);
    return tick_origin_.load(std::memory_order_acquire);
}

TClockITV& ClockITV() {
    TClockITV* c = g_clock.load(std::memory_order_acquire);
    return c ? *c : *RealClock();
}

TClockITV* SetClockITV(TClockITV* clock) {
    TClockITV* previous = g_clock.exchange(clock, std::memory_order_acq_rel);
    return previous ? previous : RealClock();
}

TFakeClockITV::TFakeClockITV(int64_t start_ms, int64_t unix_micros)
    : now_ms_(start_ms), unix_us_(unix_micros) {}

void TFakeClockITV::Advance(int64_t ms) {
    now_ms_.fetch_add(ms);
    unix_us_.fetch_add(ms * 1000);
}

void TFakeClockITV::SleepMs(int ms) {
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> g(m_);
        sleeps_.push_back(ms);
        hook = on_sleep_;
    }
    Advance(ms);
    if (hook) hook(ms);
    std::this_thread::yield();
}

bool TFakeClockITV::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, int64_t ms,
                            const std::function<bool()>& ready) {
    if (ready()) return true;
    Advance(ms);
    return ready();
}

void TFakeClockITV::OnSleep(std::function<void(int)> hook) {
    std::lock_guard<std::mutex> g(m_);
    on_sleep_ = std::move(hook);
}

std::vector<int> TFakeClockITV::Sleeps() const {
    std::lock_guard<std::mutex> g(m_);
    return sleeps_;
}

int TFakeClockITV::SleepCount() const {
    std::lock_guard<std::mutex> g(m_);
    return static_cast<int>(sleeps_.size());
}

// ---------------------------------------------------------------------------------------------
// Sleep and ticks

void Sleep(int ms) {
    if (ms > 0)
        ClockITV().SleepMs(ms);
    else
        std::this_thread::yield();
}

int64_t GetTickCount64() {
    TClockITV& c = ClockITV();
    int64_t now = c.MonotonicMs();
    return now - c.TickOrigin(now);
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(GetTickCount64());
}
uint32_t GetTickCountAdv() {
    return GetTickCount();
}
double GetTickCountAdvD() {
    return static_cast<double>(GetTickCount());
}

// ---------------------------------------------------------------------------------------------
// TThreadITV

TThreadITV::TThreadITV(const char* name) : name_(name) {}

TThreadITV::~TThreadITV() {
    int s = GetStatus();
    if (s == eStarting || s == eRunning) ::Sleep(1);
    if (GetStatus() == eBodyReturned) WaitForExit(-1);
    Join();
}

void TThreadITV::SetStartFailureForTests(int error_number) {
    g_start_failure_for_tests.store(error_number);
}

bool TThreadITV::Start() {
    // A worker runs its body once; a second Start would replace a live thread handle.
    if (GetStatus() != eCreated || Started()) return false;
    status_.store(eStarting, std::memory_order_release);
    int error = g_start_failure_for_tests.load();
    if (error == 0) {
        try {
            std::lock_guard<std::mutex> g(join_mutex_);
            thread_ = std::thread(&TThreadITV::Entry, this);
            started_.store(true, std::memory_order_release);
        } catch (const std::system_error& e) {
            error = e.code().value() ? e.code().value() : EAGAIN;
        }
    }
    if (error != 0) {
        start_error_ = error;
        DString line;
        line.Dsprintf("pthread_create returned %d\n", error);
        RegistraComun(line);
    }
    ::Sleep(100);
    return error == 0;
}

void TThreadITV::Entry(TThreadITV* self) {
    if (self->priority_ != kNormalPriority) {
        // Linux schedules threads by their own nice value: 2 below the default priority.
        pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
        errno = 0;
        int nice_now = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
        if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_now + 2);
    }
    self->status_.store(eRunning, std::memory_order_release);
    try {
        self->Run();
    } catch (...) {
        // A worker that must report its failures catches them itself.
    }
    self->status_.store(eBodyReturned, std::memory_order_release);
    self->status_.store(eEnded, std::memory_order_release);
}

void TThreadITV::WaitForExit(int ms, int) {
    int s = GetStatus();
    if (s == eCreated || s == eEnded || !Started()) return;
    if (s == eBodyReturned) {
        ::Sleep(100);
        return;
    }
    long long tries = ms / 50;
    for (long long i = 0; ms < 0 || i < tries; i++) {
        ::Sleep(50);
        if (GetStatus() == eEnded) break;
    }
}

void TThreadITV::Join() {
    std::lock_guard<std::mutex> g(join_mutex_);
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // the worker deletes itself: nothing to wait for
        return;
    }
    thread_.join();
}

bool TThreadITV::InMainThreadNow() {
    return syscall(SYS_gettid) == getpid();
}

uint32_t TThreadITV::GetCurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// ---------------------------------------------------------------------------------------------
// Locks and events

bool TCriticalSectionITV::IsBlocked() {
    if (!m_.try_lock()) return true;
    m_.unlock();
    return false;
}

TCriticalSectionITVEntra::TCriticalSectionITVEntra(TCriticalSectionITV* lock, bool entra_ya,
                                                   TMonitorProc* monitor)
    : lock_(lock) {
    if (entra_ya) Entra(monitor);
}

bool TCriticalSectionITVEntra::Entra(TMonitorProc* monitor) {
    if (held_) return true;
    if (!lock_) return false;
    if (!monitor) {
        lock_->Entra();
        held_ = true;
        return true;
    }
    for (int failed = 0;;) {
        if (lock_->TryEntra()) {
            held_ = true;
            return true;
        }
        if (++failed == kTriesBeforeBlockedText + 1) monitor->texto = "Blocked at CriticalSection.";
        monitor->Sleep(kRetryMs, 0, false);
        // The monitor's hook does not wait: pause here so the holder gets the processor.
        ::Sleep(kRetryMs);
        if (monitor->HayStop()) return false;
    }
}

bool TCriticalSectionITVEntra::TryEntra() {
    if (held_) return true;
    if (!lock_) return true;
    held_ = lock_->TryEntra();
    return held_;
}

void TCriticalSectionITVEntra::Sale() {
    if (held_ && lock_) lock_->Sale();
    held_ = false;
}

void TEventITV::SetEvent() {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
    cv_.notify_one();
}

void TEventITV::ResetEvent() {
    std::lock_guard<std::mutex> g(m_);
    set_ = false;
}

uint32_t TEventITV::WaitForSingleObject(uint32_t ms) {
    std::unique_lock<std::mutex> lk(m_);
    bool got;
    if (set_)
        got = true;
    else if (ms == kInfinite) {
        cv_.wait(lk, [this] { return set_; });
        got = true;
    } else {
        got = ClockITV().WaitFor(cv_, lk, ms, [this] { return set_; });
    }
    set_ = false;
    return got ? kSignaled : kTimeout;
}
