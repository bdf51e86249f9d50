#pragma once

// A stand-in for the program's dialogs: records what would have been shown and answers the
// file-open dialog from a queue, so no test ever blocks on a modal dialog.
//   swb808::testing::ScopedRecordingDialogs dialogs;   // then dialogs->shown, fileAnswers
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "ui/dialogs.h"

namespace swb808::testing {

class RecordingDialogs : public Dialogs {
  public:
    enum Kind { Error, Warning, Exception, OpenFile };
    struct Shown {
        Kind kind;
        QString text;  // message, or the filter of the file-open dialog
    };

    void ShowError(const QString& text) override { shown.push_back({Error, text}); }
    void ShowWarning(const QString& text) override { shown.push_back({Warning, text}); }
    void ShowException(const QString& message) override { shown.push_back({Exception, message}); }
    std::optional<QString> OpenFileName(const QString& filter) override {
        shown.push_back({OpenFile, filter});
        if (fileAnswers.empty()) return std::nullopt;
        const QString answer = fileAnswers.front();
        fileAnswers.pop_front();
        if (answer.isNull()) return std::nullopt;
        return answer;
    }

    std::vector<Shown> shown;
    std::deque<QString> fileAnswers;  // a null QString() = cancelled
};

// Installs recording dialogs for the lifetime of the guard.
class ScopedRecordingDialogs {
  public:
    ScopedRecordingDialogs() {
        auto own = std::make_unique<RecordingDialogs>();
        dialogs_ = own.get();
        previous_ = SetDialogs(std::move(own));
    }
    ~ScopedRecordingDialogs() { SetDialogs(std::move(previous_)); }
    ScopedRecordingDialogs(const ScopedRecordingDialogs&) = delete;
    ScopedRecordingDialogs& operator=(const ScopedRecordingDialogs&) = delete;
    RecordingDialogs* operator->() const { return dialogs_; }
    RecordingDialogs& operator*() const { return *dialogs_; }

  private:
    RecordingDialogs* dialogs_;
    std::unique_ptr<Dialogs> previous_;
};

}  // namespace swb808::testing
