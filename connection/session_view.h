#pragma once

// What a session tells its front end. Every method has a default that shows nothing, so a
// front end overrides only what it shows. All calls come on the session's logic thread,
// also nested inside the session's waits (an input change during a relay write, say).

#include <array>
#include <cstdint>
#include <string>

#include "connection/port_ref.h"
#include "protocol/device_records.h"

namespace swb808 {

enum class SessionState : uint8_t {
    Idle,       // no board; a scan or a bootloader search may start
    Scanning,   // the scan runs
    Connected,  // a board answered; commands may be sent
    Flashing,   // a transfer runs (search, entry or blocks)
    Closing,    // "Close", "Reset" or the program's end is sending the reset
};
const char* StateName(SessionState state);

// Message colours (the messages list has one colour, which the last line sets).
inline constexpr TColor kMessageBlack = clBlack;
inline constexpr TColor kMessageRed = clRed;

// The records the query read, as shown when a board is connected.
struct BoardRecords {
    PortRef port;
    int32_t baud = 0;
    std::string firmwareVersion;  // raw 8-bit characters, 5 of them
    std::string deviceId;         // raw 8-bit characters, zero bytes kept
    uint8_t relays = 0;
    uint8_t inputs = 0;
    int32_t vccRaw = 0;
    std::array<uint8_t, 6> config{};
};

class SessionView {
  public:
    virtual ~SessionView() = default;

    // Status-bar panel 1.
    virtual void StatusText(const std::string& /*text*/) {}
    // One line for the messages tab, and the colour of the whole list from now on.
    virtual void Message(const std::string& /*line*/, TColor /*colour*/) {}
    // Progress bar position, 0 .. kProgressMax.
    virtual void Progress(int /*value*/) {}
    static constexpr int kProgressMax = 1000;

    virtual void StateChanged(SessionState /*state*/) {}

    // The scan starts: the controls that start a scan and pick its port and rate are off.
    virtual void ScanBegins() {}
    // The scan's loop has ended: the scan control is usable again; when nothing was found the
    // port and rate pickers are too. Comes before Connected or the "not found" status.
    virtual void ScanEnds(bool /*found*/) {}
    // A board is connected: show its records, its configuration, the connected controls.
    // The status text and the message line have come just before.
    virtual void Connected(const BoardRecords& /*records*/) {}
    // Back to the look without a board (after the status text "disconnected").
    virtual void Disconnected() {}
    // "Reset" has disconnected: the scan control stays off until the rescan.
    virtual void ResetBegins() {}
    // After "Close" and "Reset": the rate picker shows "auto".
    virtual void SelectAutoBaud() {}

    // LED masks: relays after a write (the state asked for), inputs after a change frame.
    virtual void RelaysShown(uint8_t /*mask*/) {}
    virtual void InputsShown(uint8_t /*mask*/) {}

    // Flashing: begins (controls off), the block phase ended (before the final disconnect;
    // the window unchecks "Update per Bootloader" here), ends (controls back).
    virtual void FlashBegins() {}
    virtual void FlashBlocksEnded() {}
    virtual void FlashEnds() {}
    // After each block the board confirmed: blocks done of kBlockCount.
    virtual void BlocksDone(int /*done*/, int /*count*/) {}

    // Modal boxes of the program: error ("Fehler", "&Abbrechen") and warning ("Warnung").
    virtual void ShowError(const std::string& /*text*/) {}
    virtual void ShowWarning(const std::string& /*text*/) {}
};

}  // namespace swb808
