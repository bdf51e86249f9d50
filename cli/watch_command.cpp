// watch: the inputs now, then one line per input change the board reports on its own (frame
// C1 B2 E1 ...).

#include <QDateTime>
#include <QJsonObject>

#include <algorithm>
#include <chrono>

#include "cli/board_report.h"
#include "cli/board_route.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "frontend/board_event_json.h"
#include "protocol/board_facts.h"

namespace swb808::cli {

namespace {

constexpr std::chrono::milliseconds kTurn{10};

QString LocalTime(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count());
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// One line of the watch: the state, and what changed (nothing on the first line).
void PrintState(BoardAccess& board, Output& out, const BoardEvent& event,
                std::optional<uint8_t> changed) {
    out.JsonLine(InputWatchJson(event, changed));
    out.Text(LocalTime(event.time).toStdString() + "  " + WhereText(board.Target(), board.Baud()) +
             "  inputs " + HexByte(event.inputs) + " (active: " + BitNumbersText(event.inputs) +
             ")" + (changed ? "  changed: " + BitNumbersText(*changed) : std::string("  now")));
}

// The state read at the start, as an event of its own (none of the board's stream: seq 0).
BoardEvent ReadState(BoardAccess& board, uint8_t inputs) {
    BoardEvent e;
    e.time = std::chrono::system_clock::now();
    e.kind = BoardEventKind::InputChange;
    e.board = board.Key();
    e.port = board.Target().Ref();
    e.baud = board.Baud();
    e.inputs = inputs;
    e.relays = board.Records().relays;
    return e;
}

}  // namespace

ExitStatus RunWatch(const Request& request, Output& out) {
    const std::unique_ptr<BoardAccess> board = ReachBoard(request, out, Presence::Inputs, true);
    if (!SaveRememberedBoard({board->Target(), board->Baud()}))
        out.Warn("cannot remember the board in " + RememberedBoardPath());

    // Listening first, then the state read: a change in between is seen, not lost.
    uint8_t state = board->FollowInputs();
    PrintState(*board, out, ReadState(*board, state), std::nullopt);
    if (!out.Json())
        out.Warn("watching " + WhereText(board->Target(), board->Baud()) + "; Ctrl-C ends");

    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeoutS
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*request.timeoutS))
                              : Clock::time_point::max();
    int changes = 0;
    try {
        while (Clock::now() < deadline && (!request.count || changes < *request.count)) {
            // A turn at a time: a reader that went away ends the watch now, not at the next
            // change.
            const auto turn = std::min(deadline, Clock::now() + kTurn);
            if (const std::optional<BoardEvent> e = board->NextInputChange(turn)) {
                const uint8_t changed = uint8_t(e->inputs ^ state);
                state = e->inputs;
                if (changed != 0) {
                    ++changes;
                    PrintState(*board, out, *e, changed);
                }
            }
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
            QString::number(*request.timeoutS).toStdString() + " s on " + board->Target().Name();
        out.Error(message);
        out.JsonLine(FailureJson(ExitStatus::NoBoard, message));
        return ExitStatus::NoBoard;
    }
    return ExitStatus::Done;
}

}  // namespace swb808::cli
