#include "cli/progress.h"

#include <QJsonDocument>

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace swb808::cli {

namespace {

constexpr int kBarWidth = 30;

// One call per line: the stream's own lock keeps lines of several threads whole.
void WriteStderr(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void ReportProgress(const Output& out, const std::string& text, const QJsonObject& event) {
    if (out.Quiet()) return;
    if (out.Json())
        WriteStderr(QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString() + "\n");
    else
        WriteStderr("swb808ctl: " + text + "\n");
}

void ReportProgressLine(const Output& out, const char* event, const std::string& line) {
    QJsonObject o;
    o["event"] = event;
    o["message"] = QString::fromStdString(line);
    ReportProgress(out, line, o);
}

TransferProgress::TransferProgress(Output& out, std::vector<std::string> names, int totalBlocks)
    : out_(out),
      names_(std::move(names)),
      total_(totalBlocks),
      bar_(::isatty(STDERR_FILENO) == 1 && !out.Json() && !out.Quiet()),
      started_(names_.size(), std::chrono::steady_clock::now()),
      lastTenth_(names_.size(), -1) {
    // Room for the bars: one line each, the cursor below them.
    if (bar_) WriteStderr(std::string(names_.size(), '\n'));
}

std::string TransferProgress::BarText(const std::string& name, int done, int total,
                                      double secondsLeft) {
    const int filled = total > 0 ? done * kBarWidth / total : 0;
    const int percent = total > 0 ? done * 100 / total : 0;
    std::string bar = name + " [" + std::string(size_t(filled), '#') +
                      std::string(size_t(kBarWidth - filled), '.') + "] " + std::to_string(done) +
                      "/" + std::to_string(total) + " blocks " + std::to_string(percent) + "%";
    if (secondsLeft >= 0) {
        const int s = int(std::lround(secondsLeft));
        char left[32];
        std::snprintf(left, sizeof left, "  %d:%02d left", s / 60, s % 60);
        bar += left;
    }
    return bar;
}

void TransferProgress::Redraw(int linesUp, const std::string& text) {
    std::string s;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "A";
    s += "\r\x1b[2K" + text;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "B";
    s += "\r";
    WriteStderr(s);
}

void TransferProgress::Update(size_t board, int blocksDone) {
    const std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (blocksDone == 0) started_[board] = now;
    const double elapsed = std::chrono::duration<double>(now - started_[board]).count();
    const double left = blocksDone > 0 ? elapsed / blocksDone * (total_ - blocksDone) : -1.0;
    if (bar_) {
        Redraw(int(names_.size() - board), BarText(names_[board], blocksDone, total_, left));
        return;
    }
    const int tenth = total_ > 0 ? blocksDone * 10 / total_ : 10;
    if (tenth == lastTenth_[board]) return;
    lastTenth_[board] = tenth;
    const int percent = total_ > 0 ? blocksDone * 100 / total_ : 100;
    QJsonObject event;
    event["event"] = "flash";
    event["board"] = QString::fromStdString(names_[board]);
    event["blocks_done"] = blocksDone;
    event["blocks"] = total_;
    event["percent"] = percent;
    ReportProgress(out_,
                   names_[board] + ": " + std::to_string(blocksDone) + "/" +
                       std::to_string(total_) + " blocks " + std::to_string(percent) + "%",
                   event);
}

}  // namespace swb808::cli
