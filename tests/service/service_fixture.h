#pragma once

// End-to-end fixture: the real swb808d process against simulated boards on pseudo-terminals
// in this process (so a test sees every frame a board took), spoken to over real HTTP.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/board_simulator.h"
#include "tests/support/logged_process.h"
#include "tests/support/port_dir.h"

namespace swb808::service::test {

using namespace std::chrono_literals;

// swb808d in the background; its log is collected as it comes.
class ServiceProcess {
  public:
    ServiceProcess(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env);
    ~ServiceProcess() = default;  // SIGKILL when still running
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout = 20s) {
        return process_.WaitForLog(text, timeout);
    }
    std::string Log() const { return process_.Log(); }
    // From "listening on http://127.0.0.1:PORT/"; 0 when it did not start.
    uint16_t Port();
    void Signal(int sig) { process_.Signal(sig); }
    // Waits for the end (SIGKILL after `timeout`, a failure): the exit status, or 128 + signal.
    int Wait(std::chrono::milliseconds timeout = 60s);

  private:
    swb808::test::LoggedProcess process_;
    uint16_t port_ = 0;
};

struct HttpAnswer {
    int status = 0;                              // 0: no answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    QJsonObject Json() const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    }
    std::string Header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

HttpAnswer Http(uint16_t port, const std::string& method, const std::string& target,
                const std::string& body = {},
                const std::map<std::string, std::string>& headers = {});

// A client of /api/v1/events reading on a plain socket.
class EventClient {
  public:
    // `receiveBuffer` > 0 shrinks the socket's buffer (a slow client that reads nothing).
    EventClient(uint16_t port, const std::map<std::string, std::string>& headers = {},
                int receiveBuffer = 0);
    ~EventClient();
    bool Connected() const { return fd_ >= 0; }
    int Status();  // the answer's status line
    struct Event {
        std::optional<uint64_t> id;
        QJsonObject data;
    };
    // The next event (comments such as pings are skipped); nullopt at the timeout or the end.
    std::optional<Event> Next(std::chrono::milliseconds timeout = 10s);
    // The next event whose "type" is `type`.
    std::optional<Event> NextOfType(const std::string& type,
                                    std::chrono::milliseconds timeout = 10s);
    // Reads until a ": ping" comment has come, skipping what is ahead of it; false at the
    // timeout. Use it before Next: Next drops comments.
    bool NextPing(std::chrono::milliseconds timeout);
    // Reads everything until the server closes (or the timeout); the events in it.
    std::vector<Event> ReadToEnd(std::chrono::milliseconds timeout);

  private:
    bool Fill(std::chrono::steady_clock::time_point deadline);
    int fd_ = -1;
    std::string buffer_;
    bool headerDone_ = false;
    int status_ = 0;
};

class ServiceTest : public ::testing::Test {
  protected:
    ServiceTest();
    ~ServiceTest() override;

    // A simulated board on COM n (started).
    sim::BoardSimulator& Board(int com, sim::BoardOptions options = {});
    std::string ComPath(int com) const { return ports_.ComPath(com); }
    // swb808d on a free loopback port with `args`, its local socket SocketPath(); waits until
    // it listens.
    ServiceProcess& StartService(const std::vector<std::string>& args);
    // The --port/--baud arguments for the boards made so far.
    std::vector<std::string> BoardArgs() const;
    void StopService(int sig = SIGTERM);
    ServiceProcess& Service() { return *service_; }
    uint16_t Port() { return service_->Port(); }

    HttpAnswer Get(const std::string& target,
                   const std::map<std::string, std::string>& headers = {}) {
        return Http(Port(), "GET", target, {}, headers);
    }
    HttpAnswer Put(const std::string& target, const std::string& body,
                   const std::map<std::string, std::string>& headers = {}) {
        return Http(Port(), "PUT", target, body, headers);
    }
    HttpAnswer Post(const std::string& target, const std::string& body,
                    const std::map<std::string, std::string>& headers = {}) {
        return Http(Port(), "POST", target, body, headers);
    }

    // The id of the board on COM n from GET /api/v1/boards ("" when there is none).
    std::string BoardId(int com);
    // Polls GET /api/v1/boards until the board on COM n has `state`.
    bool WaitForState(int com, const std::string& state, std::chrono::milliseconds timeout = 30s);
    // The command codes of the frames a board took.
    static std::vector<uint8_t> Commands(const sim::BoardSimulator& board);
    static int CountFrames(const sim::BoardSimulator& board, uint8_t command);
    // The board's relays once they are `mask` (an answer comes once the frame has left; the
    // board takes it a moment later), or as they are after a second.
    static uint8_t RelaysOnceThey(const sim::BoardSimulator& board, uint8_t mask);
    // A frame the service wrote may still be on its way through the pseudo-terminal.
    static int FramesOnceThey(const sim::BoardSimulator& board, uint8_t command, int count);

    std::string SocketPath() const { return dir_ + "/swb808d.sock"; }
    std::string WriteFile(const std::string& name, const std::string& content,
                          int mode = 0600) const;
    const std::string& Dir() const { return dir_; }

  private:
    std::string dir_;
    swb808::test::TempPortDir ports_;
    std::map<int, std::unique_ptr<sim::BoardSimulator>> boards_;
    std::unique_ptr<ServiceProcess> service_;
};

// A simulated board's options: its rate, relays and inputs, and (when given) its identity.
sim::BoardOptions Options(unsigned baud, uint8_t relays = 0, uint8_t inputs = 0,
                          const std::string& identity = {});

// A 6144-byte image with `version` before the marker at offset 100.
std::string MakeImage(const std::string& version, uint8_t fill);

}  // namespace swb808::service::test
