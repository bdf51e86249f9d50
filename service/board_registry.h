#pragma once

// The service's boards, each with its own owner thread, and its flash jobs. Front ends of the
// service (the HTTP API, later a broker bridge) find a board here, post commands to it
// (BoardOwner::Submit) and follow every board's events through Events().

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/board_owner.h"
#include "service/config.h"
#include "service/event_hub.h"
#include "service/known_boards.h"

namespace swb808::service {

class Metrics;

class BoardRegistry {
  public:
    BoardRegistry(const ServiceConfig& config, KnownBoards& known, EventHub& hub, Metrics& metrics);
    ~BoardRegistry();  // Stop()

    void Start();
    // Every board stops after the command on its wire (a flash's blocks included).
    void Stop();

    BoardOwner* Find(const std::string& id) const;
    const std::vector<std::unique_ptr<BoardOwner>>& Boards() const { return boards_; }
    EventHub& Events() { return hub_; }

    std::string NextJobId();
    void AddJob(std::shared_ptr<FlashJob> job);
    std::shared_ptr<FlashJob> FindJob(const std::string& id) const;

  private:
    EventHub& hub_;
    std::vector<std::unique_ptr<BoardOwner>> boards_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<FlashJob>> jobs_;
    std::map<const BoardOwner*, std::string> ids_;  // every board's id, for unique ones
    uint64_t nextJob_ = 1;
};

}  // namespace swb808::service
