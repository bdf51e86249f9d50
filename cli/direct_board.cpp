#include "cli/direct_board.h"

#include "cli/board_report.h"

namespace swb808::cli {

namespace {

constexpr int kTurnMs = 10;

}  // namespace

DirectBoard::DirectBoard(std::unique_ptr<BoardLink> link) : link_(std::move(link)) {}

std::string DirectBoard::Key() const {
    const auto identity = link_->Api().Identity();
    return identity ? identity->key : std::string();
}

void DirectBoard::ChangeRelays(uint8_t bits, RelayAction action) {
    link_->WriteRelays(Switched(link_->Records().relays, bits, action));
}

uint8_t DirectBoard::FollowInputs() {
    subscription_ = link_->Api().Subscribe([this](const BoardEvent& e) {
        if (e.kind == BoardEventKind::InputChange) changes_.push_back(e);
    });
    link_->ListenForInputChanges();
    if (!link_->ReadInputs())
        throw CliFailure(ExitStatus::NoBoard,
                         "no answer to the input read on " + WhereText(Target(), Baud()));
    // What came before the read's answer, the read has seen.
    changes_.clear();
    return link_->Records().inputs;
}

std::optional<BoardEvent> DirectBoard::NextInputChange(
    std::chrono::steady_clock::time_point deadline) {
    while (changes_.empty()) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        link_->Wait(kTurnMs);
    }
    BoardEvent e = std::move(changes_.front());
    changes_.pop_front();
    return e;
}

}  // namespace swb808::cli
