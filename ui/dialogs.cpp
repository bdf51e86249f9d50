#include "ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <exception>

namespace swb808 {

namespace {

std::unique_ptr<Dialogs>& Installed() {
    static std::unique_ptr<Dialogs> dialogs = std::make_unique<QtDialogs>();
    return dialogs;
}

void ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
             const QString& button) {
    QMessageBox box(icon, caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(box.addButton(button, QMessageBox::RejectRole));
    box.exec();
}

}  // namespace

Dialogs& CurrentDialogs() {
    return *Installed();
}

std::unique_ptr<Dialogs> SetDialogs(std::unique_ptr<Dialogs> dialogs) {
    if (!dialogs) dialogs = std::make_unique<QtDialogs>();
    return std::exchange(Installed(), std::move(dialogs));
}

void RunHandler(std::function<void()> handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        CurrentDialogs().ShowException(QString::fromUtf8(e.what()));
    }
}

void QtDialogs::ShowError(const QString& text) {
    ShowBox(QMessageBox::Critical, QStringLiteral("Fehler"), text, QStringLiteral("&Abbrechen"));
}

void QtDialogs::ShowWarning(const QString& text) {
    ShowBox(QMessageBox::Warning, QStringLiteral("Warnung"), text, QStringLiteral("OK"));
}

void QtDialogs::ShowException(const QString& message) {
    ShowBox(QMessageBox::Critical, QApplication::applicationName(), message, QStringLiteral("OK"));
}

std::optional<QString> QtDialogs::OpenFileName(const QString& filter) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

}  // namespace swb808
