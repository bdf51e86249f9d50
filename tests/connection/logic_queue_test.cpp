// The Qt-free logic thread: deliveries run on the owner only, inside its waits, in order.

#include <atomic>
#include <thread>

#include "connection/logic_queue.h"
#include "protocol/paced_wait.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;

TEST(LogicQueue, DeliverRunsOnTheOwnerInsideItsWaitAndReturnsWhenDone) {
    Watchdog watchdog(30s);
    auto queue = std::make_shared<TLogicQueue>();
    ScopedEventPump pump(queue->Pump());
    std::vector<int> order;
    std::thread::id ranOn;
    std::atomic<int> delivered{0};
    std::thread other([&] {
        for (int n = 0; n < 3; ++n)
            if (queue->Deliver([&, n] { order.push_back(n); ranOn = std::this_thread::get_id(); },
                               3000ms))
                ++delivered;
    });
    PacedWait(300);  // the handlers run in here
    other.join();
    EXPECT_EQ(delivered, 3);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(LogicQueue, ATimedOutDeliveryRunsLaterAndACancelledOneNever) {
    auto queue = std::make_shared<TLogicQueue>();
    int ran = 0;
    bool result = true;
    std::thread([&] { result = queue->Deliver([&] { ++ran; }, 20ms); }).join();
    EXPECT_FALSE(result);
    EXPECT_EQ(queue->ProcessPending(), 1);
    EXPECT_EQ(ran, 1);

    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        result = queue->Deliver([&] { ++ran; }, 10s);
        returned = true;
    });
    // Cancelled once it is queued: the sender is let go at once and the call never runs.
    const auto start = std::chrono::steady_clock::now();
    while (!returned) {
        queue->CancelPending();
        std::this_thread::sleep_for(5ms);
    }
    waiter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(result);
    EXPECT_EQ(queue->ProcessPending(), 0);
    EXPECT_EQ(ran, 1);
}

// A timer ticks from the waits, never nested inside its own tick, and stops when told.
TEST(LogicQueue, TimersTickInsideWaitsButNotInsideThemselves) {
    auto queue = std::make_shared<TLogicQueue>();
    ScopedEventPump pump(queue->Pump());
    int ticks = 0, depth = 0, deepest = 0;
    const auto id = queue->StartTimer(20ms, [&] {
        ++ticks;
        deepest = std::max(deepest, ++depth);
        PacedWait(50);  // longer than the period
        --depth;
    });
    PacedWait(400);
    queue->StopTimer(id);
    const int seen = ticks;
    PacedWait(100);
    EXPECT_GE(seen, 3);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(ticks, seen);
}

}  // namespace
}  // namespace swb808::testing
