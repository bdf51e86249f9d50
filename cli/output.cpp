#include "cli/output.h"

#include <QJsonDocument>

#include <unistd.h>

#include <cstdio>

#include "protocol/board_text.h"

namespace swb808::cli {

Output::Output(bool json, bool quiet)
    : json_(json), quiet_(quiet), stdoutTty_(::isatty(STDOUT_FILENO) == 1) {}

void Output::Write(std::FILE* stream, std::string_view text) {
    const std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void Output::Text(const std::string& line) {
    if (json_ || quiet_) return;
    Write(stdout, line + "\n");
}

void Output::Document(const QJsonObject& document) {
    if (!json_) return;
    Write(stdout, QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString());
}

void Output::JsonLine(const QJsonObject& object) {
    if (!json_) return;
    Write(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
}

void Output::Redraw(int linesUp, const std::string& text) {
    if (json_ || quiet_) return;
    std::string s;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "A";
    s += "\r\x1b[2K" + text;
    if (linesUp > 0) s += "\x1b[" + std::to_string(linesUp) + "B";
    s += "\r";
    Write(stdout, s);
}

void Output::Warn(const std::string& message) {
    if (quiet_) return;
    Write(stderr, "swb808ctl: " + message + "\n");
}

void Output::Error(const std::string& message) {
    Write(stderr, "swb808ctl: " + message + "\n");
}

QString BoardText(const std::string& raw) {
    return QString::fromStdString(AnsiToUtf8(raw));
}

std::string BoardTextUtf8(const std::string& raw) {
    return AnsiToUtf8(raw);
}

}  // namespace swb808::cli
