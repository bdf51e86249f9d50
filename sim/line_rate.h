#pragma once

// Kept apart because <asm/termbits.h> (any integer rate) clashes with <termios.h>.
namespace swb808::sim {
// The input rate the pseudo-terminal's slave side is set to, read through its master; 0 on error.
unsigned ReadLineRate(int masterFd);
}  // namespace swb808::sim
