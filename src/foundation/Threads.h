// The program's threading kit: worker threads with a polled status, a recursive lock with a
// scoped holder that gives up when its operation is cancelled, an auto-reset event, a millisecond
// sleep and tick counter, and the main-thread test.
//
// Every wait and every clock reading goes through the process-wide clock (ClockITV), so tests
// install a TFakeClockITV and run without real sleeps.
#pragma once

#include "foundation/DString.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TMonitorProc;

// ---------------------------------------------------------------------------------------------
// Clock and sleeper

// Source of time and of waiting for the whole process. Implementations are thread-safe.
class TClockITV {
public:
    virtual ~TClockITV() = default;
    // Steady milliseconds from an arbitrary origin; never goes back.
    virtual int64_t MonotonicMs() = 0;
    // Wall clock: microseconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t UnixMicros() = 0;
    // Suspends the calling thread for ms milliseconds (ms > 0).
    virtual void SleepMs(int ms) = 0;
    // With lk held: waits on cv until ready() holds or ms (>= 0) milliseconds have passed.
    // Returns ready().
    virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, int64_t ms,
                         const std::function<bool()>& ready) = 0;

    // Origin of the tick counter of this clock: the start of the second of the first tick read.
    int64_t TickOrigin(int64_t now_ms);

private:
    std::atomic<int64_t> tick_origin_{INT64_MIN};
};

// The installed clock (the real one unless a test installed another).
TClockITV& ClockITV();
// Installs clock (null: the real clock) and returns the one installed before. The caller keeps
// ownership and keeps the clock alive while installed.
TClockITV* SetClockITV(TClockITV* clock);

// Clock for tests. Time moves only when the test calls Advance, when a thread sleeps (the sleep
// returns at once after moving time forward by its length) or when a finite wait finds nothing
// ready (time jumps to its deadline). Sleeps are recorded.
class TFakeClockITV : public TClockITV {
public:
    explicit TFakeClockITV(int64_t start_ms = 5000000, int64_t unix_micros = 1600000000000000LL);

    int64_t MonotonicMs() override { return now_ms_.load(); }
    int64_t UnixMicros() override { return unix_us_.load(); }
    void SleepMs(int ms) override;
    bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, int64_t ms,
                 const std::function<bool()>& ready) override;

    void Advance(int64_t ms);
    void SetUnixMicros(int64_t us) { unix_us_.store(us); }
    // Called on the sleeping thread after each sleep has moved the time (may be empty).
    void OnSleep(std::function<void(int ms)> hook);
    std::vector<int> Sleeps() const;
    int SleepCount() const;

private:
    std::atomic<int64_t> now_ms_;
    std::atomic<int64_t> unix_us_;
    mutable std::mutex m_;
    std::vector<int> sleeps_;
    std::function<void(int)> on_sleep_;
};

// Installs a clock for the life of this object and restores the previous one.
class TScopedClockITV {
public:
    explicit TScopedClockITV(TClockITV* clock) : previous_(SetClockITV(clock)) {}
    ~TScopedClockITV() { SetClockITV(previous_); }
    TScopedClockITV(const TScopedClockITV&) = delete;
    TScopedClockITV& operator=(const TScopedClockITV&) = delete;

private:
    TClockITV* previous_;
};

// ---------------------------------------------------------------------------------------------
// Sleep and ticks

// Suspends the calling thread for ms milliseconds (through the installed clock); ms <= 0 only
// yields the processor.
void Sleep(int ms);

// Milliseconds since the start of the second in which the counter was first read; wraps after
// about 49.7 days, so differences are taken in unsigned 32-bit arithmetic.
uint32_t GetTickCount();
uint32_t GetTickCountAdv();
double GetTickCountAdvD();
// The same count without the 32-bit wrap.
int64_t GetTickCount64();

// ---------------------------------------------------------------------------------------------
// Worker threads

// Base of every worker: Start runs Run() once on a new thread; other threads follow the status.
// Deleting the object blocks until the body has returned. A class whose Run() uses its own
// members must call Join() in its own destructor, before those members are destroyed. A body
// never deletes its own worker object.
class TThreadITV {
public:
    enum Status : int { eCreated = 0, eStarting = 1, eRunning = 2, eBodyReturned = 3, eEnded = 4 };
    enum : int { kNormalPriority = 3 };

