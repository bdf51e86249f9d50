#include "cli/remembered_board.h"
#include "protocol/board_facts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <system_error>

namespace swb808::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFileName = "board.json";
constexpr qint64 kMaxSize = 64 * 1024;
constexpr size_t kMaxRates = 16;  // ports outside the table (test ptys, say) come and go

// Closes on scope exit.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// The file's text if it is a regular file of ours; `refusal` says why not when something else
// is there. Nothing and no refusal when there is no file.
struct FileText {
    std::optional<QByteArray> text;
    std::string refusal;
};

// lstat first: a device node is never opened (a serial port would raise its lines); the
// non-blocking open then covers one swapped in since, and O_NOFOLLOW a link.
FileText readOwnFile(int dirFd, const char* name, const std::string& shown) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {std::nullopt, errno == ENOENT ? "" : shown + ": " + std::strerror(errno)};
    if (S_ISLNK(st.st_mode)) return {std::nullopt, shown + " is a symbolic link"};
    if (!S_ISREG(st.st_mode)) return {std::nullopt, shown + " is not a regular file"};
    const Fd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0)
        return {std::nullopt, errno == ELOOP ? shown + " is a symbolic link"
                                             : shown + ": " + std::strerror(errno)};
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {std::nullopt, shown + " is not a regular file"};
    if (st.st_uid != ::geteuid()) return {std::nullopt, shown + " belongs to another user"};
    QByteArray text;
    char buf[4096];
    while (text.size() < kMaxSize) {
        const ssize_t n = ::read(fd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {std::nullopt, shown + ": " + std::strerror(errno)};
        if (n == 0) break;
        text.append(buf, static_cast<qsizetype>(n));
    }
    return {text, ""};
}

// One line per cause and process: a command that loads twice says it once.
void warnOnce(const std::function<void(const std::string&)>& warn, const std::string& line) {
    static std::mutex mutex;
    static std::set<std::string> said;
    {
        const std::lock_guard lock(mutex);
        if (!said.insert(line).second) return;
    }
    if (warn) warn(line);
}

void warnOnStderr(const std::string& line) {
    std::fprintf(stderr, "swb808ctl: %s\n", line.c_str());
}

std::optional<RememberedBoard> parse(const QByteArray& text) {
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const std::string device = o.value("device").toString().toStdString();
    const int baud = o.value("baud").toInt(0);
    if (device.empty() || device.front() != '/') return std::nullopt;
    // The COM table may have changed (another SWB808_PORT_DIR): the device decides, and one
    // outside the table is remembered by its path alone.
    PortTarget target{PortRef::Device(device)};
    for (const PortTarget& t : AllComTargets())
        if (t.DevicePath() == device) target = t;
    RememberedBoard found{target, board::RateIndex(baud) ? baud : 0, {}};
    for (const QJsonValue& v : o.value("rates").toArray()) {
        const std::string d = v.toObject().value("device").toString().toStdString();
        const int rate = v.toObject().value("baud").toInt(0);
        const bool seen = std::any_of(found.rates.begin(), found.rates.end(),
                                      [&d](const auto& r) { return r.first == d; });
        if (!d.empty() && d.front() == '/' && board::RateIndex(rate) && !seen &&
            found.rates.size() < kMaxRates)
            found.rates.emplace_back(d, rate);
    }
    // A file from before the rates were kept per port.
    if (found.rates.empty() && found.baud > 0) found.rates.emplace_back(device, found.baud);
    return found;
}

QByteArray serialize(const RememberedBoard& board) {
    QJsonObject o;
    o["port"] =
        board.port.com > 0 ? QJsonValue(QString("COM%1").arg(board.port.com)) : QJsonValue();
    o["device"] = QString::fromStdString(board.port.DevicePath());
    o["baud"] = board.baud;
    QJsonArray rates;
    for (const auto& [device, baud] : board.rates)
        rates.append(QJsonObject{{"device", QString::fromStdString(device)}, {"baud", baud}});
    o["rates"] = rates;
    return QJsonDocument(o).toJson();
}

