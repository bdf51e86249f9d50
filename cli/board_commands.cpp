// The commands for one board: find it, do one thing, remember where it was.

#include <QJsonObject>

#include <chrono>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "protocol/board_facts.h"
#include "protocol/device_records.h"

namespace swb808::cli {

namespace {

BoardChoice ChoiceOf(const Request& request, Output& out, bool readOnly) {
    BoardChoice choice;
    for (const auto& p : request.ports) choice.ports.push_back(ParsePortTarget(p));
    choice.baud = request.baud;
    choice.readOnly = readOnly;
    choice.progress = [&out](const std::string& line) { ReportProgressLine(out, "search", line); };
    if (request.verbose)
        choice.trace = [&out](const std::string& line) { ReportProgressLine(out, "try", line); };
    return choice;
}

// Reads may take any board a search finds; changes only the one meant.
FoundBoard Find(const Request& request, Output& out, Presence presence, bool readOnly) {
    return FindBoard(ChoiceOf(request, out, readOnly), LoadRememberedBoard(), presence,
                     [&out](const std::string& line) { out.Warn(line); });
}

void Remember(const PortTarget& port, int baud, Output& out) {
    if (!SaveRememberedBoard({port, baud}))
        out.Warn("cannot remember the board in " + RememberedBoardPath());
}

void Remember(BoardLink& link, Output& out) {
    Remember(link.Target(), link.Baud(), out);
}

std::string Where(BoardLink& link) {
    return WhereText(link.Target(), link.Baud());
}

QJsonObject RelaysDocument(BoardLink& link) {
    QJsonObject o = PortJson(link.Target(), link.Baud());
    o["relays"] = link.Records().relays;
    o["relays_on"] = BitNumbers(link.Records().relays);
    return o;
}

std::string RelaysText(BoardLink& link) {
    const uint8_t mask = link.Records().relays;
    return link.Target().Name() + ": relays " + HexByte(mask) + " (on: " + BitNumbersText(mask) +
           ")";
}

// After the reset frame: the board restarts, perhaps at another stored rate; `expected` is
// tried first.
void ResetAndFind(BoardLink& link, int expected) {
    if (!link.Reset(RatesStartingWith(expected)))
        throw CliFailure(ExitStatus::NoBoard, "the board did not answer on " +
                                                  link.Target().Name() + " after its restart");
}

// --wait-input after a change: listening starts before the inputs are read, so a change in
// between is not lost. Exit 2 when the time runs out first.
void WaitForInput(BoardLink& link, const Request& request, QJsonObject& document) {
    if (!request.waitInput) return;
    const InputWait wait = *request.waitInput;
    const uint8_t bit = uint8_t(1u << (wait.input - 1));
    uint8_t state = 0;
    BoardEvents::Subscription subscription = link.Api().Subscribe([&state](const BoardEvent& e) {
        if (e.kind == BoardEventKind::InputChange) state = e.inputs;
    });
    link.ListenForInputChanges();
    if (!link.ReadInputs())
        throw CliFailure(ExitStatus::NoBoard, "no answer to the input read on " + Where(link));
    state = link.Records().inputs;
    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeoutS
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*request.timeoutS))
                              : Clock::time_point::max();
    const bool reached =
        link.WaitUntil([&] { return ((state & bit) != 0) == wait.active; }, deadline);
    subscription.Reset();
    document["inputs"] = state;
    document["inputs_active"] = BitNumbers(state);
    document["input_reached"] = reached;
    if (!reached)
        throw CliFailure(ExitStatus::NoBoard, link.Target().Name() + ": input " +
                                                  std::to_string(wait.input) + " not " +
                                                  (wait.active ? "high" : "low") + " within " +
                                                  QString::number(*request.timeoutS).toStdString() +
                                                  " s (inputs " + HexByte(state) + ")");
}

void PrintInputReached(BoardLink& link, const Request& request, Output& out) {
    if (!request.waitInput) return;
    out.Text(link.Target().Name() + ": input " + std::to_string(request.waitInput->input) + " " +
             (request.waitInput->active ? "high" : "low"));
}

}  // namespace

