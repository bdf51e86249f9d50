#pragma once

// The tool's exit statuses and the failure that carries one up to main.

#include <stdexcept>
#include <string>

#include "connection/result.h"

namespace swb808::cli {

enum class ExitStatus : int {
    Done = 0,
    Usage = 1,
    OutputFailed = 1,    // stdout could not be written (not a reader that went away)
    NoBoard = 2,         // no board found, or it did not answer
    PortError = 3,       // missing, in use, no permission, line lost
    FileError = 4,       // firmware file missing, wrong size, unreadable
    TransferFailed = 5,  // flash: wrong sum, no answer, aborted
    Interrupted = 130,   // Ctrl-C outside a transfer's block phase (128 + SIGINT)
};

// A failure with the one line that explains it on stderr.
class CliFailure : public std::runtime_error {
  public:
    CliFailure(ExitStatus status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    ExitStatus Status() const { return status_; }

  private:
    ExitStatus status_;
};

// The status for an error of the board's API.
constexpr ExitStatus ExitStatusOf(BoardErrc code) {
    switch (code) {
        case BoardErrc::NoAnswer:
        case BoardErrc::OtherBoard:
            return ExitStatus::NoBoard;
        case BoardErrc::BadArgument:
            return ExitStatus::Usage;
        case BoardErrc::Stopped:
            return ExitStatus::Interrupted;
        default:
            return ExitStatus::PortError;  // the port or its line
    }
}

// The status for a failed answer of swb808d's API, as for the board's error behind it: 504 a
// board that stays silent, 400 a value refused, the rest (503 offline, 409 flashing or another
// board) the port or its line.
constexpr ExitStatus ExitStatusOfAnswer(int httpStatus) {
    switch (httpStatus) {
        case 504:
            return ExitStatus::NoBoard;
        case 400:
            return ExitStatus::Usage;
        default:
            return ExitStatus::PortError;
    }
}

}  // namespace swb808::cli
