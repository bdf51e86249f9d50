#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace swb808 {

// Every modal dialog of the program goes through this seam, so tests can answer them
// without a dialog ever blocking.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // Error box: caption "Fehler", the single button "&Abbrechen".
    virtual void ShowError(const QString& text) = 0;
    // Warning box: caption "Warnung", the single button "OK".
    virtual void ShowWarning(const QString& text) = 0;
    // The general error display for an exception no handler caught.
    virtual void ShowException(const QString& message) = 0;
    // File-open dialog with one filter such as "Firmware binary (*.bin)"; a typed name need
    // not exist. nullopt when the operator cancels.
    virtual std::optional<QString> OpenFileName(const QString& filter) = 0;
};

inline constexpr const char* kFirmwareFileFilter = "Firmware binary (*.bin)";

// The dialogs in use (Qt's modal dialogs unless replaced). UI thread only.
Dialogs& CurrentDialogs();
// Replaces them; returns the previous ones. nullptr restores Qt's dialogs.
std::unique_ptr<Dialogs> SetDialogs(std::unique_ptr<Dialogs> dialogs);

// Runs an event handler; an exception it does not catch ends it and is shown by
// ShowException with the exception's message, as the general error display does.
void RunHandler(std::function<void()> handler);

// Qt's modal dialogs, parented to the active window.
class QtDialogs : public Dialogs {
  public:
    void ShowError(const QString& text) override;
    void ShowWarning(const QString& text) override;
    void ShowException(const QString& message) override;
    std::optional<QString> OpenFileName(const QString& filter) override;
};

}  // namespace swb808
