#include "serial/lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace swb808::posix {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lockDirectories() {
    if (const char* dir = std::getenv("SWB808_LOCK_DIR"); dir != nullptr && *dir != 0) return {dir};
    return {"/run/lock", "/var/lock"};
}

// "LCK..ttyUSB0" for /dev/ttyUSB0; below /dev the rest of the path with '_' for '/'
// ("LCK..pts_3"), elsewhere the file name.
std::string lockName(const std::string& device) {
    std::error_code ec;
    fs::path real = fs::canonical(device, ec);
    if (ec) real = device;
    const fs::path rel = real.lexically_relative("/dev");
    std::string name =
        !rel.empty() && *rel.begin() != ".." ? rel.string() : real.filename().string();
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

// The PID a lock file holds: ten ASCII characters (space-padded) or a binary int. 0 if none.
pid_t lockOwner(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return 0;
    std::array<char, 32> buf{};
    const ssize_t n = ::read(fd, buf.data(), buf.size() - 1);
    ::close(fd);
    if (n <= 0) return 0;
    const std::string_view text(buf.data(), static_cast<size_t>(n));
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\n' || c == '\t' || (c >= '0' && c <= '9');
    });
    if (ascii) return static_cast<pid_t>(std::strtol(buf.data(), nullptr, 10));
    if (n == sizeof(int)) {
        int pid = 0;
        std::memcpy(&pid, buf.data(), sizeof pid);
        return pid;
    }
    return 0;
}

bool alive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

bool LockedByLiveProcess(const std::string& device) {
    const std::string name = lockName(device);
    for (const auto& dir : lockDirectories())
        if (alive(lockOwner(fs::path(dir) / name))) return true;
    return false;
}

std::string CreateLockFile(const std::string& device) {
    const std::string name = lockName(device);
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(::getpid()));
    for (const auto& dir : lockDirectories()) {
        const fs::path file = fs::path(dir) / name;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int fd =
                ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd >= 0) {
                const bool written = ::write(fd, content, 11) == 11;
                ::close(fd);
                if (written) return file.string();
                ::unlink(file.c_str());
                break;
            }
            // A stale file is replaced; a live one is someone else's.
            if (errno != EEXIST || alive(lockOwner(file))) break;
            ::unlink(file.c_str());
        }
    }
    return {};
}

void RemoveLockFile(const std::string& lockPath) {
    if (!lockPath.empty()) ::unlink(lockPath.c_str());
}

}  // namespace swb808::posix
