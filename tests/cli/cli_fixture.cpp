#include "tests/cli/cli_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace swb808::cli::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Starts `argv` with `env` added; the pipes given become its stdin/stdout/stderr (-1: null,
// StdoutTo::kClosed for stdout: closed).
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int in, int out, int err) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // In the child: plain system calls only.
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(in >= 0 ? in : null, 0);
    if (out == StdoutTo::kClosed)
        ::close(1);
    else
        ::dup2(out >= 0 ? out : null, 1);
    ::dup2(err >= 0 ? err : null, 2);
    for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Reads what is there within `wait` onto `into`; false at end of file.
bool ReadSome(int fd, std::string& into, std::chrono::milliseconds wait) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(wait.count())) <= 0) return true;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    into.append(buf, size_t(n));
    return true;
}

// After the process ended: everything left in the pipe.
void DrainToEnd(int fd, std::string& into) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) return;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return;
        into.append(buf, size_t(n));
    }
}

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "swb808-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace

SimProcess::SimProcess(const std::string& portDir, int com,
                       const std::vector<std::string>& options) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> argv{SWB808_SIM_EXE, "--link", portDir + "/com" + std::to_string(com)};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = Spawn(argv, {}, in[0], out[1], -1);
    ::close(in[0]);
    ::close(out[1]);
    toSim_ = in[1];
    fromSim_ = out[0];
    ready_ = ReadLine(10s).rfind("ready ", 0) == 0;
}

bool SimProcess::StatusShows(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Status().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

SimProcess::~SimProcess() {
    if (toSim_ >= 0) {
        (void)!::write(toSim_, "quit\n", 5);
        ::close(toSim_);
    }
    if (pid_ > 0) {
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (fromSim_ >= 0) ::close(fromSim_);
}

std::string SimProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (buffered_.find('\n') == std::string::npos && Clock::now() < deadline)
        if (!ReadSome(fromSim_, buffered_, 50ms)) break;
    const auto nl = buffered_.find('\n');
    if (nl == std::string::npos) return {};
    std::string line = buffered_.substr(0, nl);
    buffered_.erase(0, nl + 1);
    return line;
}

std::string SimProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(toSim_, text.data(), text.size()) != ssize_t(text.size())) return {};
    return ReadLine(5s);
}

CtlProcess::CtlProcess(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env, StdoutTo stdoutTo) {
    int out[2] = {-1, stdoutTo.fd}, err[2];
    if ((stdoutTo.fd == StdoutTo::kPipe && ::pipe2(out, O_CLOEXEC) != 0) ||
        ::pipe2(err, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> argv{SWB808CTL_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = Spawn(argv, env, -1, out[1], err[1]);
    if (stdoutTo.fd == StdoutTo::kPipe) ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

void CtlProcess::CloseOutput() {
    if (outFd_ >= 0) ::close(outFd_);
    outFd_ = -1;
}

CtlProcess::~CtlProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

void CtlProcess::Collect(std::chrono::milliseconds wait) {
    pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(p, 2, int(wait.count())) <= 0) return;
    if (p[0].revents) ReadSome(outFd_, out_, 0ms);
    if (p[1].revents) ReadSome(errFd_, err_, 0ms);
}

bool CtlProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (out_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !Running()) return out_.find(text) != std::string::npos;
        Collect(20ms);
    }
    return true;
}

bool CtlProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (err_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !Running()) return err_.find(text) != std::string::npos;
        Collect(20ms);
    }
    return true;
}

void CtlProcess::Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

bool CtlProcess::Running() {
    if (pid_ <= 0) return false;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid_ = -1;
    Collect(0ms);
    return false;
}

CtlResult CtlProcess::Finish(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Running() && Clock::now() < deadline) Collect(20ms);
    if (Running()) {
        ADD_FAILURE() << "swb808ctl did not end in time; killed";
        ::kill(pid_, SIGKILL);
        Running();
        ::waitpid(pid_, nullptr, 0);
    }
    DrainToEnd(outFd_, out_);
    DrainToEnd(errFd_, err_);
    return {status_, out_, err_};
}

CliTest::CliTest()
    : dir_(MakeTempDir()),
      portDir_(dir_ + "/ports"),
      stateDir_(dir_ + "/state"),
      lockDir_(dir_ + "/lock") {
    // A simulator that quit on a test's command is still told to quit at the end.
    ::signal(SIGPIPE, SIG_IGN);
    std::filesystem::create_directories(portDir_);
    std::filesystem::create_directories(lockDir_);
}

bool CliTest::NoLockFiles() const {
    return std::filesystem::is_empty(lockDir_);
}

CliTest::~CliTest() {
    boards_.clear();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

SimProcess& CliTest::Board(int com, std::vector<std::string> options) {
    boards_.push_back(std::make_unique<SimProcess>(portDir_, com, options));
    EXPECT_TRUE(boards_.back()->Ready()) << "simulator on COM" << com << " did not start";
    return *boards_.back();
}

std::map<std::string, std::string> CliTest::Env() const {
    // No service unless a test puts one there: the tool looks for its socket and goes on.
    return {{"SWB808_PORT_DIR", portDir_},
            {"XDG_STATE_HOME", stateDir_},
            {"SWB808_LOCK_DIR", lockDir_},
            {"SWB808_SOCKET", SocketPath()}};
}

CtlResult CliTest::Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    CtlProcess p(args, Env());
    return p.Finish(timeout);
}

std::unique_ptr<CtlProcess> CliTest::Start(const std::vector<std::string>& args,
                                           StdoutTo stdoutTo) {
    return std::make_unique<CtlProcess>(args, Env(), stdoutTo);
}

QJsonObject CliTest::Remembered() const {
    QFile f(QString::fromStdString(StateFile()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

void CliTest::Remember(int com, int baud) const {
    std::filesystem::create_directories(stateDir_ + "/swb808");
    std::ofstream(StateFile()) << "{\"port\": \"COM" << com << "\", \"device\": \"" << ComPath(com)
                               << "\", \"baud\": " << baud << "}\n";
}

std::string CliTest::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

std::vector<uint8_t> CliTest::FlashOf(SimProcess& board) const {
    const std::string path = dir_ + "/flash-" + std::to_string(++flashReads_) + ".bin";
    if (board.Command("image " + path) != "ok") return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> MakeImage(const std::string& version, uint8_t fill) {
    // Every block differs from the others, so a block written twice or out of place shows.
    std::vector<uint8_t> image(6144);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(fill + i / 64 * 7 + i % 64);
    std::memcpy(image.data() + 95, version.data(), std::min<size_t>(version.size(), 5));
    std::memcpy(image.data() + 100, "WXYZVERSION", 11);
    // With its checksum in place, as a built image has it: the flash then equals the file.
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 < image.size(); ++i) sum = uint16_t(sum + image[i]);
    image[6142] = uint8_t(sum & 0xFF);
    image[6143] = uint8_t(sum >> 8);
    return image;
}

}  // namespace swb808::cli::test
