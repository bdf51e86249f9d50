#pragma once

// Kept apart because <asm/termbits.h> (any integer rate) clashes with <termios.h>.
namespace swb808::sim {
// The input rate the pseudo-terminal's slave side is set to, read through its master; 0 on error.
unsigned ReadLineRate(int masterFd);
// Sets any integer rate (both directions) on a terminal, as the program's port does; false on
// error. For tests that stand in for the program on rates without a B constant (14400, ...).
bool SetLineRate(int fd, unsigned rate);
}  // namespace swb808::sim
