// Data triggers end to end: bytes from the master side of a pseudo-terminal, the dispatch
// thread, the Qt notifier and a Qt event loop on the test's thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "protocol/paced_wait.h"
#include "serial/serial_port.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"
#include "ui/qt_port_notifier.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const Bytes kFrame = {0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF};
const std::string kHead = "\xC1\xB2\xE1";

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "trigger_dispatch_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class TriggerDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        previousPump_ = SetEventPump([] { QCoreApplication::processEvents(); });
        dir_.Link(pty_, 5);
        port_.SetComNumber(5);
        port_.SetBaud(115200);
        notifier_ = TQtPortNotifier::AttachTo(port_);
        port_.OnTriggerAvail = [this](TSerialPort&, uint16_t count) {
            log_.push_back("avail " + std::to_string(count));
        };
        port_.OnTriggerData = [this](TSerialPort& cp, uint16_t handle) {
            log_.push_back("data " + std::to_string(handle) + " waiting " +
                           std::to_string(cp.InputCount()));
            if (onData_) onData_(cp, handle);
        };
        port_.SetOpen(true);
    }

    void TearDown() override {
        if (writer_.joinable()) writer_.join();
        port_.SetOpen(false);
        PacedWait(20);
        SetEventPump(previousPump_);
    }

    // Processes events until `done` holds, at most `timeout`.
    template <class F>
    bool pumpUntil(F done, std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            PacedWait(10);
        }
        return true;
    }

    // Writes the pieces from another thread with a pause before each, so that they reach the
    // port in separate reads while the test's thread runs handlers.
    void writeInPieces(std::vector<Bytes> pieces, std::chrono::milliseconds pause) {
        writer_ = std::thread([this, pieces = std::move(pieces), pause] {
            for (const auto& p : pieces) {
                std::this_thread::sleep_for(pause);
                pty_.Write(p);
            }
        });
    }

    // The input-change receive: up to 31 turns of PacedWait(10) for 7 bytes, then read them.
    Bytes receiveFrame(TSerialPort& cp) {
        int turns = 0;
        do {
            PacedWait(10);
            ++turns;
        } while (cp.InputCount() < 7 && turns < 31);
        if (cp.InputCount() < 7) return {};
        Bytes frame(7);
        cp.ReadBlock(frame.data(), 7);
        return frame;
    }

    test::TempPortDir dir_;
    sim::PseudoTerminal pty_;
    TSerialPort port_;
    std::shared_ptr<TQtPortNotifier> notifier_;
    std::vector<std::string> log_;
    std::function<void(TSerialPort&, uint16_t)> onData_;
    std::thread writer_;
    EventPump previousPump_;
};

TEST_F(TriggerDispatchTest, FrameInOneReadRaisesOneEventWithEverythingWaiting) {
    EXPECT_EQ(port_.AddTriggerString(kHead, false), 8);
    port_.OnTriggerAvail = nullptr;
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return !log_.empty(); }));
    PacedWait(100);
    EXPECT_EQ(log_, (std::vector<std::string>{"data 8 waiting 7"}));
}

TEST_F(TriggerDispatchTest, FrameInThreePiecesIsReadWholeByTheHandler) {
    port_.AddTriggerString(kHead, false);
    std::vector<Bytes> frames;
    onData_ = [&](TSerialPort& cp, uint16_t) { frames.push_back(receiveFrame(cp)); };
    writeInPieces({{0xC1}, {0xB2}, {0xE1, 0x51, 0x58, 0xA9, 0xDF}}, 60ms);
    ASSERT_TRUE(pumpUntil([&] { return !frames.empty(); }));
    PacedWait(100);
    EXPECT_EQ(frames, std::vector<Bytes>{kFrame});
    // A data-available notification after each of the first two reads, then the trigger.
    EXPECT_EQ(log_, (std::vector<std::string>{"avail 1", "avail 2", "data 8 waiting 7"}));
}