    explicit TThreadITV(const char* name);
    virtual ~TThreadITV();
    TThreadITV(const TThreadITV&) = delete;
    TThreadITV& operator=(const TThreadITV&) = delete;

    // Takes effect at Start: 3 is normal, anything else runs the thread 2 below the default.
    void SetPriority(int priority) { priority_ = priority; }
    int GetPriority() const { return priority_; }

    // Creates the thread and pauses 100 ms. False when the thread could not be created (the
    // error number is logged as "pthread_create returned %d" and kept in StartError()) or when
    // the object was started before.
    bool Start();
    // Waits for the body: at once for a worker that was never started or has ended; 100 ms once
    // the body has returned; otherwise polls every 50 ms, at most ms / 50 times (ms < 0: until
    // the end).
    void WaitForExit(int ms, int unused = 0);
    // Blocks until the body has returned. Does nothing without a thread, and does not wait when
    // called from the body itself.
    void Join();

    int GetStatus() const { return status_.load(std::memory_order_acquire); }
    bool Started() const { return started_.load(std::memory_order_acquire); }
    int StartError() const { return start_error_; }
    const DString& GetName() const { return name_; }

    static bool InMainThreadNow();
    // The kernel's id of the calling thread.
    static uint32_t GetCurrentThreadId();

    // Tests only: while error_number is nonzero, Start fails as if thread creation had returned it.
    static void SetStartFailureForTests(int error_number);

protected:
    virtual void Run() = 0;
    // Hook for workers that want one; the base never calls it.
    virtual void Finally() {}

private:
    static void Entry(TThreadITV* self);

    DString name_;
    std::atomic<int> status_{eCreated};
    std::atomic<bool> started_{false};
    int priority_ = kNormalPriority;
    int start_error_ = 0;
    std::mutex join_mutex_;
    std::thread thread_;
};

// ---------------------------------------------------------------------------------------------
// Locks and events

// Recursive lock: the thread that holds it may take it again; free after as many Sale as Entra.
class TCriticalSectionITV {
public:
    TCriticalSectionITV() = default;
    TCriticalSectionITV(const TCriticalSectionITV&) = delete;
    TCriticalSectionITV& operator=(const TCriticalSectionITV&) = delete;

    void Entra() { m_.lock(); }
    bool TryEntra() { return m_.try_lock(); }
    void Sale() { m_.unlock(); }
    // True when another thread holds the lock (a momentary view).
    bool IsBlocked();

private:
    std::recursive_mutex m_;
};

// Scoped holder of a TCriticalSectionITV (which may be null). With a monitor, taking the lock
// gives up when the monitor's operation is cancelled, and the monitor's text says
// "Blocked at CriticalSection." after 101 failed tries; tries are kRetryMs apart.
class TCriticalSectionITVEntra {
public:
    enum : int { kRetryMs = 100, kTriesBeforeBlockedText = 101 };

    explicit TCriticalSectionITVEntra(TCriticalSectionITV* lock, bool entra_ya = true,
                                      TMonitorProc* monitor = nullptr);
    explicit TCriticalSectionITVEntra(TCriticalSectionITV& lock, bool entra_ya = true,
                                      TMonitorProc* monitor = nullptr)
        : TCriticalSectionITVEntra(&lock, entra_ya, monitor) {}
    ~TCriticalSectionITVEntra() { Sale(); }
    TCriticalSectionITVEntra(const TCriticalSectionITVEntra&) = delete;
    TCriticalSectionITVEntra& operator=(const TCriticalSectionITVEntra&) = delete;

    // True when the lock is held afterwards; false without a lock or when cancelled.
    bool Entra(TMonitorProc* monitor = nullptr);
    // Non-blocking take; true when held afterwards (always true without a lock).
    bool TryEntra();
    void Sale();
    bool Held() const { return held_; }

private:
    bool held_ = false;
    TCriticalSectionITV* lock_;
};

// Auto-reset event: SetEvent releases one wait, and every wait clears the event on return.
class TEventITV {
public:
    enum : uint32_t { kSignaled = 0, kTimeout = 258, kInfinite = 0xFFFFFFFFu };

    TEventITV() = default;
    TEventITV(const TEventITV&) = delete;
    TEventITV& operator=(const TEventITV&) = delete;

    void SetEvent();
    void ResetEvent();
    // kSignaled when the event was or became set, kTimeout when ms passed first (kInfinite: no
    // limit). The event is clear on return.
    uint32_t WaitForSingleObject(uint32_t ms);

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};
