#include "foundation/Threads.h"

#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

class ThreadsTest : public ::testing::Test {
protected:
    TFakeClockITV clock_;
    TScopedClockITV installed_{&clock_};
};

// A worker whose body waits for the test to let it go.
class Gated : public TThreadITV {
public:
    Gated() : TThreadITV("Gated") {}
    ~Gated() override {
        release.SetEvent();
        Join();
    }
    TEventITV entered, release;
    std::atomic<int> nice_value{0};

protected:
    void Run() override {
        errno = 0;
        nice_value = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
        entered.SetEvent();
        release.WaitForSingleObject(TEventITV::kInfinite);
    }
};

class Thrower : public TThreadITV {
public:
    Thrower() : TThreadITV("Thrower") {}
    ~Thrower() override { Join(); }

protected:
    void Run() override { throw 42; }
};

TEST_F(ThreadsTest, StatusFollowsTheBodyAndStartPausesOnce) {
    Gated w;
    EXPECT_EQ(w.GetStatus(), TThreadITV::eCreated);
    EXPECT_EQ(std::string(w.GetName().c_str()), "Gated");
    ASSERT_TRUE(w.Start());
    EXPECT_EQ(clock_.Sleeps(), std::vector<int>{100});
    EXPECT_EQ(w.entered.WaitForSingleObject(TEventITV::kInfinite), TEventITV::kSignaled);
    EXPECT_EQ(w.GetStatus(), TThreadITV::eRunning);
    EXPECT_FALSE(w.Start()); // a worker runs once
    w.release.SetEvent();
    w.Join();
    EXPECT_EQ(w.GetStatus(), TThreadITV::eEnded);
}

TEST_F(ThreadsTest, WaitForExitPollsAtMostMsOver50Times) {
    Gated w;
    ASSERT_TRUE(w.Start());
    w.entered.WaitForSingleObject(TEventITV::kInfinite);
    int before = clock_.SleepCount();
    w.WaitForExit(0);
    EXPECT_EQ(clock_.SleepCount(), before);
    w.WaitForExit(120);
    std::vector<int> sleeps = clock_.Sleeps();
    EXPECT_EQ(std::vector<int>(sleeps.begin() + before, sleeps.end()), (std::vector<int>{50, 50}));
    EXPECT_EQ(w.GetStatus(), TThreadITV::eRunning);
}

TEST_F(ThreadsTest, WaitForExitStopsOnceTheBodyHasEnded) {
    Gated w;
    ASSERT_TRUE(w.Start());
    w.release.SetEvent();
    w.WaitForExit(-1);
    int s = w.GetStatus();
    EXPECT_TRUE(s == TThreadITV::eEnded || s == TThreadITV::eBodyReturned) << s;
}

TEST_F(ThreadsTest, ThrowingBodyEndsAtStatus4AndDeletesPromptly) {
    auto* w = new Thrower;
    ASSERT_TRUE(w->Start());
    w->WaitForExit(-1);
    w->Join();
    EXPECT_EQ(w->GetStatus(), TThreadITV::eEnded);
    delete w;
}

TEST_F(ThreadsTest, BelowNormalPriorityRunsTwoNiceStepsLower) {
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    Gated low;
    low.SetPriority(2);
    ASSERT_TRUE(low.Start());
    low.entered.WaitForSingleObject(TEventITV::kInfinite);
    EXPECT_EQ(low.nice_value.load(), std::min(base + 2, 19));
    Gated normal;
    ASSERT_TRUE(normal.Start());
    normal.entered.WaitForSingleObject(TEventITV::kInfinite);
    EXPECT_EQ(normal.nice_value.load(), base);
}

TEST_F(ThreadsTest, AThreadThatCannotStartIsReportedAndLogged) {
    dltest::TempDir dir;
    std::string log_path = dir.Path("common.log");
    TRegistra log(log_path.c_str());
    TRegistra* previous = GetRegistraComun();
    SetRegistraComun(&log);
    TThreadITV::SetStartFailureForTests(EAGAIN);
    {
        Gated w;
        EXPECT_FALSE(w.Start());
        EXPECT_EQ(w.StartError(), EAGAIN);
        EXPECT_EQ(w.GetStatus(), TThreadITV::eStarting);
        EXPECT_FALSE(w.Started());
        int before = clock_.SleepCount();
        w.WaitForExit(-1); // nothing to wait for: must not poll for ever
        EXPECT_EQ(clock_.SleepCount(), before);
    }
    TThreadITV::SetStartFailureForTests(0);
    SetRegistraComun(previous);
    std::string content = dir.Read("common.log");
    std::ostringstream want;
    want << "pthread_create returned " << EAGAIN;
    EXPECT_NE(content.find(want.str()), std::string::npos) << content;
}

