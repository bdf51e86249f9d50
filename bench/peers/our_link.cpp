// The port object, polled the way the protocol code polls it: InputCount() until the bytes
// are there. The program waits with PacedWait(10) between polls; the tight variants show
// what the port itself costs.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>

#include "bench/peers/peer_link.h"
#include "protocol/paced_wait.h"
#include "serial/serial_port.h"

namespace swb808::bench {

namespace {

using namespace std::chrono_literals;

class OurLink : public PeerLink {
  public:
    OurLink(int comNumber, OurWait wait) : comNumber_(comNumber), wait_(wait) {}

    std::string Name() const override { return "TSerialPort (ours)"; }
    std::string WaitStyle() const override {
        switch (wait_) {
            case OurWait::Yield:
                return "InputCount + yield";
            case OurWait::Sleep20us:
                return "InputCount + sleep 20 us";
            case OurWait::Paced10ms:
                return "InputCount + PacedWait(10)";
        }
        return "";
    }

    std::string IdleStyle() const override { return "its threads; caller asleep"; }

    bool Open(const std::string&) override {
        try {
            port_.SetComNumber(static_cast<uint16_t>(comNumber_));
            port_.SetBaud(115200);
            port_.SetOpen(true);
            return true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ours: open failed: %s\n", e.what());
            return false;
        }
    }
    void Close() override { port_.SetOpen(false); }

    bool Send(const uint8_t* data, size_t n, Clock::time_point) override {
        port_.WriteBlock(data, static_cast<uint16_t>(n));
        return true;
    }

    bool Receive(uint8_t* data, size_t n, Clock::time_point deadline) override {
        size_t got = 0;
        while (got < n) {
            const size_t waiting = port_.InputCount();
            if (waiting > 0) {
                const auto take = static_cast<uint16_t>(std::min(waiting, n - got));
                port_.ReadBlock(data + got, take);
                got += take;
                continue;
            }
            if (Clock::now() > deadline) return false;
            Pause();
        }
        return true;
    }

    void Idle(std::chrono::milliseconds span) override { std::this_thread::sleep_for(span); }

  private:
    void Pause() const {
        switch (wait_) {
            case OurWait::Yield:
                std::this_thread::yield();
                break;
            case OurWait::Sleep20us:
                std::this_thread::sleep_for(20us);
                break;
            case OurWait::Paced10ms:
                PacedWait(10);
                break;
        }
    }

    const int comNumber_;
    const OurWait wait_;
    TSerialPort port_;
};

}  // namespace

std::unique_ptr<PeerLink> MakeOurLink(int comNumber, OurWait wait) {
    return std::make_unique<OurLink>(comNumber, wait);
}

}  // namespace swb808::bench
