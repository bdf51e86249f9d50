#pragma once

// Everything the tool prints: results as text or as JSON on stdout, warnings and failures as
// single lines on stderr. Safe to call from several threads (one line at a time).

#include <QJsonObject>
#include <QString>

#include <mutex>
#include <string>
#include <string_view>

namespace swb808::cli {

class Output {
  public:
    Output(bool json, bool quiet);

    bool Json() const { return json_; }
    bool Quiet() const { return quiet_; }
    bool StdoutIsTerminal() const { return stdoutTty_; }

    // A result line in text mode; nothing with --json or --quiet.
    void Text(const std::string& line);
    // The one JSON document of a command (--json only).
    void Document(const QJsonObject& document);
    // One compact JSON object on a line of its own (watch).
    void JsonLine(const QJsonObject& object);
    // Progress on a terminal: `text` replaces what is on screen `linesUp` lines above the
    // cursor (0: the current line). Text mode, not --quiet.
    void Redraw(int linesUp, const std::string& text);
    // Lines on stderr, prefixed "swb808ctl: ". Warnings are left out with --quiet.
    void Warn(const std::string& message);
    void Error(const std::string& message);

  private:
    void Write(std::FILE* stream, std::string_view text);

    bool json_;
    bool quiet_;
    bool stdoutTty_;
    std::mutex mutex_;
};

// Board texts (version, identity) are Windows-1252; zero bytes are padding.
QString BoardText(const std::string& raw);
std::string BoardTextUtf8(const std::string& raw);

}  // namespace swb808::cli
