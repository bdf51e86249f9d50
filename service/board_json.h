#pragma once

// A board as the API shows it, with the keys of `swb808ctl --json` (port, device, baud,
// firmware, identity, relays, relays_on, inputs, inputs_active, supply, config) and the
// service's own (id, name, state, the ages of what was last heard).

#include <QJsonObject>

#include "service/board_owner.h"

namespace swb808::service {

// The line of GET /boards: id, name, port, device, baud, state, identity (as the board sent
// it; so is identity_raw, the tool's name for that), firmware.
QJsonObject BoardSummaryJson(const BoardView& view);
// GET /boards/{id}: the summary and every record, as `swb808ctl --json info`.
QJsonObject BoardStateJson(const BoardView& view);
// "port", "device", "baud" and "id" only: the head of every smaller answer.
QJsonObject BoardHeadJson(const BoardView& view);

QJsonObject RelaysJson(uint8_t mask);
QJsonObject InputsJson(uint8_t mask);
// Milliseconds since `at` ("age_ms"), for answers from what was last heard.
qint64 AgeMs(BoardView::Time at);

}  // namespace swb808::service
