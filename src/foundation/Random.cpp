#include "foundation/Random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace {
std::mutex random_lock;
std::mt19937& Engine() {
    static std::mt19937 engine(
        static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count() ^
                              std::chrono::steady_clock::now().time_since_epoch().count()));
    return engine;
}
} // namespace

int Random_Int(int lo, int hi) {
    if (hi <= lo) return lo;
    std::lock_guard<std::mutex> hold(random_lock);
    std::uniform_int_distribution<int> dist(lo, hi);
    return dist(Engine());
}

void Random_Seed(uint32_t seed) {
    std::lock_guard<std::mutex> hold(random_lock);
    Engine().seed(seed);
}
