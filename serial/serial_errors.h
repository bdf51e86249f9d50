#pragma once

// Error codes and exceptions of the serial layer.
//
// Inside the layer every operation returns an int32_t: 0 or a count for success, a negative
// code for failure. Only TSerialPort turns negative codes into exceptions (RaiseOnError).
//
// Operating-system errors: the listed numbers 2..162 keep their fixed texts. An errno value e
// that has no listed equivalent is carried as code -(kErrnoCodeBase + e) and raised as
// EInOutError with ErrorCode kErrnoCodeBase + e; its text is the system's own (strerror), so
// a Linux errno is never shown under the text of an unrelated listed number. The mapping of
// errno onto codes is ErrnoToCode below.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace swb808 {

// Library codes.
inline constexpr int32_t ecBadId = -2001;
inline constexpr int32_t ecNotOpen = -2007;
inline constexpr int32_t ecAlreadyOpen = -2008;
inline constexpr int32_t ecNoPortSelected = -2011;
inline constexpr int32_t ecPutBlockFail = -3004;
inline constexpr int32_t ecOutputBufferTooSmall = -3006;
inline constexpr int32_t ecBufferIsEmpty = -3007;
inline constexpr int32_t ecNoMoreTriggers = -5001;
inline constexpr int32_t ecTriggerTooLong = -5002;
inline constexpr int32_t ecOutOfMemory = -8;
inline constexpr int32_t ecAccessDenied = -5;  // "File access denied"

// errno e travels as -(kErrnoCodeBase + e); see the note above.
inline constexpr int32_t kErrnoCodeBase = 10000;

class ESerialException : public std::runtime_error {
  public:
    ESerialException(const std::string& message, int32_t code)
        : std::runtime_error(message), ErrorCode(code) {}
    int32_t ErrorCode;
};

#define SWB808_SERIAL_EXCEPTION(name)                                                       \
    class name : public ESerialException {                                                  \
      public:                                                                               \
        name(const std::string& message, int32_t code) : ESerialException(message, code) {} \
    }

SWB808_SERIAL_EXCEPTION(EBadId);
SWB808_SERIAL_EXCEPTION(ECommNotOpen);
SWB808_SERIAL_EXCEPTION(EAlreadyOpen);
SWB808_SERIAL_EXCEPTION(ENoPortSelected);
SWB808_SERIAL_EXCEPTION(EPutBlockFail);
SWB808_SERIAL_EXCEPTION(EOutputBufferTooSmall);
SWB808_SERIAL_EXCEPTION(EBufferIsEmpty);
SWB808_SERIAL_EXCEPTION(ENoMoreTriggers);
SWB808_SERIAL_EXCEPTION(ETriggerTooLong);

#undef SWB808_SERIAL_EXCEPTION

// Operating-system errors: ErrorCode is the positive number (2..162, or kErrnoCodeBase + errno).
class EInOutError : public std::runtime_error {
  public:
    EInOutError(const std::string& message, int32_t code)
        : std::runtime_error(message), ErrorCode(code) {}
    int32_t ErrorCode;
};

// The text for a code, looked up by absolute value; "" when none is known.
std::string PortErrorText(int16_t code);

// Maps an errno value onto a (negative) library code. `opening` selects the meanings errno
// has when a device is opened or locked: ENOENT/ENODEV/ENXIO -> ecBadId,
// EWOULDBLOCK/EBUSY -> ecAlreadyOpen. EACCES/EPERM -> ecAccessDenied (5, "File access
// denied") always; ENOMEM -> ecOutOfMemory; everything else -(kErrnoCodeBase + e).
int32_t ErrnoToCode(int e, bool opening = false);

// Throws the exception for a negative code (0 and above return unchanged):
// listed library codes -> their ESerialException subclass; -8 -> std::bad_alloc;
// -2..-162 and errno codes -> EInOutError; anything else -> ESerialException with ErrorCode 0.
int32_t RaiseOnError(int32_t code);

}  // namespace swb808
