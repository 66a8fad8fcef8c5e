#include "foundation/Monitor.h"
#include "foundation/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string S(const DString& d) {
    return d.c_str();
}

TEST(Monitor, FreshMonitorShowsNothing) {
    TMonitorProc m;
    EXPECT_EQ(m.npasos.load(), -1);
    EXPECT_EQ(m.total.load(), 10);
    EXPECT_FALSE(m.stop.load());
    EXPECT_FALSE(m.fin_.load());
    EXPECT_TRUE(m.VersionFuncCancel());
    EXPECT_EQ(m.GetParent(), nullptr);
    EXPECT_EQ(m.GetChild(), nullptr);
    EXPECT_FLOAT_EQ(m.Porcentaje(), 0.0f);
    EXPECT_EQ(S(m.Texto_Proceso(true, 1)), "");
}

TEST(Monitor, PercentageIsClampedAndGuardsAgainstEmptyTotals) {
    struct Case {
        int64_t pos, total;
        float expected;
    } cases[] = {
        {5, 0, 0},   {5, -3, 0},    {-1, 10, 0},   {0, 10, 0},
        {5, 10, 50}, {10, 10, 100}, {12, 10, 100}, {1, 3, 100.0f / 3},
    };
    for (const Case& c : cases) {
        TMonitorProc m;
        m.total = c.total;
        m.npasos = c.pos;
        EXPECT_NEAR(m.Porcentaje(), c.expected, 1e-3) << c.pos << "/" << c.total;
    }
}

TEST(Monitor, IncreRaisesTheTotalUnlessAskedToKeepIt) {
    TMonitorProc a;
    a.Start(10);
    a.iSetnpasos(8);
    EXPECT_TRUE(a.Incre(5, false));
    EXPECT_EQ(a.npasos.load(), 13);
    EXPECT_EQ(a.total.load(), 13);

    TMonitorProc b;
    b.Start(10);
    b.iSetnpasos(8);
    EXPECT_TRUE(b.Incre(5, true));
    EXPECT_EQ(b.total.load(), 10);
    EXPECT_FLOAT_EQ(b.Porcentaje(), 100.0f);
}

TEST(Monitor, ChildShareCountsInParentAndFoldsInOnDestruction) {
    TMonitorProc parent;
    parent.Start(2000);
    {
        TMonitorProcHijo child(&parent, 1000);
        EXPECT_EQ(parent.GetChild(), &child);
        EXPECT_EQ(child.GetParent(), &parent);
        child.Start(10);
        child.Incre(5);
        EXPECT_NEAR(parent.Porcentaje(), 25.0f, 1e-4);
    }
    EXPECT_EQ(parent.GetChild(), nullptr);
    EXPECT_EQ(parent.npasos.load(), 1000);
    EXPECT_NEAR(parent.Porcentaje(), 50.0f, 1e-4);
}

TEST(Monitor, CancelReachesEveryMonitorBelowAndRunsTheirHooks) {
    TMonitorProc root;
    TMonitorProcHijo child(&root, 1);
    TMonitorProcHijo grandchild(&child, 1);
    std::vector<void*> calls;
    static std::vector<void*>* sink;
    sink = &calls;
    auto hook = [](void* ctx) { sink->push_back(ctx); };
    root.SetFuncCancel(hook, &root);
    grandchild.SetFuncCancel(hook, &grandchild);

    root.Cancelar();
    EXPECT_TRUE(root.stop.load());
    EXPECT_TRUE(child.stop.load());
    EXPECT_TRUE(grandchild.stop.load());
    EXPECT_FALSE(grandchild.Incre(1));
    EXPECT_EQ(calls, (std::vector<void*>{&root, &grandchild}));
}

TEST(Monitor, StopOnAChildReachesTheRootOnlyWhenTheChildEnds) {
    TMonitorProc root;
    {
        TMonitorProcHijo child(&root, 1);
        child.Cancelar();
        EXPECT_TRUE(child.HayStop());
        EXPECT_FALSE(root.HayStop());
    }
    EXPECT_TRUE(root.HayStop());
}

TEST(Monitor, EndingChildNeverClearsACancel) {
    TMonitorProc root;
    TMonitorProcHijo child(&root, 1);
    {
        TMonitorProcHijo grandchild(&child, 1);
        // The request arrives on the middle monitor only, after the grandchild was made.
        child.stop = true;
        EXPECT_FALSE(grandchild.stop.load());
        EXPECT_TRUE(grandchild.HayStop());
    }
    EXPECT_TRUE(child.stop.load());
    EXPECT_FALSE(child.Incre(1));
}

TEST(Monitor, ChildStartsWithTheParentsStopAndStartClearsIt) {
    TMonitorProc root;
    root.Cancelar();
    TMonitorProcHijo child(&root, 1);
    EXPECT_TRUE(child.stop.load());
    root.Start(5);
    EXPECT_FALSE(root.stop.load());
    EXPECT_EQ(root.npasos.load(), 0);
    EXPECT_EQ(root.total.load(), 5);
}

