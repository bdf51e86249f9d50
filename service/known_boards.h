#pragma once

// What the service remembers of its boards across restarts, per port: the id it gave the
// board, the board's identity key and the rate it answered at. So a restart neither searches
// the rate again nor takes another board on that port for the old one.
//
// Threads: any; the file is rewritten whole (beside it, then renamed) on every change.

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace swb808::service {

struct KnownBoard {
    std::string id;
    std::string key;
    int baud = 0;
};

class KnownBoards {
  public:
    // `path` empty: nothing is kept.
    explicit KnownBoards(std::string path);

    std::optional<KnownBoard> Find(const std::string& port) const;
    void Remember(const std::string& port, const KnownBoard& board);

    // $STATE_DIRECTORY (a unit's StateDirectory=), else $XDG_STATE_HOME/swb808, else
    // ~/.local/state/swb808; the file swb808d-boards.json in it.
    static std::string DefaultPath();

  private:
    void Save() const;

    const std::string path_;
    mutable std::mutex mutex_;
    std::map<std::string, KnownBoard> boards_;
};

}  // namespace swb808::service
