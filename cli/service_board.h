#pragma once

// A board that swb808d holds, reached through its socket. Each call is one request of its
// HTTP API, the reads with ?fresh=1 so that the board is asked rather than the service's
// memory, and the answers (in the keys of `swb808ctl --json`) fill the records the commands
// print. The service's errors become the tool's: 400 a usage error, 504 no answer (as a board
// that stays silent), the rest (503 offline, 409 busy or another board, ...) a port error, as
// a port in use or a lost line; each names the port the tool's way.

#include <QJsonObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/board_access.h"
#include "cli/board_finder.h"
#include "cli/service_client.h"

namespace swb808::cli {

// A board in the service's list.
struct HeldBoard {
    std::string id;
    PortTarget port;  // as the tool names the device the service reports
    int baud = 0;
    bool online = false;
    std::string firmware;  // raw, as the board sent it
    std::string identity;
};

// The boards of GET /api/v1/boards.
std::vector<HeldBoard> HeldBoards(const QJsonObject& list);
// The one on `port`, matched by its device (links followed).
std::optional<HeldBoard> HeldOn(const std::vector<HeldBoard>& boards, const PortTarget& port);

// swb808d's board on `port` and a client that reaches it; nullopt when no service answers or
// it does not hold the port.
struct HeldPort {
    std::shared_ptr<ServiceClient> client;
    HeldBoard board;  // named as `port`
};
std::optional<HeldPort> ServiceHolding(const PortTarget& port);

// A failed answer of the service as the tool's failure, naming `port` the tool's way.
CliFailure ServiceFailure(const ServiceAnswer& answer, const PortTarget& port);

// The path of the board `id` in the API: "/api/v1/boards/<id>".
std::string BoardPath(const std::string& id);

class ServiceBoard : public BoardAccess {
  public:
    ServiceBoard(std::shared_ptr<ServiceClient> client, const HeldBoard& board);

    // The read that finds a board directly (for Query the whole state).
    void Read(Presence presence);

    const PortTarget& Target() const override { return target_; }
    int Baud() const override { return baud_; }
    BoardRecords Records() const override { return records_; }
    std::string Key() const override { return key_; }

    void WriteRelays(uint8_t mask) override;
    void ChangeRelays(uint8_t bits, RelayAction action) override;
    void WriteConfig(const ConfigValues& values) override;
    bool Reset(const std::vector<int>& rates) override;

    uint8_t FollowInputs() override;
    std::optional<BoardEvent> NextInputChange(
        std::chrono::steady_clock::time_point deadline) override;

  private:
    // The answer of a request for this board (`path` after its URL); failures throw.
    QJsonObject Call(const std::string& method, const std::string& path, const QJsonObject* body,
                     std::chrono::milliseconds timeout);
    ServiceAnswer Send(const std::string& method, const std::string& path, const QJsonObject* body,
                       std::chrono::milliseconds timeout);
    void TakeBaud(const QJsonObject& answer);

    std::shared_ptr<ServiceClient> client_;
    const PortTarget target_;
    const std::string id_;
    std::string key_;
    int baud_;
    BoardRecords records_;
    std::unique_ptr<ServiceEvents> events_;
};

}  // namespace swb808::cli
