#include "serial/lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
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

// What a lock file says, read once; `dev` and `ino` tell it from a file made later under the
// same name.
struct LockState {
    pid_t owner = 0;    // 0: none, or a number that is no PID
    bool held = false;  // unreadable, or empty and fresh: someone else's all the same
    bool opened = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

// Ten ASCII characters (space-padded) or a binary int; only a positive pid_t counts, so that
// 4294967297 is not PID 1.
pid_t parseOwner(std::string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\n' || c == '\t' || (c >= '0' && c <= '9');
    });
    if (ascii) {
        const auto first = text.find_first_not_of(" \t\n");
        if (first == std::string_view::npos) return 0;
        const auto last = text.find_last_not_of(" \t\n");
        const std::string_view digits = text.substr(first, last - first + 1);
        unsigned long long value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
        return value <= static_cast<unsigned long long>(std::numeric_limits<pid_t>::max())
                   ? static_cast<pid_t>(value)
                   : 0;
    }
    if (text.size() == sizeof(int)) {
        int pid = 0;
        std::memcpy(&pid, text.data(), sizeof pid);
        return pid > 0 ? pid : 0;
    }
    return 0;
}

// Younger than a second either way: a clock set back does not make a file fresh for good.
bool justMade(const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long ageNs =
        (static_cast<long long>(now.tv_sec) - st.st_mtim.tv_sec) * 1000000000LL +
        (now.tv_nsec - st.st_mtim.tv_nsec);
    return ageNs > -1000000000LL && ageNs < 1000000000LL;
}

LockState readLock(const fs::path& file) {
    LockState state;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        // A file we may not read may well be live: another user's, made under a tight umask.
        state.held = errno == EACCES;
        return state;
    }
    state.opened = true;
    struct stat st {};
    std::array<char, 32> buf{};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        state.dev = st.st_dev;
        state.ino = st.st_ino;
        n = ::read(fd, buf.data(), buf.size());
    }
    ::close(fd);
    if (n == 0 && justMade(st)) state.held = true;
    if (n > 0) state.owner = parseOwner(std::string_view(buf.data(), static_cast<size_t>(n)));
    return state;
}

bool alive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool held(const LockState& state) {
    return state.held || alive(state.owner);
}

// Removes a stale file unless another process has replaced it since it was read.
void removeStale(const fs::path& file, const LockState& state) {
    struct stat st {};
    if (state.opened &&
        (::lstat(file.c_str(), &st) != 0 || st.st_dev != state.dev || st.st_ino != state.ino))
        return;
    ::unlink(file.c_str());
}

}  // namespace

bool LockedByLiveProcess(const std::string& device) {
    const std::string name = lockName(device);
    for (const auto& dir : lockDirectories())
        if (held(readLock(fs::path(dir) / name))) return true;
    return false;
}

CreatedLock CreateLockFile(const std::string& device) {
    const std::string name = lockName(device);
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(::getpid()));
    for (const auto& dir : lockDirectories()) {
        const fs::path file = fs::path(dir) / name;
        for (int attempt = 0; attempt < 2; ++attempt) {
            // O_EXCL: of two processes that both found no lock, only one gets the file.
            const int fd =
                ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd >= 0) {
                ::fchmod(fd, 0644);  // readable by all whatever the umask, as the custom wants
                const bool written = ::write(fd, content, 11) == 11;
                ::close(fd);
                if (written) return {file.string(), false};
                ::unlink(file.c_str());
                break;
            }
            if (errno != EEXIST) break;
            const LockState state = readLock(file);
            if (held(state)) return {"", true};
            removeStale(file, state);
        }
    }
    return {};
}

void RemoveLockFile(const std::string& lockPath) {
    // A file another process has taken over since (after judging ours stale) is its own.
    if (!lockPath.empty() && readLock(lockPath).owner == ::getpid()) ::unlink(lockPath.c_str());
}

}  // namespace swb808::posix
