#include "frontend/board_event_json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QString>

namespace swb808 {

namespace {

QJsonArray BitNumbers(uint8_t mask) {
    QJsonArray on;
    for (int bit = 0; bit < 8; ++bit)
        if (mask & (1u << bit)) on.append(bit + 1);
    return on;
}

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QJsonObject EventJson(const BoardEvent& e) {
    QJsonObject o;
    o["seq"] = qint64(e.seq);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(e.time.time_since_epoch());
    o["time"] = QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::UTC).toString(Qt::ISODateWithMs);
    o["kind"] = EventKindName(e.kind);
    o["board"] = Utf8(e.board);
    o["port"] = Utf8(e.port.Name());
    o["baud"] = e.baud;
    switch (e.kind) {
        case BoardEventKind::InputChange:
            o["inputs"] = e.inputs;
            o["inputs_on"] = BitNumbers(e.inputs);
            break;
        case BoardEventKind::RelayChange:
            o["relays"] = e.relays;
            o["relays_on"] = BitNumbers(e.relays);
            break;
        case BoardEventKind::Connected:
            o["relays"] = e.relays;
            o["inputs"] = e.inputs;
            o["supply_raw"] = e.supplyRaw;
            break;
        case BoardEventKind::FoundAgain:
            o["old_version"] = Utf8(e.oldVersion);
            o["new_version"] = Utf8(e.newVersion);
            break;
        case BoardEventKind::Lost:
            o["message"] = Utf8(e.message);
            break;
        case BoardEventKind::Disconnected:
            break;
        case BoardEventKind::FlashProgress:
            o["blocks_done"] = e.blocksDone;
            o["block_count"] = e.blockCount;
            break;
        case BoardEventKind::FlashResult:
            o["blocks_done"] = e.blocksDone;
            o["block_count"] = e.blockCount;
            o["old_version"] = Utf8(e.oldVersion);
            o["new_version"] = Utf8(e.newVersion);
            o["message"] = Utf8(e.message);
            break;
    }
    return o;
}

QJsonObject ErrorJson(const BoardError& error) {
    QJsonObject o;
    o["error"] = ErrcName(error.code);
    o["message"] = Utf8(error.message);
    return o;
}

}  // namespace swb808
