#pragma once

// One board on one port, driven with the window's bytes and waits: the port object and the
// protocol object of a single logic thread. Each command opens its own; several boards are
// several links on several threads.

#include <array>
#include <cstdint>

#include "cli/port_target.h"
#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"

namespace swb808::cli {

class BoardLink {
  public:
    explicit BoardLink(PortTarget target);
    ~BoardLink();  // closes the port without waiting for anything
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    const PortTarget& Target() const { return target_; }
    int Baud() const { return baud_; }  // the rate the port is open at; 0 while closed
    TSWB808Protocol& Protocol() { return protocol_; }
    TSerialPort& Port() { return port_; }

    // Opens the port at `baud`, or only changes the rate when it is open already; 10 ms waits
    // before and after, as the window's scan. Throws CliFailure(PortError) with the one-line
    // reason (missing, in use, no permission, ...).
    void Open(int baud);
    // The wake byte 0xDF, waiting until it has left: how every pair is greeted.
    void Wake();
    // The window's scan step for one pair: open, wake, the whole device query. True when a
    // board answered the version request at `baud`.
    bool Query(int baud);

    // Single reads; true when the reply has the command's code and length. The value lands in
    // the protocol's records (RelayState, OptoState, DeviceConfig). An input-change frame that
    // arrives first updates OptoState and is read past.
    bool ReadRelays();
    bool ReadInputs();
    bool ReadConfig();

    // Writes; the board confirms none of them.
    void WriteRelays(uint8_t mask);
    void WriteConfig(const std::array<uint8_t, 7>& record);
    void SendReset();

    // Throws CliFailure(PortError) when the device vanished.
    void ThrowIfLineLost();

    // Discards unsent output and closes; safe to call twice.
    void Close();

  private:
    bool Read(uint8_t command, int32_t replyLength, int expectedCode, int expectedLength);

    PortTarget target_;
    TSerialPort port_;
    TSWB808Protocol protocol_;
    int baud_ = 0;
};

}  // namespace swb808::cli