TEST(ThreadsMain, MainThreadIsRecognised) {
    EXPECT_TRUE(TThreadITV::InMainThreadNow());
    EXPECT_EQ(TThreadITV::GetCurrentThreadId(), static_cast<uint32_t>(getpid()));
    bool in_main = true;
    uint32_t id = 0;
    std::thread t([&] {
        in_main = TThreadITV::InMainThreadNow();
        id = TThreadITV::GetCurrentThreadId();
    });
    t.join();
    EXPECT_FALSE(in_main);
    EXPECT_NE(id, TThreadITV::GetCurrentThreadId());
}

TEST_F(ThreadsTest, RecursiveLockIsFreeAfterAsManyReleasesAsTakes) {
    TCriticalSectionITV cs;
    auto blocked_elsewhere = [&] {
        bool b = false;
        std::thread t([&] { b = cs.IsBlocked(); });
        t.join();
        return b;
    };
    cs.Entra();
    EXPECT_TRUE(cs.TryEntra());
    EXPECT_FALSE(cs.IsBlocked()); // the holder itself is not blocked
    EXPECT_TRUE(blocked_elsewhere());
    cs.Sale();
    EXPECT_TRUE(blocked_elsewhere());
    cs.Sale();
    EXPECT_FALSE(blocked_elsewhere());
}

TEST_F(ThreadsTest, HolderTakesReleasesAndToleratesNoLock) {
    TCriticalSectionITV cs;
    {
        TCriticalSectionITVEntra h(cs);
        EXPECT_TRUE(h.Held());
        EXPECT_TRUE(h.Entra()); // already held
        h.Sale();
        EXPECT_FALSE(h.Held());
        EXPECT_TRUE(h.TryEntra());
    }
    EXPECT_FALSE(cs.IsBlocked());
    TCriticalSectionITVEntra later(&cs, false);
    EXPECT_FALSE(later.Held());
    TCriticalSectionITVEntra none(nullptr);
    EXPECT_FALSE(none.Held());
    EXPECT_FALSE(none.Entra());
    EXPECT_TRUE(none.TryEntra());
}

// Holds a lock on another thread until told to let go.
struct LockHolder {
    explicit LockHolder(TCriticalSectionITV& cs)
        : t([this, &cs] {
              cs.Entra();
              taken.SetEvent();
              release.WaitForSingleObject(TEventITV::kInfinite);
              cs.Sale();
              released.SetEvent();
          }) {
        taken.WaitForSingleObject(TEventITV::kInfinite);
    }
    ~LockHolder() {
        release.SetEvent();
        t.join();
    }
    TEventITV taken, release, released;
    std::thread t;
};

TEST_F(ThreadsTest, MonitorAwareLockSleepsBetweenTriesAndGivesUpOnCancel) {
    TCriticalSectionITV cs;
    LockHolder holder(cs);
    TMonitorProc monitor;
    std::vector<std::string> text_at_sleep;
    const int kCancelAt = 150;
    clock_.OnSleep([&](int ms) {
        text_at_sleep.push_back(monitor.texto.Get().c_str());
        if (static_cast<int>(text_at_sleep.size()) == kCancelAt) monitor.Cancelar();
    });
    TCriticalSectionITVEntra h(&cs, true, &monitor);
    clock_.OnSleep(nullptr);
    EXPECT_FALSE(h.Held());
    ASSERT_EQ(static_cast<int>(text_at_sleep.size()), kCancelAt);
    for (int ms : clock_.Sleeps())
        EXPECT_EQ(ms, TCriticalSectionITVEntra::kRetryMs);
    EXPECT_EQ(text_at_sleep[100], "");                            // after the 101st failed try
    EXPECT_EQ(text_at_sleep[101], "Blocked at CriticalSection."); // after the 102nd
    EXPECT_EQ(std::string(monitor.texto.Get().c_str()), "Blocked at CriticalSection.");
}

