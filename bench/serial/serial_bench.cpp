// How quickly bytes move through the port object on a pseudo-terminal:
//  - receive: master writes a frame -> InputCount() shows all of it;
//  - send: WriteBlock -> OutputFree() is back at OutSize (the device took everything).
// The dispatch thread's periodic pass runs every 50 ms; figures well below that show that the
// wake-up comes from the line event.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "serial/serial_port.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

struct Stats {
    double median;
    double p99;
    double max;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
}

void row(const char* what, size_t n, const Stats& s) {
    std::printf("%-34s %6zu %10.3f %10.3f %10.3f\n", what, n, s.median, s.p99, s.max);
}

}  // namespace

int main() {
    swb808::test::TempPortDir dir;
    swb808::sim::PseudoTerminal pty;
    dir.Link(pty, 1);
    swb808::TSerialPort port;
    port.SetComNumber(1);
    port.SetBaud(115200);
    port.SetOpen(true);

    std::mt19937 rng(808);
    std::printf("%-34s %6s %10s %10s %10s\n", "measurement (ms)", "n", "median", "p99", "max");

    for (size_t frame : {size_t{7}, size_t{256}}) {
        std::vector<double> ms;
        std::vector<uint8_t> bytes(frame, 0x5A);
        std::vector<uint8_t> sink(frame);
        for (int i = 0; i < 400; ++i) {
            // Random phase against the 50 ms pass.
            std::this_thread::sleep_for(microseconds(rng() % 20000));
            const auto t0 = steady_clock::now();
            pty.Write(bytes);
            while (port.InputCount() < frame) {
                if (steady_clock::now() - t0 > 2s) break;
                std::this_thread::sleep_for(20us);  // leave the cores to the port's threads
            }
            ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
            port.ReadBlock(sink.data(),
                           static_cast<uint16_t>(std::min<size_t>(port.InputCount(), frame)));
        }
        char label[64];
        std::snprintf(label, sizeof label, "receive %zu bytes -> InputCount", frame);
        const Stats s = stats(ms);
        row(label, ms.size(), s);
        const auto late = std::count_if(ms.begin(), ms.end(), [](double v) { return v > 5.0; });
        std::printf("%-34s %6s %10.0fx  (%ld of %zu later than 5 ms)\n",
                    "  vs. 25 ms of a 50 ms pass", "", 25.0 / s.median, static_cast<long>(late),
                    ms.size());
    }

    std::atomic<bool> draining{true};
    std::thread reader([&] {
        while (draining.load()) pty.Read(5ms, 8192);
    });
    for (size_t frame : {size_t{7}, size_t{256}, size_t{4096}}) {
        std::vector<double> ms;
        std::vector<uint8_t> bytes(frame, 0xA5);
        for (int i = 0; i < 300; ++i) {
            std::this_thread::sleep_for(microseconds(rng() % 5000));
            const auto t0 = steady_clock::now();
            port.WriteBlock(bytes.data(), static_cast<uint16_t>(frame));
            while (port.OutputFree() < 4096) {
                if (steady_clock::now() - t0 > 2s) break;
                std::this_thread::sleep_for(20us);
            }
            ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
        }
        char label[64];
        std::snprintf(label, sizeof label, "send %zu bytes -> OutputFree 4096", frame);
        row(label, ms.size(), stats(ms));
    }
    draining.store(false);
    reader.join();
    port.SetOpen(false);
    std::printf("(periodic dispatch pass: every 50 ms)\n");
    return 0;
}