// The directory the file goes into, created if need be, opened without following a link and
// owned by the user running the tool.
int openStateDirectory(const fs::path& dir, std::string& why) {
    std::error_code ec;
    fs::create_directories(dir.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = dir.string() + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = dir.string() + (errno == ELOOP     ? " is a symbolic link"
                              : errno == ENOTDIR ? " is not a directory"
                                                 : std::string(": ") + std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        why = dir.string() + " belongs to another user";
        return -1;
    }
    return fd;
}

// Writes `text` to a new file beside the old one and renames it into place, all relative to
// the checked directory, so that no link on the way is followed.
bool replaceFile(int dirFd, const QByteArray& text, const std::string& shown, std::string& why) {
    std::mt19937 random(std::random_device{}());
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temp = "." + std::string(kFileName) + "." + std::to_string(random() % 1000000);
        fd = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        why = shown + ": " + std::strerror(errno);
        return false;
    }
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::write(fd, text.constData() + done, static_cast<size_t>(text.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    const int writeErrno = errno;
    const bool written = done == text.size() && ::fsync(fd) == 0;
    const int syncErrno = errno;
    ::close(fd);
    if (!written || ::renameat(dirFd, temp.c_str(), dirFd, kFileName) != 0) {
        why = shown + ": " +
              std::strerror(done != text.size() ? writeErrno
                            : !written          ? syncErrno
                                                : errno);
        ::unlinkat(dirFd, temp.c_str(), 0);
        return false;
    }
    return true;
}

}  // namespace

int RememberedBoard::RateAt(const PortTarget& target) const {
    if (target == port) return baud;
    for (const auto& [device, rate] : rates)
        if (device == target.DevicePath()) return rate;
    return 0;
}

std::string RememberedBoardPath() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        base = state;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
        base = std::string(home) + "/.local/state";
    else
        return {};
    return base + "/swb808/" + kFileName;
}

std::optional<RememberedBoard> LoadRememberedBoard() {
    return LoadRememberedBoard(warnOnStderr);
}

std::optional<RememberedBoard> LoadRememberedBoard(
    const std::function<void(const std::string&)>& warn) {
    const std::string path = RememberedBoardPath();
    if (path.empty()) return std::nullopt;
    const FileText file = readOwnFile(AT_FDCWD, path.c_str(), path);
    if (!file.refusal.empty()) warnOnce(warn, "not using the remembered board: " + file.refusal);
    if (!file.text) return std::nullopt;
    return parse(*file.text);
}

bool SaveRememberedBoard(const RememberedBoard& board) {
    std::string why;
    return SaveRememberedBoard(board, why);
}

bool SaveRememberedBoard(const RememberedBoard& board, std::string& why) {
    why.clear();
    const std::string path = RememberedBoardPath();
    if (path.empty()) {
        why = "neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    if (!board.port.IsSet()) {
        why = "no port";
        return false;
    }
    const Fd dir(openStateDirectory(fs::path(path).parent_path(), why));
    if (dir.fd < 0) return false;
    const FileText current = readOwnFile(dir.fd, kFileName, path);
    // Another user's file in our own directory is replaced; a link or a FIFO there is not
    // ours to remove.
    if (!current.text && !current.refusal.empty() &&
        current.refusal != path + " belongs to another user") {
        why = current.refusal;
        return false;
    }

    RememberedBoard next{board.port, board.baud, {}};
    if (board.baud > 0) next.rates.emplace_back(board.port.DevicePath(), board.baud);
    if (const auto old = current.text ? parse(*current.text) : std::nullopt)
        for (const auto& r : old->rates)
            if (r.first != board.port.DevicePath() && next.rates.size() < kMaxRates)
                next.rates.push_back(r);
    const QByteArray text = serialize(next);
    // A script that switches relays in a loop need not rewrite the same file each time.
    if (current.text == text) return true;
    return replaceFile(dir.fd, text, path, why);
}

}  // namespace swb808::cli