TEST_F(TriggerDispatchTest, RestOfTheFrameArrivesWhileTheHandlerWaits) {
    port_.AddTriggerString(kHead, false);
    std::vector<Bytes> frames;
    std::vector<int> waitingAtStart;
    onData_ = [&](TSerialPort& cp, uint16_t) {
        waitingAtStart.push_back(cp.InputCount());
        frames.push_back(receiveFrame(cp));
    };
    writeInPieces({{0xC1, 0xB2, 0xE1}, {0x51, 0x58, 0xA9, 0xDF}}, 60ms);
    ASSERT_TRUE(pumpUntil([&] { return !frames.empty(); }));
    PacedWait(100);
    EXPECT_EQ(waitingAtStart, std::vector<int>{3});
    EXPECT_EQ(frames, std::vector<Bytes>{kFrame});  // within the handler's 31 turns
    EXPECT_EQ(port_.InputCount(), 0);
    EXPECT_EQ(log_.size(), 1u);
}

TEST_F(TriggerDispatchTest, TwoFramesInOneReadRaiseTwoEventsInOrder) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    std::vector<int> seen;
    onData_ = [&](TSerialPort& cp, uint16_t) {
        seen.push_back(cp.InputCount());
        Bytes f(7);
        cp.ReadBlock(f.data(), 7);  // one frame per event
    };
    ASSERT_TRUE(pty_.Write(concat({kFrame, kFrame})));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    PacedWait(100);
    EXPECT_EQ(seen, (std::vector<int>{14, 7}));
}

// Bytes a handler took are gone: the check does not walk them, so a handler that read both
// frames is not called again for the second.
TEST_F(TriggerDispatchTest, AFrameTheHandlerAlreadyTookRaisesNothing) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    std::vector<int> seen;
    onData_ = [&](TSerialPort& cp, uint16_t) {
        const uint16_t n = cp.InputCount();
        seen.push_back(n);
        Bytes all(n);
        cp.ReadBlock(all.data(), n);
    };
    ASSERT_TRUE(pty_.Write(concat({kFrame, kFrame})));
    ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }));
    PacedWait(150);
    EXPECT_EQ(seen, (std::vector<int>{14}));
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    PacedWait(100);
    EXPECT_EQ(seen, (std::vector<int>{14, 7}));
}

// A handler that keeps reading while a run longer than the receive ring comes in takes bytes
// the check has not walked: it can take the whole run, none of the frames it took raises an
// event afterwards, and a frame after the run is found as usual.
TEST_F(TriggerDispatchTest, LongHandlerTakingARunLongerThanTheRingLeavesNoStaleEvents) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    Bytes run;
    for (int i = 0; i < 2000; ++i) {
        Bytes frame = kFrame;
        frame[3] = static_cast<uint8_t>(0x50 | (i & 0x0F));  // tells the frames apart
        run.insert(run.end(), frame.begin(), frame.end());
    }
    Bytes taken;
    int events = 0;
    onData_ = [&](TSerialPort& cp, uint16_t) {
        if (++events > 1) return;
        // Well inside the delivery limit, without processing events.
        const auto deadline = std::chrono::steady_clock::now() + 2500ms;
        while (taken.size() < run.size() && std::chrono::steady_clock::now() < deadline) {
            Bytes chunk(cp.InputCount());
            if (chunk.empty()) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            cp.ReadBlock(chunk.data(), static_cast<uint16_t>(chunk.size()));
            taken.insert(taken.end(), chunk.begin(), chunk.end());
        }
    };
    writer_ = std::thread([this, &run] {
        for (size_t at = 0; at < run.size(); at += 700)
            pty_.Write(Bytes(run.begin() + static_cast<long>(at),
                             run.begin() + static_cast<long>(std::min(run.size(), at + 700))));
    });
    ASSERT_TRUE(pumpUntil([&] { return events > 0; }));
    writer_.join();
    PacedWait(500);
    EXPECT_EQ(taken, run);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(port_.InputCount(), 0);

    log_.clear();
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return !log_.empty(); }));
    PacedWait(100);
    EXPECT_EQ(log_, (std::vector<std::string>{"data 8 waiting 7"}));
}

