#pragma once

// A temporary port directory for one test: SWB808_PORT_DIR points at it while the object
// lives, and pseudo-terminals are linked into it as comN. Lock files go to its own lock
// directory (SWB808_LOCK_DIR), never the system's.

#include <string>

#include "sim/pseudo_terminal.h"

namespace swb808::test {

class TempPortDir {
  public:
    TempPortDir();
    ~TempPortDir();
    TempPortDir(const TempPortDir&) = delete;
    TempPortDir& operator=(const TempPortDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string LockDir() const { return path_ + "/locks"; }
    std::string ComPath(int n) const { return path_ + "/com" + std::to_string(n); }
    // Makes `pty` COM port n.
    void Link(sim::PseudoTerminal& pty, int n) const { pty.LinkAs(ComPath(n)); }

  private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
    std::string previousLocks_;
    bool hadPreviousLocks_ = false;
};

}  // namespace swb808::test
