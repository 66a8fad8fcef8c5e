#include "foundation/PostExecute.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string>* g_trace = nullptr;

class Target : public TBasePostExecute {
public:
    explicit Target(std::string name = "t") : name_(std::move(name)) {}
    void Note(void* data) { g_trace->push_back(name_ + ":" + static_cast<const char*>(data)); }
    void PostAgain(void* data) {
        g_trace->push_back(name_ + ":again");
        PostExecuteF(&Target::Note, data);
    }
    void DeleteSelf(void*) {
        g_trace->push_back(name_ + ":bye");
        delete this;
    }
    void KillOther(void* data) {
        g_trace->push_back(name_ + ":kill");
        delete static_cast<Target*>(data);
    }

private:
    std::string name_;
};

class PostedTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_trace = &trace_;
        TBasePostExecute::BeatTimer(); // nothing left over from an earlier test
        trace_.clear();
    }
    void TearDown() override { g_trace = nullptr; }
    std::vector<std::string> trace_;
    TFakeClockITV clock_;
    TScopedClockITV installed_{&clock_};
};

char A[] = "a", B[] = "b", C[] = "c", D[] = "d";

TEST_F(PostedTest, CallsWithoutDelayRunInPostingOrderWithinOneBeat) {
    Target t;
    t.PostExecuteF(&Target::Note, A);
    t.PostExecuteF(&Target::Note, B);
    t.PostExecuteF(&Target::Note, C);
    EXPECT_TRUE(trace_.empty());
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 3);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"t:a", "t:b", "t:c"}));
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 0);
}

TEST_F(PostedTest, DelayedCallWaitsWithoutHoldingBackLaterOnes) {
    Target t;
    GetTickCount64(); // fix the tick origin of this clock
    t.PostExecuteF(&Target::Note, D, 250);
    t.PostExecuteF(&Target::Note, A);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"t:a"}));
    clock_.Advance(100);
    t.PostExecuteF(&Target::Note, B);
    TBasePostExecute::BeatTimer();
    clock_.Advance(150); // exactly the due time: not yet
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"t:a", "t:b"}));
    clock_.Advance(100);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"t:a", "t:b", "t:d"}));
}

TEST_F(PostedTest, ACallPostedByAPostedCallRunsInTheSameBeat) {
    Target t;
    t.PostExecuteF(&Target::PostAgain, B);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"t:again", "t:b"}));
}

TEST_F(PostedTest, ADestroyedObjectTakesItsPendingCallsWithIt) {
    auto* gone = new Target("gone");
    Target stays("stays");
    gone->PostExecuteF(&Target::Note, A);
    stays.PostExecuteF(&Target::Note, B);
    gone->PostExecuteF(&Target::Note, C, 50);
    delete gone;
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 1);
    clock_.Advance(100);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"stays:b"}));
}

TEST_F(PostedTest, AnObjectDestroyedByAnEarlierCallOfTheSameBeatIsNotCalled) {
    Target killer("killer");
    auto* victim = new Target("victim");
    killer.PostExecuteF(&Target::KillOther, victim);
    victim->PostExecuteF(&Target::Note, A);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"killer:kill"}));
}

TEST_F(PostedTest, AnObjectThatDeletesItselfInACallDropsItsLaterCalls) {
    auto* t = new Target("self");
    t->PostExecuteF(&Target::DeleteSelf, nullptr);
    t->PostExecuteF(&Target::Note, A);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"self:bye"}));
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 0);
}

// A posted function of a class with another base in front of TBasePostExecute, virtual too.
struct OtherBase {
    virtual ~OtherBase() = default;
    int filler[3] = {1, 2, 3};
};
class Derived : public OtherBase, public TBasePostExecute {
public:
    virtual void Hit(void* data) {
        g_trace->push_back(std::string("base:") + static_cast<const char*>(data));
    }
    std::string tag = "derived";
};
class MoreDerived : public Derived {
public:
    void Hit(void* data) override { g_trace->push_back(tag + ":" + static_cast<const char*>(data)); }
};

TEST_F(PostedTest, MemberFunctionsOfDerivedClassesReachTheRightObject) {
    MoreDerived m;
    m.PostExecuteF(&Derived::Hit, A);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(trace_, (std::vector<std::string>{"derived:a"}));
}

// Posts from several threads while the main thread drains: every call runs once, on the thread
// that drains, in each poster's order.
class Counter : public TBasePostExecute {
public:
    void Add(void* data) {
        int poster = static_cast<int>(reinterpret_cast<intptr_t>(data)) >> 20;
        int seq = static_cast<int>(reinterpret_cast<intptr_t>(data)) & 0xFFFFF;
        if (std::this_thread::get_id() != main_id) wrong_thread++;
        if (seq != next[poster]) out_of_order++;
        next[poster] = seq + 1;
        total++;
    }
    std::thread::id main_id = std::this_thread::get_id();
    int next[4] = {0, 0, 0, 0};
    int total = 0, wrong_thread = 0, out_of_order = 0;
};

TEST_F(PostedTest, PostsFromManyThreadsRunOnTheDrainingThread) {
    const int kPerThread = 2000;
    Counter c;
    std::atomic<int> finished{0};
    std::vector<std::thread> posters;
    for (int p = 0; p < 4; p++)
        posters.emplace_back([&, p] {
            for (int i = 0; i < kPerThread; i++)
                c.PostExecuteF(&Counter::Add, reinterpret_cast<void*>(static_cast<intptr_t>((p << 20) | i)));
            finished++;
        });
    while (finished.load() < 4)
        TBasePostExecute::BeatTimer();
    for (auto& t : posters)
        t.join();
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(c.total, 4 * kPerThread);
    EXPECT_EQ(c.wrong_thread, 0);
    EXPECT_EQ(c.out_of_order, 0);
}

} // namespace
