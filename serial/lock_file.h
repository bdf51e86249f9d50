#pragma once

// Lock files in the UUCP manner (LCK..ttyUSB0 holding the owner's PID), by which terminal
// programs mark a serial device busy without locking the device itself.
//
// The lock directory is $SWB808_LOCK_DIR when that is set (only there is looked; tests use it
// so that they never write into the system's directory), else /run/lock and /var/lock.

#include <string>

namespace swb808::posix {

// Whether a lock file names `device` (a path, symbolic links followed) and its process lives.
// A file whose process is gone, or that names none, does not count.
bool LockedByLiveProcess(const std::string& device);

// Creates this process's lock file for `device` and returns its path; "" when none could be
// made (no writable lock directory, or a live one exists), which is no error.
std::string CreateLockFile(const std::string& device);

// Removes a lock file that CreateLockFile made ("" does nothing).
void RemoveLockFile(const std::string& lockPath);

}  // namespace swb808::posix
