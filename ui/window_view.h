#pragma once

// The window's side of its session: what the board logic reports, shown on the widgets.

#include "connection/session_view.h"

namespace swb808 {

class TSWB808Form;

class TWindowView : public SessionView {
  public:
    explicit TWindowView(TSWB808Form& form) : f_(form) {}

    void StatusText(const std::string& text) override;
    void Message(const std::string& line, TColor colour) override;
    void Progress(int value) override;
    void ScanBegins() override;
    void ScanEnds(bool found) override;
    void Connected(const BoardRecords& records) override;
    void Disconnected() override;
    void ResetBegins() override;
    void SelectAutoBaud() override;
    void RelaysShown(uint8_t mask) override;
    void InputsShown(uint8_t mask) override;
    void FlashBegins() override;
    void FlashBlocksEnded() override;
    void FlashEnds() override;
    void ShowError(const std::string& text) override;
    void ShowWarning(const std::string& text) override;

  private:
    TSWB808Form& f_;
};

}  // namespace swb808
