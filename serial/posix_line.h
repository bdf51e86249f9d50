#pragma once

// Line settings and tty ioctls of a POSIX serial device (termios2, any integer rate).
// Kept free of <termios.h>: the implementation uses the kernel's own header, which clashes
// with it. Every function returns 0 or a positive errno value.

#include <cstdint>

namespace swb808::posix {

struct LineParams {
    uint32_t baud = 0;
    int dataBits = 8;
    int parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 1;
};

int GetLine(int fd, LineParams& out);
// Raw mode (no echo, no line editing, no CR/LF mapping), CLOCAL|CREAD, no CRTSCTS, no
// XON/XOFF, VMIN=VTIME=0, the given framing and rate. The rate is read back: EINVAL when the
// device did not take it (more than 2 % off).
int SetRawLine(int fd, const LineParams& p);
// Asserts or clears DTR and RTS. A device without modem lines (ENOTTY/EINVAL) is no error.
int SetModemLines(int fd, bool dtr, bool rts);
int OutQueue(int fd, int& count);
int Flush(int fd, bool input, bool output);
int SetExclusive(int fd, bool on);
// Whether the device is in exclusive mode (TIOCEXCL), by whoever set it; false when the
// device cannot tell.
bool IsExclusive(int fd);

}  // namespace swb808::posix
