// The port object next to QSerialPort, libserialport and raw termios + poll(), on one
// pseudo-terminal in one run. Each repetition goes round all implementations, so machine
// load falls on them alike. Prints markdown tables.
//
//   peers_bench [rounds] [idle seconds] [phases] [only]
//     defaults: 30 rounds (300 trips per size), 10 s, phases "trip,burst,idle", every
//     implementation; `only` keeps those whose name or wait style contains it, or one of its
//     comma-separated parts (the raw floor always runs), so a profiler sees one
//     implementation in one phase.

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/peers/echo_master.h"
#include "bench/peers/peer_link.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"

#ifdef SWB808_BENCH_QSERIALPORT
#include <QCoreApplication>
#endif

namespace {

using namespace swb808::bench;
using namespace std::chrono;
using namespace std::chrono_literals;

constexpr int kTripsPerRound = 10;  // per reply size
constexpr size_t kBurst = 1 << 20;
// A burst lasts about 10 ms, so one scheduler hiccup moves a single figure by half: the
// median of many, taken in turns, is what compares.
constexpr int kBursts = 31;

struct Entry {
    std::unique_ptr<PeerLink> link;
    bool idle = true;  // measure the idle load (once per library)
    std::vector<double> us7, us37;
    std::vector<double> send7, back7;
    int failed = 0;
    std::vector<double> mibs;
    size_t wrong = 0;
    double idlePercent = -1;
};

// The master side (echo thread, burst writer) stands for the board and its UART, which never
// compete with the program for a core: it runs on a CPU of its own, the implementations and
// their threads on another. Without that, on two cores, a reader that polls fights the writer
// for a CPU and the figures follow the scheduler rather than the code (one binary moved
// between 0.7x and 1.2x of raw from run to run).
constexpr int kReaderCpu = 0;
constexpr int kMasterCpu = 1;

void PinTo(int cpu) {
    const int cpus = static_cast<int>(std::thread::hardware_concurrency());
    if (cpus < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

double Pick(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One request and its reply; the time runs from the write to the last reply byte in hand.
struct Sample {
    double us = 0;      // write to reply in hand
    double sendUs = 0;  // write to request complete on the master
    double backUs = 0;  // reply written on the master to reply in hand
};

int64_t Ns(Clock::time_point t) {
    return duration_cast<nanoseconds>(t.time_since_epoch()).count();
}

bool Trip(PeerLink& link, const EchoMaster& echo, uint8_t sequence, uint8_t replyLength,
          Sample& sample) {
    const uint8_t request[kRequestSize] = {sequence, replyLength, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5};
    uint8_t reply[64] = {};
    const auto t0 = Clock::now();
    const auto deadline = t0 + 2s;
    if (!link.Send(request, sizeof request, deadline)) return false;
    if (!link.Receive(reply, replyLength, deadline)) return false;
    const auto t1 = Clock::now();
    sample.us = duration<double, std::micro>(t1 - t0).count();
    sample.sendUs = static_cast<double>(echo.RequestSeenNs() - Ns(t0)) / 1e3;
    sample.backUs = static_cast<double>(Ns(t1) - echo.ReplySentNs()) / 1e3;
    for (size_t i = 0; i < replyLength; ++i)
        if (reply[i] != ReplyByte(sequence, i)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::string phases = argc > 3 ? argv[3] : "trip,burst,idle";
    const std::string only = argc > 4 ? argv[4] : "";
    const auto phase = [&phases](const char* name) {
        return phases.find(name) != std::string::npos;
    };
#ifdef SWB808_BENCH_QSERIALPORT
    QCoreApplication app(argc, argv);  // QSerialPort's notifiers need the event dispatcher
#endif
    swb808::test::TempPortDir dir;
    swb808::sim::PseudoTerminal pty;
    dir.Link(pty, 1);
    const std::string device = pty.SlavePath();
    PinTo(kMasterCpu);  // the echo thread inherits it
    EchoMaster echo(pty.MasterFd());
    PinTo(kReaderCpu);  // so do the ports' threads, started at each open

    std::vector<Entry> all;
    const auto add = [&all](std::unique_ptr<PeerLink> link, bool idle) {
        all.emplace_back();
        all.back().link = std::move(link);
        all.back().idle = idle;
    };
    add(MakeRawLink(), true);
    add(MakeOurLink(1, OurWait::Yield), true);
    add(MakeOurLink(1, OurWait::Sleep20us), false);
    add(MakeOurLink(1, OurWait::Paced10ms), false);
#ifdef SWB808_BENCH_QSERIALPORT
    add(MakeQtLink(), true);
#endif
#ifdef SWB808_BENCH_LIBSERIALPORT
    add(MakeSpLink(), true);
#endif
    std::vector<Entry> entries;
    for (auto& e : all) {
        const std::string label = e.link->Name() + " " + e.link->WaitStyle();
        bool wanted = &e == &all.front() || only.empty();
        for (size_t at = 0; !wanted && at <= only.size();) {
            const size_t comma = std::min(only.find(',', at), only.size());
            wanted = comma > at && label.find(only.substr(at, comma - at)) != std::string::npos;
            at = comma + 1;
        }
        if (!wanted || !e.link->Open(device)) continue;
        e.link->Close();
        entries.push_back(std::move(e));
    }

    // Round trips. Each implementation gets a block per round (open, two warm-up trips,
    // the measured trips, close); the order turns every round.
    std::mt19937 rng(808);
    uint8_t sequence = 0;
    for (int round = 0; round < (phase("trip") ? rounds : 0); ++round) {
        for (size_t k = 0; k < entries.size(); ++k) {
            Entry& e = entries[(k + static_cast<size_t>(round)) % entries.size()];
            if (!e.link->Open(device)) {
                e.failed += 2 * kTripsPerRound;
                continue;
            }
            Sample s;
            for (int w = 0; w < 2; ++w) Trip(*e.link, echo, ++sequence, 7, s);
            for (int i = 0; i < 2 * kTripsPerRound; ++i) {
                std::this_thread::sleep_for(microseconds(200 + rng() % 1000));
                const uint8_t length = (i + round) % 2 ? 37 : 7;
                if (!Trip(*e.link, echo, ++sequence, length, s)) {
                    ++e.failed;
                    continue;
                }
                (length == 7 ? e.us7 : e.us37).push_back(s.us);
                if (length == 7) {
                    e.send7.push_back(s.sendUs);
                    e.back7.push_back(s.backUs);
                }
            }
            e.link->Close();
        }
    }

    // Bursts from the master, content checked.
    const std::vector<uint8_t> pattern = BurstPattern(kBurst);
    std::vector<uint8_t> got(kBurst);
    for (int b = 0; b < (phase("burst") ? kBursts : 0); ++b) {
        for (size_t k = 0; k < entries.size(); ++k) {
            Entry& e = entries[(k + static_cast<size_t>(b)) % entries.size()];
            if (!e.link->Open(device)) {
                e.wrong += kBurst;
                continue;
            }
            std::fill(got.begin(), got.end(), 0);
            const auto t0 = Clock::now();
            std::thread writer([&] {
                PinTo(kMasterCpu);
                echo.WriteAll(pattern);
            });
            const bool complete = e.link->Receive(got.data(), kBurst, t0 + 30s);
            const double s = duration<double>(Clock::now() - t0).count();
            writer.join();
            size_t wrong = 0;
            for (size_t i = 0; i < kBurst; ++i) wrong += got[i] != pattern[i];
            e.wrong += wrong;
            if (complete) e.mibs.push_back(1.0 / s);
            e.link->Close();
        }
    }

    // Idle load: open port, nothing on the line. Beside it the floor of a pass at least every
    // 50 ms: a thread that does nothing but wake that often.
    double bareWakePercent = -1;
    if (phase("idle")) {
        const double c0 = CpuSeconds();
        const auto t0 = Clock::now();
        std::thread sleeper([&] {
            while (Clock::now() - t0 < seconds(idleSeconds)) ::poll(nullptr, 0, 50);
        });
        sleeper.join();
        bareWakePercent = 100.0 * (CpuSeconds() - c0) / duration<double>(Clock::now() - t0).count();
    }
    for (Entry& e : entries) {
        if (!e.idle || !phase("idle") || !e.link->Open(device)) continue;
        const double c0 = CpuSeconds();
        const auto t0 = Clock::now();
        e.link->Idle(seconds(idleSeconds));
        const double wall = duration<double>(Clock::now() - t0).count();
        e.idlePercent = 100.0 * (CpuSeconds() - c0) / wall;
        e.link->Close();
    }

    const Entry& raw = entries.front();
    const double raw7 = Pick(raw.us7, 0.5);
    const double raw37 = Pick(raw.us37, 0.5);
    if (phase("trip")) {
        std::printf(
            "Round trip, request 7 bytes, reply 7 or 37 bytes (microseconds; %d per size; "
            "115200 Bd set, but a pseudo-terminal does not pace the bytes)\n\n",
            rounds * kTripsPerRound);
        std::printf(
            "| implementation | waits with | 7: median | 7: p99 | 37: median | 37: p99 | "
            "median vs raw (7 / 37) | 7: send leg | 7: reply leg | failed |\n");
        std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (const Entry& e : entries) {
            const double m7 = Pick(e.us7, 0.5);
            const double m37 = Pick(e.us37, 0.5);
            std::printf(
                "| %s | %s | %.0f | %.0f | %.0f | %.0f | %.2f / %.2f | %.0f | %.0f | %d |\n",
                e.link->Name().c_str(), e.link->WaitStyle().c_str(), m7, Pick(e.us7, 0.99), m37,
                Pick(e.us37, 0.99), raw7 > 0 ? m7 / raw7 : 0, raw37 > 0 ? m37 / raw37 : 0,
                Pick(e.send7, 0.5), Pick(e.back7, 0.5), e.failed);
        }
    }
    if (phase("burst")) {
        std::printf("\n1 MiB burst from the master (median of %d)\n\n", kBursts);
        std::printf("| implementation | MiB/s | vs raw | bytes lost or wrong |\n");
        std::printf("|---|---:|---:|---:|\n");
        const double rawMibs = Pick(raw.mibs, 0.5);
        for (const Entry& e : entries) {
            const double mibs = Pick(e.mibs, 0.5);
            std::printf("| %s (%s) | %.1f | %.2f | %zu |\n", e.link->Name().c_str(),
                        e.link->WaitStyle().c_str(), mibs, rawMibs > 0 ? mibs / rawMibs : 0,
                        e.wrong);
        }
    }
    if (phase("idle")) {
        std::printf("\nIdle open port for %d s (user+sys of the process, all threads)\n\n",
                    idleSeconds);
        std::printf("| implementation | idles in | CPU, %% of one core |\n|---|---|---:|\n");
        for (const Entry& e : entries) {
            if (e.idlePercent < 0) continue;
            std::printf("| %s | %s | %.3f |\n", e.link->Name().c_str(), e.link->IdleStyle().c_str(),
                        e.idlePercent);
        }
        std::printf("| a bare 20 Hz wake (no port) | poll() with a 50 ms timeout, nothing else | %.3f |\n",
                    bareWakePercent);
    }
    if (echo.BadRequests() != 0)
        std::printf("\n%llu malformed requests reached the master\n",
                    static_cast<unsigned long long>(echo.BadRequests()));
    return 0;
}
