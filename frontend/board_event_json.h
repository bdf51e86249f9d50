#pragma once

// The board's event and error as JSON, the same for every front end that shows JSON
// (`watch --json`, the service's event stream and HTTP answers). QtCore only.

#include <QJsonObject>

#include "connection/board_event.h"
#include "connection/result.h"

namespace swb808 {

// {"seq":1,"time":"2026-01-02T03:04:05.678Z","kind":"input_change","board":"...",
//  "port":"COM3","baud":19200, then the kind's values: "inputs":129 and "inputs_on":[1,8];
//  "relays"/"relays_on"; "supply_raw"; "blocks_done","block_count"; "old_version",
//  "new_version"; "message"}.
QJsonObject EventJson(const BoardEvent& event);

// {"error":"no_answer","message":"..."}
QJsonObject ErrorJson(const BoardError& error);

}  // namespace swb808
