#pragma once

// End-to-end fixture: the real swb808ctl executable against swb808-sim processes, in a
// temporary port directory and a temporary XDG state directory.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace swb808::cli::test {

// One swb808-sim process on COM n, with its console on a pipe.
class SimProcess {
  public:
    SimProcess(const std::string& portDir, int com, const std::vector<std::string>& options);
    ~SimProcess();  // quit, wait
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ready() const { return ready_; }
    // Sends a console command and returns the reply line ("ok", the status text, ...).
    std::string Command(const std::string& line);
    std::string Status() { return Command("status"); }
    // Whether the status shows `text` within a few seconds: a frame the tool wrote before it
    // exited may still be on its way through the pseudo-terminal.
    bool StatusShows(const std::string& text);

  private:
    std::string ReadLine(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int toSim_ = -1;
    int fromSim_ = -1;
    std::string buffered_;
    bool ready_ = false;
};

struct CtlResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    QJsonObject Json() const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    }
};

// Where a swb808ctl's stdout goes: a pipe the test reads, or a descriptor of the test's own
// (kClosed: none at all).
struct StdoutTo {
    static constexpr int kPipe = -1;
    static constexpr int kClosed = -2;
    int fd = kPipe;
};

// A swb808ctl process that runs in the background.
class CtlProcess {
  public:
    CtlProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               StdoutTo stdoutTo = {});
    ~CtlProcess();
    CtlProcess(const CtlProcess&) = delete;
    CtlProcess& operator=(const CtlProcess&) = delete;

    // Waits until stdout (or stderr) holds `text`; false at the timeout.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
    void Signal(int sig);
    // The reader of stdout goes away (`| head -1`).
    void CloseOutput();
    bool Running();
    // Waits for the end (killing it after `timeout`) and collects the rest of the output.
    CtlResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(120));
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

  private:
    void Collect(std::chrono::milliseconds wait);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_, err_;
    int status_ = -1;
};

class CliTest : public ::testing::Test {
  protected:
    CliTest();
    ~CliTest() override;

    // A simulated board on COM n (sim options such as "--baud", "115200").
    SimProcess& Board(int com, std::vector<std::string> options = {});
    // Runs swb808ctl to its end.
    CtlResult Run(const std::vector<std::string>& args,
                  std::chrono::milliseconds timeout = std::chrono::seconds(120));
    std::unique_ptr<CtlProcess> Start(const std::vector<std::string>& args, StdoutTo stdoutTo = {});
    // No lock file is left in the tool's lock directory.
    bool NoLockFiles() const;

    std::string ComPath(int com) const { return portDir_ + "/com" + std::to_string(com); }
    std::string StateFile() const { return stateDir_ + "/swb808/board.json"; }
    // Where the tool looks for swb808d's socket; nothing is there unless a test puts it.
    std::string SocketPath() const { return dir_ + "/swb808d.sock"; }
    QJsonObject Remembered() const;
    void Remember(int com, int baud) const;
    const std::string& Dir() const { return dir_; }
    // A file of `size` bytes in the test's directory.
    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;
    // What the board's flash holds now.
    std::vector<uint8_t> FlashOf(SimProcess& board) const;

  private:
    std::map<std::string, std::string> Env() const;

    std::string dir_, portDir_, stateDir_, lockDir_;
    mutable int flashReads_ = 0;
    std::vector<std::unique_ptr<SimProcess>> boards_;
};

// A 6144-byte image with `version` before the marker at offset 100.
std::vector<uint8_t> MakeImage(const std::string& version, uint8_t fill);

}  // namespace swb808::cli::test
