// libserialport: sp_blocking_write and sp_blocking_read; idle waits in sp_wait.

#include <libserialport.h>

#include <cstdio>

#include "bench/peers/peer_link.h"

namespace swb808::bench {

namespace {

unsigned msUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<unsigned>(left) + 1 : 1;
}

class SpLink : public PeerLink {
  public:
    ~SpLink() override { Close(); }
    std::string Name() const override { return "libserialport " SP_PACKAGE_VERSION_STRING; }
    std::string WaitStyle() const override { return "sp_blocking_read"; }
    std::string IdleStyle() const override { return "sp_wait"; }

    bool Open(const std::string& device) override {
        if (sp_get_port_by_name(device.c_str(), &port_) != SP_OK ||
            sp_open(port_, SP_MODE_READ_WRITE) != SP_OK) {
            std::fprintf(stderr, "libserialport: open %s: %s\n", device.c_str(),
                         sp_last_error_message());
            Close();
            return false;
        }
        if (sp_set_baudrate(port_, 115200) != SP_OK || sp_set_bits(port_, 8) != SP_OK ||
            sp_set_parity(port_, SP_PARITY_NONE) != SP_OK || sp_set_stopbits(port_, 1) != SP_OK ||
            sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE) != SP_OK) {
            std::fprintf(stderr, "libserialport: settings: %s\n", sp_last_error_message());
            Close();
            return false;
        }
        return true;
    }
    void Close() override {
        if (!port_) return;
        sp_close(port_);
        sp_free_port(port_);
        port_ = nullptr;
    }

    bool Send(const uint8_t* data, size_t n, Clock::time_point deadline) override {
        return sp_blocking_write(port_, data, n, msUntil(deadline)) == static_cast<int>(n);
    }

    bool Receive(uint8_t* data, size_t n, Clock::time_point deadline) override {
        return sp_blocking_read(port_, data, n, msUntil(deadline)) == static_cast<int>(n);
    }

    void Idle(std::chrono::milliseconds span) override {
        sp_event_set* events = nullptr;
        if (sp_new_event_set(&events) != SP_OK) return;
        sp_add_port_events(events, port_, SP_EVENT_RX_READY);
        sp_wait(events, static_cast<unsigned>(span.count()));
        sp_free_event_set(events);
    }

  private:
    sp_port* port_ = nullptr;
};

}  // namespace

std::unique_ptr<PeerLink> MakeSpLink() {
    return std::make_unique<SpLink>();
}

}  // namespace swb808::bench