ExitStatus RunInfo(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Query, true);
    BoardLink& link = *found.link;
    const BoardRecords r = link.Records();
    QJsonObject o = PortJson(link.Target(), link.Baud());
    o["firmware"] = BoardText(r.firmwareVersion);
    PutIdentity(o, r.deviceId);
    o["relays"] = r.relays;
    o["relays_on"] = BitNumbers(r.relays);
    o["inputs"] = r.inputs;
    o["inputs_active"] = BitNumbers(r.inputs);
    o["supply"] = SupplyJson(r.vccRaw);
    o["config"] = ConfigJson(r.config);
    out.Document(o);
    out.Text("board:        " + Where(link));
    out.Text("firmware:     " + BoardTextUtf8(r.firmwareVersion));
    out.Text("identity:     " + IdentityText(r.deviceId));
    out.Text("relays:       " + HexByte(r.relays) + " (on: " + BitNumbersText(r.relays) + ")");
    out.Text("inputs:       " + HexByte(r.inputs) + " (active: " + BitNumbersText(r.inputs) + ")");
    out.Text("supply:       " + SupplyText(r.vccRaw));
    out.Text(ConfigText(r.config));
    Remember(link, out);
    return ExitStatus::Done;
}

ExitStatus RunRelay(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Relays, false);
    BoardLink& link = *found.link;
    const uint8_t bits = request.relayBits;
    uint8_t mask = link.Records().relays;
    switch (request.action) {
        case RelayAction::On:
            mask |= bits;
            break;
        case RelayAction::Off:
            mask &= uint8_t(~bits);
            break;
        case RelayAction::Toggle:
            mask ^= bits;
            break;
    }
    link.WriteRelays(mask);  // one frame for all the relays named
    Remember(link, out);
    QJsonObject o = RelaysDocument(link);
    out.Text(RelaysText(link));
    WaitForInput(link, request, o);
    PrintInputReached(link, request, out);
    out.Document(o);
    return ExitStatus::Done;
}

ExitStatus RunRelays(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Relays, !request.mask);
    BoardLink& link = *found.link;
    if (request.mask) link.WriteRelays(uint8_t(*request.mask));
    Remember(link, out);
    QJsonObject o = RelaysDocument(link);
    out.Text(RelaysText(link));
    WaitForInput(link, request, o);
    PrintInputReached(link, request, out);
    out.Document(o);
    return ExitStatus::Done;
}

ExitStatus RunInputs(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Inputs, true);
    BoardLink& link = *found.link;
    const uint8_t mask = link.Records().inputs;
    QJsonObject o = PortJson(link.Target(), link.Baud());
    o["inputs"] = mask;
    o["inputs_active"] = BitNumbers(mask);
    out.Document(o);
    out.Text(link.Target().Name() + ": inputs " + HexByte(mask) +
             " (active: " + BitNumbersText(mask) + ")");
    Remember(link, out);
    return ExitStatus::Done;
}

ExitStatus RunSupply(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Supply, true);
    BoardLink& link = *found.link;
    QJsonObject o = PortJson(link.Target(), link.Baud());
    o["supply"] = SupplyJson(link.Records().vccRaw);
    out.Document(o);
    out.Text(link.Target().Name() + ": supply " + SupplyText(link.Records().vccRaw));
    Remember(link, out);
    return ExitStatus::Done;
}

ExitStatus RunConfig(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Config, true);
    BoardLink& link = *found.link;
    QJsonObject o = PortJson(link.Target(), link.Baud());
    o["config"] = ConfigJson(link.Records().config);
    out.Document(o);
    out.Text("board:        " + Where(link));
    out.Text(ConfigText(link.Records().config));
    Remember(link, out);
    return ExitStatus::Done;
}

ExitStatus RunConfigSet(const Request& request, Output& out) {
    // A reset needs the connected session, which only the query gives.
    FoundBoard found =
        Find(request, out, request.resetAfter ? Presence::Query : Presence::Config, false);
    std::unique_ptr<BoardLink> link = std::move(found.link);
    const std::array<uint8_t, 6> c = link->Records().config;

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
    link->WriteConfig(ConfigValues{baudIndex, errorDelay, retryDelay, keep, retryOff, errorOff});
    const std::array<uint8_t, 6> written = link->Records().config;
    if (request.resetAfter) ResetAndFind(*link, *board::RateOfIndex(baudIndex));
    QJsonObject o = PortJson(link->Target(), link->Baud());
    o["config"] = ConfigJson(written);
    o["reset"] = request.resetAfter;
    out.Document(o);
    out.Text("board:        " + Where(*link));
    out.Text(ConfigText(written));
    if (request.resetAfter) out.Text("restarted; found at " + Where(*link));
    Remember(*link, out);
    return ExitStatus::Done;
}

ExitStatus RunReset(const Request& request, Output& out) {
    FoundBoard found = Find(request, out, Presence::Query, false);
    std::unique_ptr<BoardLink> link = std::move(found.link);
    ResetAndFind(*link, link->Baud());
    QJsonObject o = PortJson(link->Target(), link->Baud());
    o["firmware"] = BoardText(link->Records().firmwareVersion);
    out.Document(o);
    out.Text("restarted; found at " + Where(*link));
    Remember(*link, out);
    return ExitStatus::Done;
}

}  // namespace swb808::cli
