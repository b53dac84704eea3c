// The mark on the AVX registers that makes the program's SSE code slow: told and cleared.
#include <gtest/gtest.h>

#include <thread>

#include "base/VectorState.h"
#include "support/VectorStateMark.h"

namespace yubin {
namespace {

TEST(VectorStateTest, ClearingEndsTheMarkThatALibraryUsingAvxLeftAndThreadsWouldInherit) {
    if (!test::MarkUpperVectorStateInUse()) GTEST_SKIP() << "the processor does not tell the mark";
    EXPECT_EQ(UpperVectorStateInUse(), true);
    ClearUpperVectorState();
    EXPECT_EQ(UpperVectorStateInUse(), false);
    ClearUpperVectorState();  // again, unmarked: nothing changes
    EXPECT_EQ(UpperVectorStateInUse(), false);

    // Why it matters beyond the thread that was marked: a thread started from it starts marked
    // (where the system passes the registers on) unless it clears the mark itself.
    if (!test::ThreadsStartWithTheMarkOfTheirStarter()) GTEST_SKIP() << "not inherited here";
    std::optional<bool> cleared;
    std::thread([&cleared] {
        ClearUpperVectorState();
        cleared = UpperVectorStateInUse();
    }).join();
    EXPECT_EQ(cleared, false);
    ClearUpperVectorState();
}

}  // namespace
}  // namespace yubin
