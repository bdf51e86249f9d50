// Input changes the board reports on its own (frame C1 B2 E1 ...), raised by the data trigger.

#include <algorithm>

#include "ui/main_window.h"

namespace swb808 {

namespace {

constexpr int32_t kInputFrameLength = 7;
constexpr int kInputChangeCode = 2;

void DropInput(TSerialPort& port) {
    uint8_t scrap[256];
    for (uint16_t n; (n = std::min<uint16_t>(port.InputCount(), sizeof scrap)) > 0;)
        port.ReadBlock(scrap, n);
}

}  // namespace

void TSWB808Form::SWBComPortTriggerData(TSerialPort& CP, uint16_t /*TriggerHandle*/) {
    while (CP.InputCount() > 0) {
        const uint32_t r = Protocol.RcvCommand(kInputFrameLength);
        if (r == 0 && CP.InputCount() < kInputFrameLength) {
            // Fewer than seven bytes came within the receive's wait: the rest of that frame is
            // not coming. Drop the piece, or every later frame would be read out of step.
            DropInput(CP);
            break;
        }
        if (ReplyCode(r) == kInputChangeCode) {
            Protocol.OptoState = Protocol.Payload[0];
            setoptoleds(Protocol.OptoState);
        }
    }
}

}  // namespace swb808