TEST_F(TriggerDispatchTest, GarbageAheadIsAnnouncedFirstAndStaysWaiting) {
    port_.AddTriggerString(kHead, false);
    ASSERT_TRUE(pty_.Write(concat({{0x11, 0x22}, kFrame})));
    ASSERT_TRUE(pumpUntil([&] { return log_.size() >= 2; }));
    PacedWait(100);
    ASSERT_GE(log_.size(), 2u);
    EXPECT_EQ(log_[0], "avail 2");
    EXPECT_EQ(log_[1], "data 8 waiting 9");
    // Nobody read them: the waiting bytes are announced once more after the scan.
    EXPECT_EQ(log_.size() == 3 ? log_[2] : "avail 9", "avail 9");
}

// An idle pass skips the check when no byte came; a changed threshold must still be checked.
TEST_F(TriggerDispatchTest, ThresholdLoweredBelowWhatWaitsIsAnnouncedWithoutNewBytes) {
    port_.SetAvailThreshold(100);
    ASSERT_TRUE(pty_.Write(Bytes(10, 0x44)));
    ASSERT_TRUE(pumpUntil([&] { return port_.InputCount() == 10; }));
    PacedWait(120);  // two periodic passes
    EXPECT_TRUE(log_.empty());
    port_.SetAvailThreshold(5);
    ASSERT_TRUE(pumpUntil([&] { return !log_.empty(); }));
    EXPECT_EQ(log_, std::vector<std::string>{"avail 10"});
}

// The check takes the bytes in batches; a string across a batch's end must still be found
// once, and the bytes ahead of it announced exactly.
TEST_F(TriggerDispatchTest, LongGarbageAheadIsAnnouncedExactlyWhereverTheStringFalls) {
    port_.AddTriggerString(kHead, false);
    for (const size_t garbage : {254u, 255u, 256u, 257u, 511u}) {
        log_.clear();
        ASSERT_TRUE(pty_.Write(concat({Bytes(garbage, 0x33), kFrame})));
        ASSERT_TRUE(pumpUntil([&] { return log_.size() >= 2; })) << garbage;
        EXPECT_EQ(log_[0], "avail " + std::to_string(garbage)) << garbage;
        EXPECT_EQ(log_[1], "data 8 waiting " + std::to_string(garbage + 7)) << garbage;
        Bytes all(garbage + 7);
        port_.ReadBlock(all.data(), static_cast<uint16_t>(all.size()));
        EXPECT_EQ(Bytes(all.end() - 7, all.end()), kFrame) << garbage;
        PacedWait(60);
    }
}

TEST_F(TriggerDispatchTest, TriggerSurvivesCloseAndReopenAndRegistersTwice) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    port_.SetOpen(false);
    port_.SetOpen(true);
    onData_ = [&](TSerialPort& cp, uint16_t) {
        if (cp.InputCount() >= 7) {
            Bytes f(7);
            cp.ReadBlock(f.data(), 7);
        }
    };
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return log_.size() == 1; }));
    EXPECT_EQ(log_[0], "data 8 waiting 7");

    // The second registration gets handle 8 as well; each match now raises two events.
    EXPECT_EQ(port_.AddTriggerString(kHead, false), 8);
    log_.clear();
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return log_.size() == 2; }));
    PacedWait(100);
    EXPECT_EQ(log_, (std::vector<std::string>{"data 8 waiting 7", "data 8 waiting 0"}));
}

TEST_F(TriggerDispatchTest, CloseFromTheHandlerCompletesAfterItReturns) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    bool openInside = false;
    TPortPhase phaseInside = Closed;
    int countInside = -1;
    onData_ = [&](TSerialPort& cp, uint16_t) {
        cp.SetOpen(false);
        openInside = cp.Open();
        phaseInside = cp.PortPhase();
        countInside = cp.InputCount();
        EXPECT_EQ(cp.ReadByte(), 0);  // does nothing, raises nothing
        const uint8_t b = 1;
        cp.WriteBlock(&b, 1);
        PacedWait(50);  // nested event processing must not finish the close yet
        EXPECT_TRUE(cp.Open());
    };
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return port_.PortPhase() == Closed; }));
    EXPECT_TRUE(openInside);
    EXPECT_EQ(phaseInside, Closing);
    EXPECT_EQ(countInside, 0);
    EXPECT_FALSE(port_.Open());
    EXPECT_TRUE(pty_.Read(50ms).empty());
    // And the port opens again with the trigger.
    onData_ = nullptr;
    port_.SetOpen(true);
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return log_.size() == 2; }));
}

