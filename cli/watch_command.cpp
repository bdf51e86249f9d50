// watch: one line per input change the board reports on its own (frame C1 B2 E1 ...).

#include <QDateTime>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <vector>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "protocol/frame_decode.h"
#include "protocol/paced_wait.h"

namespace swb808::cli {

namespace {

constexpr size_t kInputFrameLength = 7;
constexpr int kInputChangeCode = 2;
constexpr uint8_t kFrameStart = 0xC1;  // no other byte of a frame can take this value
constexpr int kTurnMs = 10;
// A piece of a frame whose rest has not come within the receive's 31 turns is dropped.
constexpr int kPieceTurns = 31;

// Reads the board's unasked frames out of the port's input as they come. Whatever lies
// before a start byte is noise and skipped; a start byte that does not begin a valid frame
// is skipped as well.
class InputFrameReader {
  public:
    explicit InputFrameReader(TSerialPort& port) : port_(port) {}

    // The next reported input state, if a whole frame is there now.
    std::optional<uint8_t> Next() {
        TakeWaiting();
        for (;;) {
            pending_.erase(pending_.begin(),
                           std::find(pending_.begin(), pending_.end(), kFrameStart));
            if (pending_.size() < kInputFrameLength) break;
            TFrameBytes frame{}, payload{};
            std::copy_n(pending_.begin(), kInputFrameLength, frame.begin());
            const uint32_t r = DecodeFrame(frame, payload);
            pending_.erase(pending_.begin(), pending_.begin() + (r != 0 ? kInputFrameLength : 1));
            pieceTurns_ = 0;
            if ((r & 0x0F) == kInputChangeCode && (r >> 16) == 1) return payload[0];
        }
        if (!pending_.empty() && ++pieceTurns_ > kPieceTurns) {
            pending_.clear();
            pieceTurns_ = 0;
        }
        return std::nullopt;
    }

  private:
    void TakeWaiting() {
        while (const uint16_t n = std::min<uint16_t>(port_.InputCount(), 256)) {
            const size_t at = pending_.size();
            pending_.resize(at + n);
            port_.ReadBlock(pending_.data() + at, n);
        }
    }

    TSerialPort& port_;
    std::vector<uint8_t> pending_;
    int pieceTurns_ = 0;
};

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
    const auto deadline =
        request.timeoutS
            ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(*request.timeoutS))
            : Clock::time_point::max();
    InputFrameReader reader(link.Port());
    int changes = 0;
    try {
        while (Clock::now() < deadline && (!request.count || changes < *request.count)) {
            PacedWait(kTurnMs);
            link.ThrowIfLineLost();
            while (const auto next = reader.Next()) {
                const uint8_t changed = uint8_t(*next ^ state);
                state = *next;
                if (changed == 0) continue;
                ++changes;
                const QString time =
                    QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
                QJsonObject o;
                o["time"] = time;
                o["inputs"] = state;
                o["inputs_active"] = BitNumbers(state);
                o["changed"] = BitNumbers(changed);
                out.JsonLine(o);
                out.Text(time.toStdString() + "  inputs " + HexByte(state) + " (active: " +
                         BitNumbersText(state) + ")  changed: " + BitNumbersText(changed));
                if (request.count && changes >= *request.count) break;
            }
        }
    } catch (const Interrupted&) {
        // Ctrl-C is how a watch normally ends.
    }
    return ExitStatus::Done;
}

}  // namespace swb808::cli
