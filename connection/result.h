#pragma once

// Errors as values for the board API: Result<T> holds what a call read or a BoardError, in the
// shape of std::expected<T, BoardError> (which the fuzz build's clang lacks). Front ends turn
// the code into an exit status, a message box or an HTTP status.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace swb808 {

enum class BoardErrc {
    NoAnswer,      // the board did not answer (or answered with another frame)
    LineLost,      // the device vanished under the call
    PortInUse,     // another program (or session) holds the port
    PortMissing,   // no such device
    NoPermission,  // the device exists but may not be opened
    PortFailed,    // any other open failure
    NotConnected,  // the call needs a connected board
    Busy,          // the board is flashing, closing or scanning
    Overloaded,    // the board's request queue is full
    BadArgument,   // a value that does not fit (relay number, configuration range)
    OtherBoard,    // a board with another identity answered
    Stopped,       // a stop request ended the call
    Shutdown,      // the board's owner thread has ended
};

// "no_answer", "line_lost", ...: stable names for logs and JSON.
const char* ErrcName(BoardErrc code);

struct BoardError {
    BoardErrc code = BoardErrc::NoAnswer;
    std::string message;  // one line for the operator, names the port
};

// Tag for constructing a failed result: `return Fail(BoardErrc::Busy, "...")`.
struct Failure {
    BoardError error;
};
inline Failure Fail(BoardErrc code, std::string message) {
    return Failure{BoardError{code, std::move(message)}};
}

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure f) : v_(std::in_place_index<1>, std::move(f.error)) {}

    bool has_value() const { return v_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return assert(has_value()), std::get<0>(v_); }
    const T& value() const& { return assert(has_value()), std::get<0>(v_); }
    T&& value() && { return assert(has_value()), std::get<0>(std::move(v_)); }
    const BoardError& error() const { return assert(!has_value()), std::get<1>(v_); }
    template <class U>
    T value_or(U&& other) const& {
        return has_value() ? std::get<0>(v_) : T(std::forward<U>(other));
    }

    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

  private:
    std::variant<T, BoardError> v_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure f) : error_(std::move(f.error)), failed_(true) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    void value() const { assert(has_value()); }
    const BoardError& error() const { return assert(failed_), error_; }

  private:
    BoardError error_;
    bool failed_ = false;
};

}  // namespace swb808
