// The commands for one board: find it, do one thing, remember where it was.

#include <QJsonObject>

#include <chrono>

#include "cli/board_report.h"
#include "cli/board_route.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "protocol/board_facts.h"
#include "protocol/device_records.h"

namespace swb808::cli {

namespace {

// Reads may take any board a search finds; changes only the one meant.
std::unique_ptr<BoardAccess> Find(const Request& request, Output& out, Presence presence,
                                  bool readOnly) {
    return ReachBoard(request, out, presence, readOnly);
}

void Remember(const PortTarget& port, int baud, Output& out) {
    if (!SaveRememberedBoard({port, baud}))
        out.Warn("cannot remember the board in " + RememberedBoardPath());
}

void Remember(BoardAccess& board, Output& out) {
    Remember(board.Target(), board.Baud(), out);
}

std::string Where(BoardAccess& board) {
    return WhereText(board.Target(), board.Baud());
}

QJsonObject RelaysDocument(BoardAccess& board) {
    QJsonObject o = PortJson(board.Target(), board.Baud());
    o["relays"] = board.Records().relays;
    o["relays_on"] = BitNumbers(board.Records().relays);
    return o;
}

std::string RelaysText(BoardAccess& board) {
    const uint8_t mask = board.Records().relays;
    return board.Target().Name() + ": relays " + HexByte(mask) + " (on: " + BitNumbersText(mask) +
           ")";
}

// After the reset frame: the board restarts, perhaps at another stored rate; `expected` is
// tried first.
void ResetAndFind(BoardAccess& board, int expected) {
    if (!board.Reset(RatesStartingWith(expected)))
        throw CliFailure(ExitStatus::NoBoard, "the board did not answer on " +
                                                  board.Target().Name() + " after its restart");
}

// --wait-input after a change: listening starts before the inputs are read, so a change in
// between is not lost. Exit 2 when the time runs out first.
void WaitForInput(BoardAccess& board, const Request& request, QJsonObject& document) {
    if (!request.waitInput) return;
    const InputWait wait = *request.waitInput;
    const uint8_t bit = uint8_t(1u << (wait.input - 1));
    uint8_t state = board.FollowInputs();
    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeoutS
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*request.timeoutS))
                              : Clock::time_point::max();
    bool reached = ((state & bit) != 0) == wait.active;
    while (!reached) {
        const std::optional<BoardEvent> change = board.NextInputChange(deadline);
        if (!change) break;
        state = change->inputs;
        reached = ((state & bit) != 0) == wait.active;
    }
    document["inputs"] = state;
    document["inputs_active"] = BitNumbers(state);
    document["input_reached"] = reached;
    if (!reached)
        throw CliFailure(ExitStatus::NoBoard, board.Target().Name() + ": input " +
                                                  std::to_string(wait.input) + " not " +
                                                  (wait.active ? "high" : "low") + " within " +
                                                  QString::number(*request.timeoutS).toStdString() +
                                                  " s (inputs " + HexByte(state) + ")");
}

void PrintInputReached(BoardAccess& board, const Request& request, Output& out) {
    if (!request.waitInput) return;
    out.Text(board.Target().Name() + ": input " + std::to_string(request.waitInput->input) + " " +
             (request.waitInput->active ? "high" : "low"));
}

}  // namespace

ExitStatus RunInfo(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Query, true);
    const BoardRecords r = found->Records();
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["firmware"] = BoardText(r.firmwareVersion);
    PutIdentity(o, r.deviceId);
    o["relays"] = r.relays;
    o["relays_on"] = BitNumbers(r.relays);
    o["inputs"] = r.inputs;
    o["inputs_active"] = BitNumbers(r.inputs);
    o["supply"] = SupplyJson(r.vccRaw);
    o["config"] = ConfigJson(r.config);
    out.Document(o);
    out.Text("board:        " + Where(*found));
    out.Text("firmware:     " + BoardTextUtf8(r.firmwareVersion));
    out.Text("identity:     " + IdentityText(r.deviceId));
    out.Text("relays:       " + HexByte(r.relays) + " (on: " + BitNumbersText(r.relays) + ")");
    out.Text("inputs:       " + HexByte(r.inputs) + " (active: " + BitNumbersText(r.inputs) + ")");
    out.Text("supply:       " + SupplyText(r.vccRaw));
    out.Text(ConfigText(r.config));
    Remember(*found, out);
    return ExitStatus::Done;
}

