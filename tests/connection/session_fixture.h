#pragma once

// A session on the test's own thread with no Qt at all: a TLogicQueue as its event pump and
// notification target, a recording view, simulated boards on pseudo-terminals.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection/board_session.h"
#include "connection/logic_queue.h"
#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "tests/support/port_dir.h"
#include "tests/support/watchdog.h"

namespace swb808::testing {

// Everything a session told its front end, in order.
class RecordingView : public SessionView {
  public:
    void StatusText(const std::string& text) override { status.push_back(text); }
    void Message(const std::string& line, TColor colour) override {
        messages.push_back(line);
        messageColour = colour;
    }
    void Progress(int value) override { progress.push_back(value); }
    void StateChanged(SessionState s) override { states.push_back(s); }
    void Connected(const BoardRecords& r) override { connected.push_back(r); }
    void Disconnected() override { ++disconnects; }
    void SelectAutoBaud() override { ++autoBaud; }
    void RelaysShown(uint8_t mask) override { relays.push_back(mask); }
    void InputsShown(uint8_t mask) override { inputs.push_back(mask); }
    void BlocksDone(int done, int count) override {
        blocks.push_back(done);
        blockCount = count;
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::vector<std::string> status, messages, errors;
    TColor messageColour = 0xFFFFFFFF;
    std::vector<int> progress, blocks;
    int blockCount = 0;
    std::vector<SessionState> states;
    std::vector<BoardRecords> connected;
    int disconnects = 0, autoBaud = 0;
    std::vector<uint8_t> relays, inputs;
};

inline sim::BoardOptions UnpacedBoard(unsigned baud) {
    sim::BoardOptions o;
    o.baud = baud;
    o.pacing = false;
    return o;
}

// One byte the program sent, with the time the board took it in.
struct TimedByte {
    std::chrono::steady_clock::time_point time;
    uint8_t byte;
};

inline std::vector<TimedByte> ReceivedTimed(const sim::BoardSimulator& board) {
    std::vector<TimedByte> out;
    for (const auto& e : board.WireLog())
        if (!e.sent)
            for (uint8_t b : e.bytes) out.push_back({e.time, b});
    return out;
}

// Index of the first byte of the frame C1 <command> in `bytes` at or after `from`; -1 if none.
inline int FrameAt(const std::vector<TimedByte>& bytes, uint8_t command, size_t from = 0) {
    for (size_t i = from; i + 1 < bytes.size(); ++i)
        if (bytes[i].byte == 0xC1 && bytes[i + 1].byte == command) return int(i);
    return -1;
}

class SessionTest : public ::testing::Test {
  protected:
    static constexpr int kBoardCom = 3;

    sim::BoardSimulator& AddBoard(sim::BoardOptions options, int com = kBoardCom) {
        options.link = ports.ComPath(com);
        boards_.push_back(std::make_unique<sim::BoardSimulator>(std::move(options)));
        boards_.back()->Start();
        return *boards_.back();
    }
    // Runs the thread's queue until `done` or the timeout.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            queue->WaitAndProcess(std::chrono::milliseconds(10));
        }
        return true;
    }
    int32_t ScanOne(unsigned baud, int com = kBoardCom) {
        return session->Scan(ScanRequest{{PortRef::Com(com)}, {int32_t(baud)}});
    }

    Watchdog watchdog_{std::chrono::seconds(120)};
    test::TempPortDir ports;
    std::shared_ptr<TLogicQueue> queue = std::make_shared<TLogicQueue>();
    ScopedEventPump pump{queue->Pump()};
    RecordingView view;
    std::unique_ptr<BoardSession> session = [this] {
        auto s = std::make_unique<BoardSession>(view);
        s->AttachTo(queue);
        return s;
    }();

  private:
    std::vector<std::unique_ptr<sim::BoardSimulator>> boards_;
};

}  // namespace swb808::testing
