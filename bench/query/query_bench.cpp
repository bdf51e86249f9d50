// Times a whole device query against the paced board simulator and sets it next to the
// floor the query's own waits prescribe at that rate.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/board_facts.h"
#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"
#include "sim/board_simulator.h"

namespace {

using namespace swb808;
using Proto = TSWB808Protocol;
using Clock = std::chrono::steady_clock;

// Explicit waits, the drain receive's full 31 turns, and one turn for every other receive
// and every send.
int FloorMs(int32_t baud) {
    constexpr int sends = 8;
    constexpr int replyWaits = 6;  // before the drain and before version, relays, inputs,
                                   // configuration and voltage
    constexpr int receives = 5 + Proto::kIdentityReplies;  // every receive but the drain
    return replyWaits * board::ReplyWaitMs(baud) +
           Proto::kIdentityReplies * board::IdentityWaitMs(baud) +
           Proto::kReceiveTurns * Proto::kReceiveTurnMs +
           (receives + sends) * Proto::kReceiveTurnMs;
}

double QueryMs(const std::filesystem::path& dir, int32_t baud, int runs, bool& ok) {
    sim::BoardOptions o;
    o.baud = static_cast<unsigned>(baud);
    o.pacing = true;
    o.link = (dir / "com1").string();
    sim::BoardSimulator board(o);
    board.Start();

    TSerialPort port;
    port.SetComNumber(1);
    port.SetBaud(baud);
    port.SetOpen(true);
    Proto proto(port);

    std::vector<double> times;
    ok = true;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        ok = proto.readconfig(1, baud) && ok;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    port.SetOpen(false);
    board.Stop();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char tmpl[] = "/tmp/swb808-bench-query-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    ::setenv("SWB808_PORT_DIR", tmpl, 1);

    std::printf("device query against the paced simulator, median of %d\n", runs);
    std::printf("%8s  %10s  %10s  %7s  %s\n", "baud", "floor ms", "taken ms", "ratio", "answer");
    bool allOk = true;
    for (int32_t baud : {9600, 115200}) {
        bool ok = false;
        const double taken = QueryMs(tmpl, baud, runs, ok);
        const int floor = FloorMs(baud);
        std::printf("%8d  %10d  %10.1f  %7.3f  %s\n", baud, floor, taken, taken / floor,
                    ok ? "yes" : "NO");
        allOk = allOk && ok;
    }
    std::filesystem::remove_all(tmpl);
    return allOk ? 0 : 2;
}
