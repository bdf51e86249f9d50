#pragma once

// A board on its port, opened here: the commands' calls go to its link, and its input
// changes come as the session's events, on this thread.

#include <deque>
#include <memory>

#include "cli/board_access.h"
#include "cli/board_link.h"

namespace swb808::cli {

class DirectBoard : public BoardAccess {
  public:
    explicit DirectBoard(std::unique_ptr<BoardLink> link);

    BoardLink& Link() { return *link_; }

    const PortTarget& Target() const override { return link_->Target(); }
    int Baud() const override { return link_->Baud(); }
    BoardRecords Records() const override { return link_->Records(); }
    std::string Key() const override;

    void WriteRelays(uint8_t mask) override { link_->WriteRelays(mask); }
    void ChangeRelays(uint8_t bits, RelayAction action) override;
    void WriteConfig(const ConfigValues& values) override { link_->WriteConfig(values); }
    bool Reset(const std::vector<int>& rates) override { return link_->Reset(rates); }

    uint8_t FollowInputs() override;
    std::optional<BoardEvent> NextInputChange(
        std::chrono::steady_clock::time_point deadline) override;

  private:
    std::unique_ptr<BoardLink> link_;
    BoardEvents::Subscription subscription_;  // goes before the link
    std::deque<BoardEvent> changes_;
};

}  // namespace swb808::cli
