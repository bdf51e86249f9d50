#pragma once

// Progress on stderr, so that stdout holds results only: plain lines, or one JSON object per
// line under --json; nothing under --quiet. Transfers draw a bar per board in place when
// stderr is a terminal. Called from the boards' threads.

#include <QJsonObject>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/output.h"

namespace swb808::cli {

// One progress event: `text` in text mode ("swb808ctl: " first), `event` under --json.
void ReportProgress(const Output& out, const std::string& text, const QJsonObject& event);
// A line of progress as {"event": `event`, "message": line}.
void ReportProgressLine(const Output& out, const char* event, const std::string& line);

class TransferProgress {
  public:
    // `names`: one per board, in the order of their lines.
    TransferProgress(Output& out, std::vector<std::string> names, int totalBlocks);

    void Update(size_t board, int blocksDone);

    // The bar's text: "COM3 (/dev/ttyUSB0) [#####.....] 48/96 blocks  50%  0:05 left".
    static std::string BarText(const std::string& name, int done, int total, double secondsLeft);

  private:
    void Redraw(int linesUp, const std::string& text);

    Output& out_;
    std::vector<std::string> names_;
    int total_;
    bool bar_;
    std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> started_;
    std::vector<int> lastTenth_;
};

}  // namespace swb808::cli
