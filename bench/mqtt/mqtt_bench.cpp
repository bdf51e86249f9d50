// The broker path against the HTTP path of one service, in one run: a set to the relay frame
// on the wire, an input change on the board to the message at a subscriber (an MQTT client
// and an event-stream client), and the idle CPU of a service with 16 boards on a broker.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>

#include "tests/mqtt/mqtt_fixture.h"

namespace swb808::mqtt::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 100;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double median = 0, p99 = 0;
};
Figures Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// A client of the HTTP event stream on a plain socket.
class Stream {
  public:
    explicit Stream(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const std::string get = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        (void)!::write(fd_, get.data(), get.size());
    }
    ~Stream() { ::close(fd_); }
    // Reads until `text` arrived after what was read so far.
    bool Until(const std::string& text) {
        const std::size_t from = buffer_.size();
        for (;;) {
            if (buffer_.find(text, from > text.size() ? from - text.size() : 0) !=
                std::string::npos) {
                buffer_.clear();
                return true;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return false;
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) return false;
            buffer_.append(buf, size_t(n));
        }
    }

  private:
    int fd_;
    std::string buffer_;
};

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

class Bench : public MqttTest {
  public:
    void TestBody() override {}
    void Run() {
        SetUp();
        if (!Broker::Installed()) return;
        LatencyRun();
        IdleRun();
    }

  private:
    // Waits until the board took one more relay frame than `before`.
    static Clock::time_point FrameSeen(const sim::BoardSimulator& board, int before) {
        while (CountFrames(board, 0xB2) <= before) std::this_thread::sleep_for(50us);
        return Clock::now();
    }
    void LatencyRun() {
        sim::BoardOptions options;
        auto& board = Board(3, options);
        Client client(broker_.Port(), "operator", "bench");
        client.Subscribe("swb808/#");
        Process& service = StartService("bench", {3});
        const std::string b3 = BoardTopic("bench", 3);
        if (!client.WaitFor(b3 + "availability", "online", 0, 60s)) {
            std::fprintf(stderr, "the service did not come up:\n%s", service.Log().c_str());
            return;
        }
        std::vector<double> mqttSet, httpSet, mqttInput, httpInput;
        for (int i = 0; i < kRounds; ++i) {
            const char* to = i % 2 ? "OFF" : "ON";
            std::size_t from = client.Count();
            int before = CountFrames(board, 0xB2);
            auto t0 = Clock::now();
            client.Publish(b3 + "relay/1/set", to, false, false);
            mqttSet.push_back(Ms(FrameSeen(board, before) - t0));
            client.WaitFor(b3 + "relay/1", to, from);

            before = CountFrames(board, 0xB2);
            from = client.Count();
            t0 = Clock::now();
            auto put = std::async(std::launch::async, [&] {
                return HttpPut(httpPort_, "/api/v1/boards/b3/relays/2",
                               std::string(R"({"state": ")") + (i % 2 ? "off" : "on") + "\"}");
            });
            httpSet.push_back(Ms(FrameSeen(board, before) - t0));
            put.get();
            client.WaitFor(b3 + "relay/2", to, from);  // the read after it is done too
            board.ClearRecord();
        }
        Stream stream(httpPort_);
        stream.Until("\r\n\r\n");
        for (int i = 0; i < kRounds; ++i) {
            const uint8_t mask = uint8_t(i % 2 ? 0x00 : 0x01);
            const std::size_t from = client.Count();
            const auto t0 = Clock::now();
            board.SetInputs(mask);
            // Both clients read the same change: each is timed from the change on the board.
            auto http = std::async(std::launch::async, [&] {
                stream.Until("\"inputs\":" + std::to_string(mask) + ",");
                return Clock::now();
            });
            client.WaitFor(b3 + "input/1", mask ? "ON" : "OFF", from);
            mqttInput.push_back(Ms(Clock::now() - t0));
            httpInput.push_back(Ms(http.get() - t0));
        }
        const auto row = [](const char* what, const std::vector<double>& m,
                            const std::vector<double>& h) {
            const Figures a = Of(m), b = Of(h);
            std::printf("| %s | %.2f ms | %.2f ms | %.2f ms | %.2f ms | %.2f |\n", what, a.median,
                        a.p99, b.median, b.p99, a.median / b.median);
        };
        std::printf("## mqtt_bench: the broker against the HTTP API (115200 Bd, %d rounds)\n\n",
                    kRounds);
        std::printf("| measurement | MQTT median | MQTT p99 | HTTP median | HTTP p99 | ratio |\n");
        std::printf("|---|---:|---:|---:|---:|---:|\n");
        row("set -> relay frame on the wire", mqttSet, httpSet);
        row("input change -> subscriber", mqttInput, httpInput);
        services_.clear();
    }

    void IdleRun() {
        std::vector<int> coms;
        for (int com = 1; com <= 16; ++com) {
            Board(com);
            coms.push_back(com);
        }
        Client client(broker_.Port(), "operator", "bench-idle");
        client.Subscribe("swb808/#");
        Process& service = StartService("idle", coms);
        for (int com : coms)
            if (!client.WaitFor(BoardTopic("idle", com) + "availability", "online", 0, 60s)) {
                std::fprintf(stderr, "COM%d did not come online\n", com);
                return;
            }
        std::this_thread::sleep_for(2s);
        const double cpu0 = CpuSeconds(service.Pid());
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(20s);
        const double cpu = CpuSeconds(service.Pid()) - cpu0;
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf(
            "\nidle, 16 boards and a broker connection: %.2f %% of one core (%.2f s CPU in "
            "%.0f s)\n",
            100 * cpu / wall, cpu, wall);
    }
};

}  // namespace
}  // namespace swb808::mqtt::test

int main() {
    swb808::mqtt::test::Bench bench;
    bench.Run();
    return 0;
}
