#include "service/board_json.h"

#include <QString>

#include "cli/board_report.h"
#include "cli/port_target.h"
#include "protocol/board_text.h"

namespace swb808::service {

namespace {

QJsonValue Text(const std::optional<std::string>& raw) {
    return raw ? QJsonValue(QString::fromStdString(AnsiToUtf8(*raw))) : QJsonValue();
}

void Merge(QJsonObject& into, const QJsonObject& from) {
    for (auto it = from.begin(); it != from.end(); ++it) into[it.key()] = it.value();
}

}  // namespace

qint64 AgeMs(BoardView::Time at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() -
                                                                 at)
        .count();
}

QJsonObject BoardHeadJson(const BoardView& view) {
    QJsonObject o =
        cli::PortJson(cli::TargetOf(view.port), view.identity ? view.identity->baud : 0);
    if (!view.identity) o["baud"] = QJsonValue();
    o["id"] = QString::fromStdString(view.id);
    return o;
}

QJsonObject RelaysJson(uint8_t mask) {
    return QJsonObject{{"relays", mask}, {"relays_on", cli::BitNumbers(mask)}};
}

QJsonObject InputsJson(uint8_t mask) {
    return QJsonObject{{"inputs", mask}, {"inputs_active", cli::BitNumbers(mask)}};
}

QJsonObject BoardSummaryJson(const BoardView& view) {
    QJsonObject o = BoardHeadJson(view);
    o["name"] = view.name.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(view.name));
    o["state"] = BoardStateName(view.state);
    o["identity"] = Text(view.identity ? std::optional(view.identity->text) : std::nullopt);
    o["identity_raw"] = o["identity"];
    o["firmware"] =
        Text(view.records ? std::optional(view.records->firmwareVersion) : std::nullopt);
    o["problem"] =
        view.problem.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(view.problem));
    return o;
}

QJsonObject BoardStateJson(const BoardView& view) {
    QJsonObject o = BoardSummaryJson(view);
    if (!view.records) return o;
    const BoardRecords& r = *view.records;
    Merge(o, RelaysJson(r.relays));
    Merge(o, InputsJson(r.inputs));
    o["supply"] = cli::SupplyJson(r.vccRaw);
    o["config"] = cli::ConfigJson(r.config);
    o["relays_age_ms"] = AgeMs(view.relaysAt);
    o["inputs_age_ms"] = AgeMs(view.inputsAt);
    o["supply_age_ms"] = AgeMs(view.supplyAt);
    return o;
}

}  // namespace swb808::service
