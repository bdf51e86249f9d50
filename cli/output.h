#pragma once

// Everything the tool prints: results as text or as JSON on stdout, warnings and failures as
// single lines on stderr. Safe to call from several threads (one line at a time).
// A stream that is full never holds the tool past a signal. Once stdout fails (its reader
// gone, a full disk, closed) nothing more is written to it, and the command is told to stop.

#include <QJsonObject>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/stream_sink.h"

namespace swb808::cli {

class Output {
  public:
    Output(bool json, bool quiet, ClosedStreams closed = {});
    ~Output();

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

    // Plain text on stdout, in any mode (--help).
    void Raw(std::string_view text);

    // True once stdout could not be written; then StdoutErrno says why (EPIPE: the reader
    // has gone, which is how a pipeline ends early, not a failure).
    bool StdoutLost();
    int StdoutErrno();
    // Sees a reader that has gone without writing (a pipe), and counts it as lost.
    bool ReaderGone();
    // The one line for a stdout that failed other than by EPIPE; nullopt when none did.
    std::optional<std::string> StdoutFailure();

  private:
    void WriteOut(std::string_view text);
    void WriteErr(std::string_view text);

    bool json_;
    bool quiet_;
    bool stdoutTty_;
    std::mutex mutex_;
    std::unique_ptr<StreamSink> out_;
    std::unique_ptr<StreamSink> err_;
    int stdoutErrno_ = 0;  // under mutex_
};

// Board texts (version, identity) are Windows-1252; zero bytes are padding.
QString BoardText(const std::string& raw);
std::string BoardTextUtf8(const std::string& raw);

}  // namespace swb808::cli