TEST_F(ThreadsTest, MonitorAwareLockTakesTheLockOnceItIsFree) {
    TCriticalSectionITV cs;
    TMonitorProc monitor;
    auto holder = std::make_unique<LockHolder>(cs);
    int sleeps = 0;
    clock_.OnSleep([&](int) {
        if (++sleeps == 3) {
            holder->release.SetEvent();
            holder->released.WaitForSingleObject(TEventITV::kInfinite);
        }
    });
    TCriticalSectionITVEntra h(&cs, true, &monitor);
    clock_.OnSleep(nullptr);
    EXPECT_TRUE(h.Held());
    EXPECT_EQ(sleeps, 3); // the first try after the release succeeds
    EXPECT_TRUE(monitor.texto.IsEmpty());
    h.Sale();
    holder.reset();
}

TEST_F(ThreadsTest, EventIsAutoReset) {
    TEventITV e;
    e.SetEvent();
    EXPECT_EQ(e.WaitForSingleObject(0), TEventITV::kSignaled);
    int64_t t0 = clock_.MonotonicMs();
    EXPECT_EQ(e.WaitForSingleObject(10), TEventITV::kTimeout);
    EXPECT_EQ(clock_.MonotonicMs() - t0, 10);
    e.SetEvent();
    e.ResetEvent();
    EXPECT_EQ(e.WaitForSingleObject(0), TEventITV::kTimeout);
}

TEST_F(ThreadsTest, EventWakesAWaiterOnAnotherThread) {
    TEventITV go, back;
    std::thread t([&] {
        EXPECT_EQ(go.WaitForSingleObject(TEventITV::kInfinite), TEventITV::kSignaled);
        back.SetEvent();
    });
    go.SetEvent();
    EXPECT_EQ(back.WaitForSingleObject(TEventITV::kInfinite), TEventITV::kSignaled);
    t.join();
}

TEST(Ticks, FirstReadGivesTheMillisecondsOfTheCurrentSecond) {
    TFakeClockITV clock(7000123);
    TScopedClockITV installed(&clock);
    EXPECT_EQ(GetTickCount(), 123u);
    clock.Advance(1500);
    EXPECT_EQ(GetTickCount(), 1623u);
    EXPECT_EQ(GetTickCountAdv(), 1623u);
    EXPECT_DOUBLE_EQ(GetTickCountAdvD(), 1623.0);
    EXPECT_EQ(GetTickCount64(), 1623);
}

TEST(Ticks, DifferencesAcrossTheWrapAreRightInUnsigned32Bits) {
    TFakeClockITV clock(9000000);
    TScopedClockITV installed(&clock);
    EXPECT_EQ(GetTickCount(), 0u);
    clock.Advance((int64_t{1} << 32) - 5);
    uint32_t before = GetTickCount();
    EXPECT_EQ(before, 0xFFFFFFFBu);
    clock.Advance(10);
    uint32_t after = GetTickCount();
    EXPECT_EQ(after, 5u);
    EXPECT_EQ(static_cast<uint32_t>(after - before), 10u);
    EXPECT_EQ(GetTickCount64(), (int64_t{1} << 32) + 5); // the 64-bit count does not wrap
}

TEST(Ticks, SleepGoesThroughTheInstalledClock) {
    TFakeClockITV clock;
    TScopedClockITV installed(&clock);
    Sleep(30);
    Sleep(0); // only yields
    Sleep(-5);
    EXPECT_EQ(clock.Sleeps(), std::vector<int>{30});
}

TEST(Ticks, RealClockIsTheDefault) {
    TFakeClockITV clock;
    TClockITV* before = SetClockITV(&clock);
    EXPECT_EQ(&ClockITV(), &clock);
    EXPECT_EQ(SetClockITV(before), &clock);
    EXPECT_EQ(&ClockITV(), before);
    // The real wall clock is after 2020.
    EXPECT_GT(ClockITV().UnixMicros(), 1577836800LL * 1000000);
}

} // namespace
