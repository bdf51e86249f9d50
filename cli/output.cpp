#include "cli/output.h"

#include <QJsonDocument>

#include <unistd.h>

#include <cstring>

#include "cli/interrupt.h"
#include "protocol/board_text.h"

namespace swb808::cli {

Output::Output(bool json, bool quiet, ClosedStreams closed)
    : json_(json),
      quiet_(quiet),
      stdoutTty_(!closed.out && ::isatty(STDOUT_FILENO) == 1),
      out_(std::make_unique<StreamSink>(STDOUT_FILENO, closed.out)),
      err_(std::make_unique<StreamSink>(STDERR_FILENO, closed.err)) {}

Output::~Output() = default;

void Output::WriteOut(std::string_view text) {
    const std::lock_guard lock(mutex_);
    if (stdoutErrno_ != 0) return;
    const StreamSink::Result r = out_->Write(text, [] { return StopRequested(); });
    if (r == StreamSink::Result::Broken || r == StreamSink::Result::Failed) {
        stdoutErrno_ = out_->Errno();
        NoteOutputLost();
    }
}

void Output::WriteErr(std::string_view text) {
    const std::lock_guard lock(mutex_);
    // Nowhere left to say that stderr failed.
    (void)err_->Write(text, [] { return StopRequested(); });
}

void Output::Raw(std::string_view text) {
    WriteOut(text);
}

bool Output::StdoutLost() {
    const std::lock_guard lock(mutex_);
    return stdoutErrno_ != 0;
}

int Output::StdoutErrno() {
    const std::lock_guard lock(mutex_);
    return stdoutErrno_;
}

bool Output::ReaderGone() {
    const std::lock_guard lock(mutex_);
    if (stdoutErrno_ == 0 && out_->ReaderGone()) {
        stdoutErrno_ = EPIPE;
        NoteOutputLost();
    }
    return stdoutErrno_ == EPIPE;
}

std::optional<std::string> Output::StdoutFailure() {
    const int e = StdoutErrno();
    if (e == 0 || e == EPIPE) return std::nullopt;
    return std::string("cannot write to stdout: ") +
           (e == EBADF ? "it is closed" : std::strerror(e));
}

void Output::Text(const std::string& line) {
    if (json_ || quiet_) return;
    WriteOut(line + "\n");
}

void Output::Document(const QJsonObject& document) {
    if (!json_) return;
    WriteOut(QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString());
}

void Output::JsonLine(const QJsonObject& object) {
    if (!json_) return;
    WriteOut(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
}

void Output::Redraw(int linesUp, const std::string& text) {
    if (json_ || quiet_) return;
    std::string s;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "A";
    s += "\r\x1b[2K" + text;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "B";
    s += "\r";
    WriteOut(s);
}

void Output::Warn(const std::string& message) {
    if (quiet_) return;
    WriteErr("swb808ctl: " + message + "\n");
}

void Output::Error(const std::string& message) {
    WriteErr("swb808ctl: " + message + "\n");
}

QString BoardText(const std::string& raw) {
    return QString::fromStdString(AnsiToUtf8(raw));
}

std::string BoardTextUtf8(const std::string& raw) {
    return AnsiToUtf8(raw);
}

}  // namespace swb808::cli
