#include "protocol/paced_wait.h"

#include <gtest/gtest.h>

#include <chrono>

namespace swb808 {
namespace {

using Clock = std::chrono::steady_clock;

struct PumpCounter {
    int turns = 0;
    EventPump previous;
    PumpCounter() {
        previous = SetEventPump([this] { ++turns; });
    }
    ~PumpCounter() { SetEventPump(previous); }
};

TEST(PacedWait, ZeroAndNegativeReturnAtOnceWithoutPumping) {
    PumpCounter counter;
    const auto start = Clock::now();
    PacedWait(0);
    PacedWait(-5);
    EXPECT_EQ(counter.turns, 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5));
}

TEST(PacedWait, PumpsFirstThenSleepsInTenMillisecondTurns) {
    PumpCounter counter;
    const auto start = Clock::now();
    PacedWait(100);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    // At most ten 10 ms turns fit; scheduling can only make them fewer.
    EXPECT_GE(counter.turns, 1);
    EXPECT_LE(counter.turns, 10);
}

TEST(PacedWait, HandlersRunNestedInsideAWait) {
    int nestedDone = 0;
    bool inside = false;
    auto previous = SetEventPump([&] {
        if (inside) return;
        inside = true;
        PacedWait(10);  // a handler that waits itself
        ++nestedDone;
        inside = false;
    });
    PacedWait(30);
    SetEventPump(previous);
    EXPECT_GE(nestedDone, 1);
}

}  // namespace
}  // namespace swb808
