#pragma once

// The board's event and error as JSON, the same for every front end that shows JSON
// (`watch --json`, the service's event stream and HTTP answers). QtCore only.

#include <QJsonObject>

#include <cstdint>
#include <optional>

#include "connection/board_event.h"
#include "connection/result.h"

namespace swb808 {

// {"seq":1,"time":"2026-01-02T03:04:05.678Z","kind":"input_change","board":"...",
//  "port":"COM3","device":"/dev/ttyS2","baud":19200, then the kind's values: "inputs":129,
//  "inputs_on":[1,8] and (the tool's older name) "inputs_active":[1,8];
//  "relays"/"relays_on"; "supply_raw"; "blocks_done","block_count"; "old_version",
//  "new_version"; "message"}.
QJsonObject EventJson(const BoardEvent& event);

// An input change as a watch shows it: EventJson plus "changed", the inputs numbered that
// differ from the line before ([] on the first), and "initial", true for the state read at
// the start rather than reported by the board.
QJsonObject InputWatchJson(const BoardEvent& event, std::optional<uint8_t> changed);

// {"error":"no_answer","message":"..."}
QJsonObject ErrorJson(const BoardError& error);

}  // namespace swb808