TEST_F(TriggerDispatchTest, ExceptionFromTheHandlerIsReportedAndDispatchGoesOn) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    std::vector<std::string> reported;
    auto previous = SetHandlerErrorReporter([&](const std::string& m) { reported.push_back(m); });
    onData_ = [&](TSerialPort& cp, uint16_t) {
        Bytes f(7);
        cp.ReadBlock(f.data(), 7);
        throw std::runtime_error("handler failed");
    };
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return reported.size() == 1; }));
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return reported.size() == 2; }));
    SetHandlerErrorReporter(previous);
    EXPECT_EQ(reported[0], "handler failed");
    EXPECT_EQ(log_.size(), 2u);
}

TEST_F(TriggerDispatchTest, CloseWhileANotificationWaitsCompletesAtOnce) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    ASSERT_TRUE(pty_.Write(kFrame));
    std::this_thread::sleep_for(200ms);  // posted, but the logic thread is busy elsewhere
    port_.SetOpen(false);
    EXPECT_EQ(port_.PortPhase(), Closed);
    EXPECT_FALSE(port_.Open());
    // A scan opens the next port right away.
    port_.SetOpen(true);
    EXPECT_EQ(port_.PortPhase(), Opened);
    PacedWait(100);
    EXPECT_TRUE(log_.empty());  // the dropped notification concerned discarded input
    ASSERT_TRUE(pty_.Write(kFrame));
    ASSERT_TRUE(pumpUntil([&] { return log_.size() == 1; }));
    EXPECT_EQ(log_[0], "data 8 waiting 7");
}

TEST_F(TriggerDispatchTest, LateHandlerStillRunsAfterTheDeliveryTimedOut) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    ASSERT_TRUE(pty_.Write(kFrame));
    // The logic thread is busy past the 3000 ms limit: the dispatch thread goes on.
    std::this_thread::sleep_for(3300ms);
    ASSERT_TRUE(pty_.Write({0x01, 0x02}));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(log_.empty());
    ASSERT_TRUE(pumpUntil([&] { return !log_.empty(); }));
    EXPECT_EQ(log_[0], "data 8 waiting 9");  // the later bytes reached the ring meanwhile
}

TEST_F(TriggerDispatchTest, RandomSplitsRaiseOneEventPerFrameAndKeepTheBytes) {
    port_.AddTriggerString(kHead, false);
    port_.OnTriggerAvail = nullptr;
    Bytes received;
    const auto takeAll = [&](TSerialPort& cp) {
        Bytes chunk(cp.InputCount());
        cp.ReadBlock(chunk.data(), static_cast<uint16_t>(chunk.size()));
        received.insert(received.end(), chunk.begin(), chunk.end());
    };
    int events = 0;
    // Each handler takes its frame up to the end byte and leaves the next one to its event.
    onData_ = [&](TSerialPort& cp, uint16_t) {
        ++events;
        for (int turn = 0; turn < 31; ++turn) {
            while (cp.InputCount() > 0) {
                received.push_back(cp.ReadByte());
                if (received.back() == 0xDF) return;
            }
            PacedWait(10);
        }
    };
    std::mt19937 rng(808);
    Bytes stream;
    int frames = 0;
    for (int i = 0; i < 12; ++i) {
        for (unsigned g = rng() % 3; g > 0; --g)
            stream.push_back(static_cast<uint8_t>(0x30 + rng() % 16));
        stream.insert(stream.end(), kFrame.begin(), kFrame.end());
        ++frames;
    }
    std::vector<Bytes> pieces;
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min(stream.size() - at, size_t{1} + rng() % 6);
        pieces.emplace_back(stream.begin() + static_cast<long>(at),
                            stream.begin() + static_cast<long>(at + n));
        at += n;
    }
    writeInPieces(pieces, 4ms);
    ASSERT_TRUE(pumpUntil([&] { return events == frames; }, 10s)) << events;
    writer_.join();
    PacedWait(100);
    takeAll(port_);
    EXPECT_EQ(events, frames);
    EXPECT_EQ(received, stream);  // nothing lost, nothing out of order
}

}  // namespace
}  // namespace swb808