ExitStatus RunRelay(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Relays, false);
    found->ChangeRelays(request.relayBits, request.action);  // one frame for all named
    Remember(*found, out);
    QJsonObject o = RelaysDocument(*found);
    out.Text(RelaysText(*found));
    WaitForInput(*found, request, o);
    PrintInputReached(*found, request, out);
    out.Document(o);
    return ExitStatus::Done;
}

ExitStatus RunRelays(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Relays, !request.mask);
    if (request.mask) found->WriteRelays(uint8_t(*request.mask));
    Remember(*found, out);
    QJsonObject o = RelaysDocument(*found);
    out.Text(RelaysText(*found));
    WaitForInput(*found, request, o);
    PrintInputReached(*found, request, out);
    out.Document(o);
    return ExitStatus::Done;
}

ExitStatus RunInputs(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Inputs, true);
    const uint8_t mask = found->Records().inputs;
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["inputs"] = mask;
    o["inputs_active"] = BitNumbers(mask);
    out.Document(o);
    out.Text(found->Target().Name() + ": inputs " + HexByte(mask) +
             " (active: " + BitNumbersText(mask) + ")");
    Remember(*found, out);
    return ExitStatus::Done;
}

ExitStatus RunSupply(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Supply, true);
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["supply"] = SupplyJson(found->Records().vccRaw);
    out.Document(o);
    out.Text(found->Target().Name() + ": supply " + SupplyText(found->Records().vccRaw));
    Remember(*found, out);
    return ExitStatus::Done;
}

ExitStatus RunConfig(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Config, true);
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["config"] = ConfigJson(found->Records().config);
    out.Document(o);
    out.Text("board:        " + Where(*found));
    out.Text(ConfigText(found->Records().config));
    Remember(*found, out);
    return ExitStatus::Done;
}

ExitStatus RunConfigSet(const Request& request, Output& out) {
    // A reset needs the connected session, which only the query gives.
    const auto found =
        Find(request, out, request.resetAfter ? Presence::Query : Presence::Config, false);
    const std::array<uint8_t, 6> c = found->Records().config;

    int baudIndex = c[0];
    if (request.newBaud) baudIndex = *board::RateIndex(*request.newBaud);
    if (!board::RateOfIndex(baudIndex))
        throw CliFailure(ExitStatus::Usage, "the board's stored rate is unknown (index " +
                                                std::to_string(baudIndex) +
                                                "): give config set --baud");
    bool errorOff = c[5] & kCfgIgnoreErrors;
    int errorDelay = c[1] + 256 * c[2];
    if (request.errorReport) {
        errorOff = request.errorReport->off;
        if (!errorOff) errorDelay = request.errorReport->seconds;
    }
    bool retryOff = c[5] & kCfgNoRetry;
    int retryDelay = c[3] + 256 * c[4];
    if (request.retry) {
        retryOff = request.retry->off;
        if (!retryOff) retryDelay = request.retry->seconds;
    }
    const bool keep = request.keepRelays.value_or((c[5] & kCfgKeepRelays) != 0);
    found->WriteConfig(ConfigValues{baudIndex, errorDelay, retryDelay, keep, retryOff, errorOff});
    const std::array<uint8_t, 6> written = found->Records().config;
    if (request.resetAfter) ResetAndFind(*found, *board::RateOfIndex(baudIndex));
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["config"] = ConfigJson(written);
    o["reset"] = request.resetAfter;
    out.Document(o);
    out.Text("board:        " + Where(*found));
    out.Text(ConfigText(written));
    if (request.resetAfter) out.Text("restarted; found at " + Where(*found));
    Remember(*found, out);
    return ExitStatus::Done;
}

ExitStatus RunReset(const Request& request, Output& out) {
    const auto found = Find(request, out, Presence::Query, false);
    ResetAndFind(*found, found->Baud());
    QJsonObject o = PortJson(found->Target(), found->Baud());
    o["firmware"] = BoardText(found->Records().firmwareVersion);
    out.Document(o);
    out.Text("restarted; found at " + Where(*found));
    Remember(*found, out);
    return ExitStatus::Done;
}

}  // namespace swb808::cli
