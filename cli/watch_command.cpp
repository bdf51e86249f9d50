// watch: the inputs now, then one line per input change the board reports on its own (frame
// C1 B2 E1 ...).

#include <QDateTime>
#include <QJsonObject>

#include <chrono>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "frontend/board_event_json.h"
#include "protocol/board_facts.h"

namespace swb808::cli {

namespace {

constexpr int kTurnMs = 10;

QString LocalTime(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count());
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// One line of the watch: the state, and what changed (nothing on the first line).
void PrintState(BoardLink& link, Output& out, const BoardEvent& event,
                std::optional<uint8_t> changed) {
    out.JsonLine(InputWatchJson(event, changed));
    out.Text(LocalTime(event.time).toStdString() + "  " + WhereText(link.Target(), link.Baud()) +
             "  inputs " + HexByte(event.inputs) + " (active: " + BitNumbersText(event.inputs) +
             ")" + (changed ? "  changed: " + BitNumbersText(*changed) : std::string("  now")));
}

// The state read at the start, as an event of its own (none of the board's stream: seq 0).
BoardEvent ReadState(BoardLink& link, uint8_t inputs) {
    BoardEvent e;
    e.time = std::chrono::system_clock::now();
    e.kind = BoardEventKind::InputChange;
    if (const auto id = link.Api().Identity()) e.board = id->key;
    e.port = link.Ref();
    e.baud = link.Baud();
    e.inputs = inputs;
    e.relays = link.Records().relays;
    return e;
}

}  // namespace

ExitStatus RunWatch(const Request& request, Output& out) {
    BoardChoice choice;
    for (const auto& p : request.ports) choice.ports.push_back(ParsePortTarget(p));
    choice.baud = request.baud;
    choice.readOnly = true;
    choice.progress = [&out](const std::string& line) { ReportProgressLine(out, "search", line); };
    if (request.verbose)
        choice.trace = [&out](const std::string& line) { ReportProgressLine(out, "try", line); };
    FoundBoard found = FindBoard(choice, LoadRememberedBoard(), Presence::Inputs,
                                 [&out](const std::string& line) { out.Warn(line); });
    BoardLink& link = *found.link;
    if (!SaveRememberedBoard({link.Target(), link.Baud()}))
        out.Warn("cannot remember the board in " + RememberedBoardPath());

    // Listening first, then the state read: a change in between is seen, not lost.
    std::optional<uint8_t> state;
    int changes = 0;
    const BoardEvents::Subscription subscription = link.Api().Subscribe([&](const BoardEvent& e) {
        if (e.kind != BoardEventKind::InputChange) return;
        if (!state) {
            state = e.inputs;  // before the first line: the read below tells it
            return;
        }
        const uint8_t changed = uint8_t(e.inputs ^ *state);
        state = e.inputs;
        if (changed == 0 || (request.count && changes >= *request.count)) return;
        ++changes;
        PrintState(link, out, e, changed);
    });
    link.ListenForInputChanges();
    if (!link.ReadInputs())
        throw CliFailure(ExitStatus::NoBoard,
                         "no answer to the input read on " + WhereText(link.Target(), link.Baud()));
    state = link.Records().inputs;
    PrintState(link, out, ReadState(link, *state), std::nullopt);
    if (!out.Json())
        out.Warn("watching " + WhereText(link.Target(), link.Baud()) + "; Ctrl-C ends");

    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeoutS
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*request.timeoutS))
                              : Clock::time_point::max();
    try {
        while (Clock::now() < deadline && (!request.count || changes < *request.count)) {
            link.Wait(kTurnMs);
            // A reader that went away ends the watch now, not at the next change.
            if (out.ReaderGone()) return ExitStatus::Done;
        }
    } catch (const Interrupted&) {
        // Ctrl-C is how a watch normally ends; so is a stdout that went away.
        return ExitStatus::Done;
    }
    if (request.count && changes < *request.count) {
        // Under --json a line like the others, not a document of its own.
        const std::string message =
            std::to_string(changes) + " of " + std::to_string(*request.count) + " changes within " +
            QString::number(*request.timeoutS).toStdString() + " s on " + link.Target().Name();
        out.Error(message);
        out.JsonLine(FailureJson(ExitStatus::NoBoard, message));
        return ExitStatus::NoBoard;
    }
    return ExitStatus::Done;
}

}  // namespace swb808::cli
