#pragma once

// Lock files in the UUCP manner (LCK..ttyUSB0 holding the owner's PID), by which terminal
// programs mark a serial device busy without locking the device itself.
//
// The lock directory is $SWB808_LOCK_DIR when that is set (only there is looked; tests use it
// so that they never write into the system's directory), else /run/lock and /var/lock.

#include <string>

namespace swb808::posix {

// Whether a lock file names `device` (a path, symbolic links followed) and is held: its process
// lives, or it is empty and less than a second old (its owner is still writing it). A file
// whose process is gone, or that names none (a number outside the PID range), does not count.
bool LockedByLiveProcess(const std::string& device);

struct CreatedLock {
    std::string path;    // "" when none was made
    bool inUse = false;  // another process holds the device's lock file
};

// Creates this process's lock file for `device` (mode 0644). No path and not in use when no
// lock directory can take the file, which is no error; in use when another process holds it,
// also one that made it after the caller's check.
CreatedLock CreateLockFile(const std::string& device);

// Removes a lock file that CreateLockFile made, if it still holds this process's PID ("" does
// nothing).
void RemoveLockFile(const std::string& lockPath);

}  // namespace swb808::posix
