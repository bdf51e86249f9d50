#pragma once

// A board as a command sees it: opened on its port here, or held by swb808d and reached
// through its socket. The commands are written once against this, so what they print comes
// from the same records either way: those of the read that found the board, and of each
// change since.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/port_target.h"
#include "connection/board.h"
#include "connection/board_event.h"
#include "connection/session_view.h"

namespace swb808::cli {

// `mask` with the relays in `bits` switched on, off or over.
inline uint8_t Switched(uint8_t mask, uint8_t bits, RelayAction action) {
    switch (action) {
        case RelayAction::On:
            return mask | bits;
        case RelayAction::Off:
            return mask & uint8_t(~bits);
        case RelayAction::Toggle:
            return mask ^ bits;
    }
    return mask;
}

class BoardAccess {
  public:
    virtual ~BoardAccess() = default;

    virtual const PortTarget& Target() const = 0;
    // The rate the board answered at.
    virtual int Baud() const = 0;
    virtual BoardRecords Records() const = 0;
    // The board's identity key; "" while none is known.
    virtual std::string Key() const = 0;

    // Each returns once the board has the change (the records then show it). Failures throw
    // CliFailure.
    virtual void WriteRelays(uint8_t mask) = 0;
    // The relays in `bits` on, off or over, in one frame, from the state the board has when
    // the frame is made: through the service that is its state then, so a change another
    // client made meanwhile is kept.
    virtual void ChangeRelays(uint8_t bits, RelayAction action) = 0;
    virtual void WriteConfig(const ConfigValues& values) = 0;
    // The reset frame, then the board found again on its port (`rates` in order); false when
    // it did not answer.
    virtual bool Reset(const std::vector<int>& rates) = 0;

    // From now on the board's input changes are kept for NextInputChange; then the inputs are
    // read, so that no change after the read is missed. Throws CliFailure(NoBoard) when the
    // read is not answered.
    virtual uint8_t FollowInputs() = 0;
    // The next input change the board reported; nullopt at `deadline`. A lost line throws.
    virtual std::optional<BoardEvent> NextInputChange(
        std::chrono::steady_clock::time_point deadline) = 0;
};

}  // namespace swb808::cli
