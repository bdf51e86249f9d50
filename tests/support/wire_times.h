#pragma once

// When things happened on a simulated board's line, for checking the program's waits: the
// gap between two events is at least the wait the program keeps between them.

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/board_simulator.h"

namespace swb808::test {

using TimePoint = std::chrono::steady_clock::time_point;

inline double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Arrival times of the command frames with `command`, in order.
inline std::vector<TimePoint> FrameTimes(const sim::BoardSimulator& board, uint8_t command) {
    std::vector<TimePoint> times;
    for (const auto& f : board.FramesReceived())
        if (f.command == command) times.push_back(f.time);
    return times;
}

// Times the program opened (or closed) its side of the line.
inline std::vector<TimePoint> LineTimes(const sim::BoardSimulator& board,
                                        sim::WireEvent::Kind kind) {
    std::vector<TimePoint> times;
    for (const auto& e : board.WireLog())
        if (e.kind == kind) times.push_back(e.time);
    return times;
}

// The first bytes the board took from the program after `after`, at its own rate.
inline TimePoint FirstBytesAfter(const sim::BoardSimulator& board, TimePoint after) {
    for (const auto& e : board.WireLog())
        if (e.kind == sim::WireEvent::Kind::Bytes && !e.sent && e.understood && e.time > after)
            return e.time;
    return {};
}

}  // namespace swb808::test
