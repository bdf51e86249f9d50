// Figures for docs/performance.md: `relay 3 on` from process start to exit against its floor,
// scan of 16 ports against the slowest single port, flash of 4 boards against one.
//   cli_bench [relay|scan|flash]...   (all three by default)

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/cli/cli_fixture.h"

using namespace swb808::cli::test;
using Clock = std::chrono::steady_clock;
extern char** environ;

namespace {

struct Dir {
    std::string path, ports, state;
    Dir() {
        std::string p =
            (std::filesystem::temp_directory_path() / "swb808-clibench-XXXXXX").string();
        path = ::mkdtemp(p.data());
        ports = path + "/ports";
        state = path + "/state";
        std::filesystem::create_directories(ports);
    }
    ~Dir() { std::filesystem::remove_all(path); }
    std::map<std::string, std::string> Env() const {
        return {{"SWB808_PORT_DIR", ports}, {"XDG_STATE_HOME", state}};
    }
};

double RunMs(const Dir& d, const std::vector<std::string>& args, int* status = nullptr) {
    const auto t0 = Clock::now();
    CtlProcess p(args, d.Env());
    const CtlResult r = p.Finish(std::chrono::minutes(10));
    if (status) *status = r.status;
    if (r.status != 0) std::fprintf(stderr, "exit %d: %s", r.status, r.err.c_str());
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Process start to exit and nothing else: output to /dev/null, a blocking wait for the end.
double SpawnMs(const Dir& d, const std::vector<std::string>& args) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (const auto& [k, v] : d.Env()) env.push_back(k + "=" + v);
    std::vector<char*> argv{const_cast<char*>(SWB808CTL_EXE)}, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) == 0)
        ::waitpid(pid, &status, 0);
    const auto t1 = Clock::now();
    posix_spawn_file_actions_destroy(&files);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "run failed\n");
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

void Relay() {
    Dir d;
    SimProcess board(d.ports, 3, {"--baud", "115200"});
    std::vector<double> ms, start;
    // Interleaved, so that both see the same machine.
    for (int i = 0; i < 50; ++i) {
        ms.push_back(SpawnMs(d, {"--port", "COM3", "--baud", "115200", "relay", "3", "on"}));
        start.push_back(SpawnMs(d, {"--version"}));
    }
    // Open: 10 ms before and after, and the 18-character settle of the first line setting
    // (2 ms at the 115200 Bd every open starts from); the reply wait 300000/115200 = 2 ms; the
    // receive's first 10 ms turn; 22 bytes on the wire (wake, 0xB3 frame, its reply, 0xB2
    // frame) at 86.8 us.
    const double floor = 10 + 2 + 10 + 2 + 10 + 22 * 10.0 / 115200 * 1000;
    std::printf(
        "relay 3 on, 115200 Bd, 50 runs: median %.1f ms, p99 %.1f ms, floor %.1f ms, "
        "goal <= %.1f ms; start-up alone (--version) median %.1f ms\n",
        Percentile(ms, 0.5), Percentile(ms, 0.99), floor, floor + 15, Percentile(start, 0.5));
}

void Scan() {
    Dir d;
    std::vector<std::unique_ptr<SimProcess>> boards;
    // Boards on 3 ports at different rates, the other 13 present and silent.
    const std::map<int, std::string> rates = {{4, "19200"}, {9, "57600"}, {13, "115200"}};
    for (int com = 1; com <= 16; ++com) {
        const auto it = rates.find(com);
        boards.push_back(std::make_unique<SimProcess>(
            d.ports, com,
            it != rates.end() ? std::vector<std::string>{"--baud", it->second}
                              : std::vector<std::string>{"--silent"}));
    }
    const double all = RunMs(d, {"--json", "scan"});
    // The slowest single port: a silent one, searched at all 14 rates.
    const double one = RunMs(d, {"--json", "--port", "COM1", "scan"});
    std::printf(
        "scan, 16 ports (boards at 19200/57600/115200, 13 silent): %.0f ms; slowest single "
        "port alone: %.0f ms; ratio %.2f (goal <= 1.2)\n",
        all, one, all / one);
}

void Flash() {
    Dir d;
    std::vector<uint8_t> image(6144, 0x5A);
    std::memcpy(image.data() + 100, "WXYZVERSION", 11);
    std::memcpy(image.data() + 95, "1.08a", 5);
    const std::string file = d.path + "/fw.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 6144);
    std::vector<std::unique_ptr<SimProcess>> boards;
    for (int com = 1; com <= 4; ++com)
        boards.push_back(
            std::make_unique<SimProcess>(d.ports, com, std::vector<std::string>{"--bootloader"}));
    const double one = RunMs(d, {"--port", "COM1", "flash", file, "--bootloader"});
    for (int com = 1; com <= 4; ++com) boards[size_t(com - 1)]->Command("bootloader");
    const double four = RunMs(d, {"--port", "COM1", "--port", "COM2", "--port", "COM3", "--port",
                                  "COM4", "flash", file, "--bootloader"});
    std::printf(
        "flash through the bootloader at 19200 Bd: one board %.0f ms, four at once %.0f ms, "
        "ratio %.2f (goal <= 1.2)\n",
        one, four, four / one);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> what(argv + 1, argv + argc);
    if (what.empty()) what = {"relay", "scan", "flash"};
    for (const auto& w : what) {
        if (w == "relay")
            Relay();
        else if (w == "scan")
            Scan();
        else if (w == "flash")
            Flash();
    }
}
