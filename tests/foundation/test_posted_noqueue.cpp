#include "foundation/PostExecute.h"

#include <gtest/gtest.h>

namespace {

// Its own program: nothing has been posted in this process yet.
TEST(PostedNoQueue, BeatBeforeAnyPostReturnsAtOnce) {
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 0);
    TBasePostExecute::BeatTimer();
    EXPECT_EQ(TBasePostExecute::PendingCalls(), 0);
}

} // namespace
