// libserialport looks every port up in /sys/class/tty and asks for the modem lines, and a
// pseudo-terminal has neither, so it refuses one. These interposers answer just those
// questions for pseudo-terminal slaves (no sysfs entry: "a plain native port"; modem lines:
// DTR and RTS up, as a line without them reads); everything else goes to the C library.
// Linked only into the peers benchmark.

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

constexpr char kPtsEntry[] = "/sys/class/tty/pts/";

bool IsPtsEntry(const char* path) {
    return path && std::strncmp(path, kPtsEntry, sizeof kPtsEntry - 1) == 0;
}

bool IsPtySlave(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

// The C library's old stat entry, which libserialport still calls.
int __lxstat(int version, const char* path, struct stat* st) {
    static const auto next = Next<int (*)(int, const char*, struct stat*)>("__lxstat");
    if (IsPtsEntry(path)) {
        std::memset(st, 0, sizeof *st);
        st->st_mode = S_IFLNK | 0777;
        return 0;
    }
    return next(version, path, st);
}

ssize_t readlink(const char* __restrict path, char* __restrict buffer, size_t size) noexcept {
    static const auto next = Next<ssize_t (*)(const char*, char*, size_t)>("readlink");
    if (IsPtsEntry(path)) {
        constexpr char target[] = "../../devices/virtual/tty/pts";
        const size_t n = std::min(size, sizeof target - 1);
        std::memcpy(buffer, target, n);
        return static_cast<ssize_t>(n);
    }
    return next(path, buffer, size);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    static const auto next = Next<int (*)(int, unsigned long, ...)>("ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int r = next(fd, request, arg);
    const bool modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (r < 0 && errno == ENOTTY && modem && IsPtySlave(fd)) {
        if (request == TIOCMGET) *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS;
        return 0;
    }
    return r;
}

}  // extern "C"
