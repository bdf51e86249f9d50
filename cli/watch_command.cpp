// watch: one line per input change the board reports on its own (frame C1 B2 E1 ...).

#include <QDateTime>
#include <QJsonObject>

#include <chrono>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "protocol/board_facts.h"
#include "protocol/paced_wait.h"

namespace swb808::cli {

namespace {
constexpr int kTurnMs = 10;
}  // namespace

ExitStatus RunWatch(const Request& request, Output& out) {
    BoardChoice choice;
    for (const auto& p : request.ports) choice.ports.push_back(ParsePortTarget(p));
    choice.baud = request.baud;
    FoundBoard found = FindBoard(choice, LoadRememberedBoard(), Presence::Inputs,
                                 [&out](const std::string& line) { out.Warn(line); });
    BoardLink& link = *found.link;
    if (!SaveRememberedBoard({link.Target(), link.Baud()}))
        out.Warn("cannot remember the board in " + RememberedBoardPath());

    uint8_t state = link.Protocol().OptoState;
    out.Text("watching " + link.Target().Name() + " at " + std::to_string(link.Baud()) +
             " Bd, inputs " + HexByte(state) + " (active: " + BitNumbersText(state) +
             "); Ctrl-C ends");
    using Clock = std::chrono::steady_clock;
    const auto deadline = request.timeoutS
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*request.timeoutS))
                              : Clock::time_point::max();
    int changes = 0;
    // The session's input-change handler reads the frames; the scan registered its trigger,
    // a single read did not.
    if (!found.queried) link.Port().AddTriggerString(board::kInputChangeHead, false);
    link.View().onInputs = [&](uint8_t next) {
        const uint8_t changed = uint8_t(next ^ state);
        state = next;
        if (changed == 0 || (request.count && changes >= *request.count)) return;
        ++changes;
        const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        QJsonObject o;
        o["time"] = time;
        o["inputs"] = state;
        o["inputs_active"] = BitNumbers(state);
        o["changed"] = BitNumbers(changed);
        out.JsonLine(o);
        out.Text(time.toStdString() + "  inputs " + HexByte(state) +
                 " (active: " + BitNumbersText(state) + ")  changed: " + BitNumbersText(changed));
    };
    try {
        while (Clock::now() < deadline && (!request.count || changes < *request.count)) {
            PacedWait(kTurnMs);
            link.ThrowIfLineLost();
            // A reader that went away ends the watch now, not at the next change.
            if (out.ReaderGone()) break;
        }
    } catch (const Interrupted&) {
        // Ctrl-C is how a watch normally ends; so is a stdout that went away.
    }
    return ExitStatus::Done;
}

}  // namespace swb808::cli
