#include "cli/service_board.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrl>

#include <filesystem>

#include "cli/board_report.h"
#include "cli/exit_status.h"
#include "connection/board_identity.h"
#include "protocol/board_text.h"
#include "serial/com_ports.h"

namespace swb808::cli {

namespace {

using namespace std::chrono_literals;

// A board command waits behind those queued before it; a reset also searches the rates.
constexpr std::chrono::milliseconds kCommandTimeout = 60s;
constexpr std::chrono::milliseconds kResetTimeout = 120s;
const char* const kThrough = " (through swb808d)";

bool SameDevice(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ea, eb;
    const auto ca = std::filesystem::canonical(a, ea);
    const auto cb = std::filesystem::canonical(b, eb);
    return !ea && !eb && ca == cb;
}

// The tool's name for a device: its COM number when it is one of the table's.
PortTarget TargetOfDevice(const std::string& device) {
    for (int n = kFirstCom; n <= kLastCom; ++n)
        if (SameDevice(ComDevicePath(n), device)) return ComTarget(n);
    return PortTarget{PortRef::Device(device)};
}

std::string Text(const QJsonValue& v) {
    return Utf8ToAnsi(v.toString().toStdString());
}

}  // namespace

std::vector<HeldBoard> HeldBoards(const QJsonObject& list) {
    std::vector<HeldBoard> boards;
    for (const QJsonValue& v : list["boards"].toArray()) {
        const QJsonObject b = v.toObject();
        const std::string device = b["device"].toString().toStdString();
        if (device.empty()) continue;
        boards.push_back({b["id"].toString().toStdString(), TargetOfDevice(device),
                          b["baud"].toInt(), b["state"].toString() == "online", Text(b["firmware"]),
                          Text(b["identity_raw"])});
    }
    return boards;
}

std::optional<HeldBoard> HeldOn(const std::vector<HeldBoard>& boards, const PortTarget& port) {
    for (const HeldBoard& b : boards)
        if (b.port == port || SameDevice(b.port.DevicePath(), port.DevicePath())) return b;
    return std::nullopt;
}

std::optional<HeldPort> ServiceHolding(const PortTarget& port) {
    std::shared_ptr<ServiceClient> client = ServiceClient::Connect();
    if (!client) return std::nullopt;
    std::optional<HeldBoard> board = HeldOn(HeldBoards(client->Boards()), port);
    if (!board) return std::nullopt;
    board->port = port;
    return HeldPort{std::move(client), std::move(*board)};
}

// The service's texts name the port by its short name; the tool's name it with its device.
CliFailure ServiceFailure(const ServiceAnswer& answer, const PortTarget& port) {
    const ExitStatus status = ExitStatusOfAnswer(answer.status);
    std::string text = answer.Detail();
    if (text.empty()) text = "swb808d answered " + std::to_string(answer.status);
    const std::string shortName = port.Ref().Name() + ":";
    if (text.rfind(shortName, 0) == 0)
        text = port.Name() + text.substr(shortName.size() - 1);
    else
        text = port.Name() + ": " + text;
    return CliFailure(status, text + kThrough);
}

std::string BoardPath(const std::string& id) {
    return "/api/v1/boards/" + QUrl::toPercentEncoding(QString::fromStdString(id)).toStdString();
}

ServiceBoard::ServiceBoard(std::shared_ptr<ServiceClient> client, const HeldBoard& board)
    : client_(std::move(client)),
      target_(board.port),
      id_(board.id),
      key_(IdentityKey(board.identity)),
      baud_(board.baud) {
    records_.port = target_.Ref();
    records_.baud = baud_;
    records_.firmwareVersion = board.firmware;
    records_.deviceId = board.identity;
}

ServiceAnswer ServiceBoard::Send(const std::string& method, const std::string& path,
                                 const QJsonObject* body, std::chrono::milliseconds timeout) {
    return client_->Request(method, BoardPath(id_) + path, body, timeout);
}

QJsonObject ServiceBoard::Call(const std::string& method, const std::string& path,
                               const QJsonObject* body, std::chrono::milliseconds timeout) {
    const ServiceAnswer answer = Send(method, path, body, timeout);
    if (!answer.Ok()) throw ServiceFailure(answer, target_);
    TakeBaud(answer.json);
    return answer.json;
}

void ServiceBoard::TakeBaud(const QJsonObject& answer) {
    if (answer["baud"].isDouble()) baud_ = records_.baud = answer["baud"].toInt();
}

void ServiceBoard::Read(Presence presence) {
    switch (presence) {
        case Presence::Query: {
            const QJsonObject o = Call("GET", "?fresh=1", nullptr, kCommandTimeout);
            records_.firmwareVersion = Text(o["firmware"]);
            records_.deviceId = Text(o["identity_raw"]);
            key_ = IdentityKey(records_.deviceId);
            records_.relays = uint8_t(o["relays"].toInt());
            records_.inputs = uint8_t(o["inputs"].toInt());
            records_.vccRaw = o["supply"].toObject()["raw"].toInt();
            records_.config = ConfigFromJson(o["config"].toObject());
            return;
        }
        case Presence::Relays:
            records_.relays =
                uint8_t(Call("GET", "/relays?fresh=1", nullptr, kCommandTimeout)["relays"].toInt());
            return;
        case Presence::Inputs:
            records_.inputs =
                uint8_t(Call("GET", "/inputs?fresh=1", nullptr, kCommandTimeout)["inputs"].toInt());
            return;
        case Presence::Config:
            records_.config = ConfigFromJson(
                Call("GET", "/config?fresh=1", nullptr, kCommandTimeout)["config"].toObject());
            return;
        case Presence::Supply:
            records_.vccRaw = Call("GET", "/supply?fresh=1", nullptr, kCommandTimeout)["supply"]
                                  .toObject()["raw"]
                                  .toInt();
            return;
    }
}

void ServiceBoard::WriteRelays(uint8_t mask) {
    const QJsonObject body{{"mask", mask}};
    records_.relays = uint8_t(Call("PUT", "/relays", &body, kCommandTimeout)["relays"].toInt());
}

// The service applies "on" and "off" lists, and one relay's toggle, to the state it has when
// the frame goes out; only several relays toggled at once need the mask made here.
void ServiceBoard::ChangeRelays(uint8_t bits, RelayAction action) {
    const bool one = bits != 0 && (bits & (bits - 1)) == 0;
    if (action == RelayAction::Toggle && !one) return WriteRelays(Switched(records_.relays, bits, action));
    QJsonObject answer;
    if (action == RelayAction::Toggle) {
        const QJsonObject body{{"state", "toggle"}};
        answer = Call("PUT", "/relays/" + std::to_string(BitNumbers(bits).first().toInt()), &body,
                      kCommandTimeout);
    } else {
        const QJsonObject body{{action == RelayAction::On ? "on" : "off", BitNumbers(bits)}};
        answer = Call("PUT", "/relays", &body, kCommandTimeout);
    }
    records_.relays = uint8_t(answer["relays"].toInt());
}

void ServiceBoard::WriteConfig(const ConfigValues& v) {
    const QJsonObject body{{"baud_index", v.baudIndex},
                           {"error_report_delay", v.errorDelay},
                           {"error_report_off", v.ignoreErrors},
                           {"retry_delay", v.retryDelay},
                           {"retry_off", v.noRetry},
                           {"keep_relays", v.keepRelays}};
    records_.config =
        ConfigFromJson(Call("PUT", "/config", &body, kCommandTimeout)["config"].toObject());
}

// The service tries the rate the board is stored to restart at first, as `rates` does.
bool ServiceBoard::Reset(const std::vector<int>& /*rates*/) {
    const QJsonObject body;
    const ServiceAnswer answer = Send("POST", "/reset", &body, kResetTimeout);
    if (answer.status == 504) return false;
    if (!answer.Ok()) throw ServiceFailure(answer, target_);
    TakeBaud(answer.json);
    if (answer.json["firmware"].isString())
        records_.firmwareVersion = Text(answer.json["firmware"]);
    return true;
}

uint8_t ServiceBoard::FollowInputs() {
    events_ = client_->OpenEvents();
    const ServiceAnswer answer = Send("GET", "/inputs?fresh=1", nullptr, kCommandTimeout);
    if (answer.status == 504)
        throw CliFailure(ExitStatus::NoBoard,
                         "no answer to the input read on " + WhereText(target_, baud_) + kThrough);
    if (!answer.Ok()) throw ServiceFailure(answer, target_);
    TakeBaud(answer.json);
    records_.inputs = uint8_t(answer.json["inputs"].toInt());
    return records_.inputs;
}

std::optional<BoardEvent> ServiceBoard::NextInputChange(
    std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const std::optional<QJsonObject> e = events_->Next(deadline);
        if (!e) return std::nullopt;
        const QString type = (*e)["type"].toString();
        if (type == "dropped")
            throw CliFailure(ExitStatus::PortError, "swb808d dropped the event stream: " +
                                                        (*e)["detail"].toString().toStdString());
        if ((*e)["board"].toString().toStdString() != id_) continue;
        if (type == "state" && (*e)["state"].toString() != "online") {
            const std::string why = (*e)["message"].toString().toStdString();
            throw CliFailure(ExitStatus::PortError,
                             target_.Name() + ": the board is " +
                                 (*e)["state"].toString().toStdString() +
                                 (why.empty() ? std::string() : " (" + why + ")") + kThrough);
        }
        if (type != "input_change") continue;
        BoardEvent change;
        change.seq = uint64_t((*e)["seq"].toInteger());
        change.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(
            QDateTime::fromString((*e)["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch()));
        change.kind = BoardEventKind::InputChange;
        change.board = (*e)["key"].toString().toStdString();
        change.port = target_.Ref();
        change.baud = (*e)["baud"].toInt();
        change.inputs = uint8_t((*e)["inputs"].toInt());
        change.relays = records_.relays;
        return change;
    }
}

}  // namespace swb808::cli