TEST(Monitor, AReplacedChildDoesNotDetachItsSuccessor) {
    TMonitorProc root;
    auto first = std::make_unique<TMonitorProcHijo>(&root, 3);
    TMonitorProcHijo second(&root, 4);
    first.reset();
    EXPECT_EQ(root.GetChild(), &second);
    EXPECT_EQ(root.npasos.load(), -1 + 3);
}

TEST(Monitor, ParentEndingFirstLeavesTheChildAsARoot) {
    auto root = std::make_unique<TMonitorProc>();
    TMonitorProcHijo child(root.get(), 1);
    root.reset();
    EXPECT_EQ(child.GetParent(), nullptr);
    EXPECT_TRUE(child.Incre(1));
}

TEST(Monitor, ActuTravelsUpToTheRoot) {
    struct Counting : TMonitorProc {
        int n = 0;
        void Actu() override { n++; }
    } root;
    TMonitorProcHijo child(&root, 1);
    TMonitorProcHijo grandchild(&child, 1);
    grandchild.Actu();
    EXPECT_EQ(root.n, 1);
}

TEST(Monitor, ComposedTextByMode) {
    TMonitorProc m;
    m.texto = "phase";
    m.PushTextos();
    m.texto = "@Title";
    m.PushTextos();
    m.texto = "sub";
    m.PushTextos();
    m.texto = "detail";
    TMonitorProcHijo child(&m, 1);
    child.texto = "child detail";
    struct Case {
        bool child;
        int mode;
        const char* expected;
    } cases[] = {
        {true, 1, "phase\nTitle\nsub\ndetail\nchild detail"},
        {false, 1, "phase\nTitle\nsub\ndetail"},
        {true, 0, "phase"},
        {true, 2, "child detail"},
        {false, 2, "detail"},
        {true, 3, "Title"},
        {true, 7, "phase\nTitle\nsub\ndetail\nchild detail"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(m.Texto_Proceso(c.child, c.mode)), c.expected) << c.child << " " << c.mode;
}

TEST(Monitor, EmptyEntriesAreSkippedButAnEmptyDetailLeavesAFinalBreak) {
    TMonitorProc m;
    m.PushTextos(); // an empty entry
    m.texto = "a";
    m.PushTextos();
    EXPECT_EQ(S(m.Texto_Proceso(true, 1)), "a\n");
    EXPECT_EQ(S(m.Texto_Proceso(true, 3)), ""); // no title: the last entry
    m.PopTextos();
    m.PopTextos();
    EXPECT_EQ(m.NumTextos(), 0);
    m.PopTextos(); // nothing left: no change
    EXPECT_EQ(S(m.texto.Get()), "");
}

TEST(Monitor, ScopedCaptionWithCaptionAndDetail) {
    TMonitorProc m;
    m.texto = "x";
    {
        TPushMonitorText push(&m, "Downloading", "a.zip");
        EXPECT_EQ(S(m.Texto_Proceso(true, 1)), "x\nDownloading a.zip\n");
        m.texto = "50%";
        EXPECT_EQ(S(m.Texto_Proceso(true, 1)), "x\nDownloading a.zip\n50%");
    }
    EXPECT_EQ(S(m.texto.Get()), "x");
    EXPECT_EQ(m.NumTextos(), 0);
}

TEST(Monitor, ScopedCaptionVariants) {
    struct Case {
        const char* caption;
        const char* detail;
        const char* inside;
        int depth;
    } cases[] = {
        {"", "", "x\n", 1},
        {"Copy", "", "x\nCopy\n", 2},
        {"", "b.txt", "x\nb.txt\n", 2},
    };
    for (const Case& c : cases) {
        TMonitorProc m;
        m.texto = "x";
        {
            TPushMonitorText push(&m, c.caption, c.detail);
            EXPECT_EQ(m.NumTextos(), c.depth) << c.caption << "|" << c.detail;
            EXPECT_EQ(S(m.Texto_Proceso(true, 1)), c.inside);
            m.texto = "inner";
        }
        EXPECT_EQ(S(m.texto.Get()), "x");
        EXPECT_EQ(m.NumTextos(), 0);
    }
    TPushMonitorText on_null(nullptr, "a", "b"); // a null monitor is allowed
}

TEST(Monitor, TextHolderOperations) {
    TMonitorProc m;
    m.texto = "ab";
    m.texto += "c";
    m.texto += 42;
    m.texto << DString("!");
    EXPECT_EQ(S(m.texto), "abc42!");
    EXPECT_EQ(m.texto[1], 'b');
    EXPECT_EQ(m.texto[99], 0);
    EXPECT_EQ(m.texto.Length(), 6);
    m.texto.Vacia();
    EXPECT_TRUE(m.texto.IsEmpty());
}

TEST(Monitor, NullMonitorForms) {
    TMonitorProc* none = nullptr;
    MonStart(none, 3);
    EXPECT_FALSE(MonIncre(none, 1));
    EXPECT_FALSE(MonSetnpasos(none, 1));
    EXPECT_FALSE(MonHayStop(none));
    MonCancelar(none);
    MonSetTexto(none, "x");
    EXPECT_FLOAT_EQ(Porcentaje(none), 0.0f);
    EXPECT_EQ(S(Texto_Proceso(none)), "");
    DString out = "old";
    Text_Proceso_Smart_Size(none, out);
    EXPECT_EQ(S(out), "");

    TMonitorProc m;
    MonStart(&m, 4);
    EXPECT_TRUE(MonIncre(&m, 2));
    MonSetTexto(&m, "t");
    EXPECT_EQ(S(Texto_Proceso(&m)), "t");
    EXPECT_FLOAT_EQ(Porcentaje(&m), 50.0f);
}

TEST(Monitor, SmartSizeUnits) {
    const int64_t K = 1024, M = K * K, G = M * K, T = G * K;
    struct Case {
        int64_t pos, total;
        const char* expected;
    } cases[] = {
        {3 * M / 2, 10 * M, "1.50 Mb/10.00 Mb"}, {0, 512, "0.00 Kb/0.50 Kb"},
        {M, M + 1, "1024.00 Kb/1.00 Mb"},        {G, G + 1, "1024.00 Mb/1.00 Gb"},
        {T, T + 1, "1024.00 Gb/1.00 Tb"},        {-1, 2 * T, "0.00 Kb/2.00 Tb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(Text_Proceso_Smart_Size(c.pos, c.total)), c.expected);
    TMonitorProc m;
    m.Start(10 * M);
    m.Incre(3 * M / 2);
    DString out;
    Text_Proceso_Smart_Size(&m, out);
    EXPECT_EQ(S(out), "1.50 Mb/10.00 Mb");
}

// The window thread reads and cancels the tree while the worker attaches and detaches children,
// writes texts and pushes captions. Run under ThreadSanitizer to see the races this guards.
TEST(MonitorStress, WindowReadsAndCancelsWhileWorkerBuildsAndTearsDownChildren) {
    const int kWorkerRounds = 3000;
    const int kCancelAfterRounds = 1000;
    TMonitorProc root;
    root.Start(kWorkerRounds);
    std::atomic<int> rounds{0};
    std::atomic<bool> cancelled{false};
    std::atomic<int> cancel_lost{0};

    std::thread worker([&] {
        for (int i = 0; i < kWorkerRounds; i++) {
            bool cancel_seen_before = cancelled.load();
            {
                TPushMonitorText caption(&root, "Round", "r");
                TMonitorProcHijo child(&root, 1);
                child.Start(4);
                child.texto = "child";
                {
                    TMonitorProcHijo grandchild(&child, 2);
                    grandchild.Start(2);
                    grandchild.texto << "gc " << DString("x");
                    grandchild.Incre(1);
                    grandchild.PushTextos();
                    grandchild.texto = "deeper";
                    grandchild.PopTextos();
                    if (cancel_seen_before && grandchild.Incre(1)) cancel_lost++;
                }
                child.Incre(1);
                root.texto = "root detail";
            }
            rounds++;
        }
    });

    // The window: reads on every tick, cancels once while the worker is busy.
    while (rounds.load() < kWorkerRounds) {
        float p = root.Porcentaje();
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 100.0f);
        DString t = root.Texto_Proceso(true, 1);
        (void)t.Length();
        if (!cancelled.load() && rounds.load() >= kCancelAfterRounds) {
            root.Cancelar();
            cancelled = true;
        }
        if (cancelled.load() && !root.HayStop()) cancel_lost++;
    }
    worker.join();
    EXPECT_TRUE(cancelled.load());
    EXPECT_EQ(cancel_lost.load(), 0);
    EXPECT_TRUE(root.stop.load());
    EXPECT_EQ(root.GetChild(), nullptr);
    EXPECT_EQ(root.NumTextos(), 0);
    EXPECT_EQ(S(root.texto.Get()), ""); // every caption scope restored the text it found
    EXPECT_EQ(root.npasos.load(), kWorkerRounds);
}

} // namespace

TEST(Monitor, SleepOrStopEndsThePauseAtTheNextSliceAfterAStop) {
    TFakeClockITV clock;
    TScopedClockITV use(&clock);

    // Without a monitor: one plain wait.
    EXPECT_TRUE(SleepOrStop(7000, nullptr));
    EXPECT_EQ(clock.Sleeps(), std::vector<int>{7000});

    // With a monitor that is stopped during the third slice: the pause ends there.
    TFakeClockITV sliced;
    TScopedClockITV use_sliced(&sliced);
    TMonitorProc mon;
    sliced.OnSleep([&](int) {
        if (sliced.SleepCount() == 3) mon.Cancelar();
    });
    EXPECT_FALSE(SleepOrStop(7000, &mon));
    EXPECT_EQ(sliced.Sleeps(), (std::vector<int>{100, 100, 100}));

    // Already stopped: no wait at all.
    EXPECT_FALSE(SleepOrStop(7000, &mon));
    EXPECT_EQ(sliced.SleepCount(), 3);

    // Not stopped: the whole pause, the last slice shortened.
    TFakeClockITV whole;
    TScopedClockITV use_whole(&whole);
    TMonitorProc running;
    EXPECT_TRUE(SleepOrStop(250, &running));
    EXPECT_EQ(whole.Sleeps(), (std::vector<int>{100, 100, 50}));
}
