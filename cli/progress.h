#pragma once

// Transfer progress, one line per board: a bar redrawn in place on a terminal, plain lines
// at every tenth otherwise. Called from the boards' threads.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/output.h"

namespace swb808::cli {

class TransferProgress {
  public:
    // `names`: one per board, in the order of their lines.
    TransferProgress(Output& out, std::vector<std::string> names, int totalBlocks);

    void Update(size_t board, int blocksDone);

    // The bar's text: "COM3 (/dev/ttyUSB0) [#####.....] 48/96 blocks  50%  0:05 left".
    static std::string BarText(const std::string& name, int done, int total, double secondsLeft);

  private:
    Output& out_;
    std::vector<std::string> names_;
    int total_;
    bool bar_;
    std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> started_;
    std::vector<int> lastTenth_;
};

}  // namespace swb808::cli
