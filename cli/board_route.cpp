#include "cli/board_route.h"

#include "cli/direct_board.h"
#include "cli/progress.h"
#include "cli/remembered_board.h"
#include "cli/service_board.h"

namespace swb808::cli {

namespace {

BoardChoice ChoiceOf(const Request& request, Output& out, bool readOnly) {
    BoardChoice choice;
    for (const auto& p : request.ports) choice.ports.push_back(ParsePortTarget(p));
    choice.baud = request.baud;
    choice.readOnly = readOnly;
    choice.progress = [&out](const std::string& line) { ReportProgressLine(out, "search", line); };
    if (request.verbose)
        choice.trace = [&out](const std::string& line) { ReportProgressLine(out, "try", line); };
    return choice;
}

SearchHit HitOf(const HeldBoard& board) {
    return {board.port, board.baud, board.firmware, board.identity};
}

std::unique_ptr<BoardAccess> Through(std::shared_ptr<ServiceClient> service, const HeldBoard& board,
                                     Presence presence, const BoardChoice& choice) {
    if (choice.trace) choice.trace(board.port.Name() + " is swb808d's: through " + service->Path());
    auto access = std::make_unique<ServiceBoard>(std::move(service), board);
    access->Read(presence);
    return access;
}

}  // namespace

std::unique_ptr<BoardAccess> ReachBoard(const Request& request, Output& out, Presence presence,
                                        bool readOnly) {
    BoardChoice choice = ChoiceOf(request, out, readOnly);
    const auto remembered = LoadRememberedBoard();
    std::shared_ptr<ServiceClient> service;
    if (!request.direct) service = ServiceClient::Connect();
    std::vector<HeldBoard> held;
    if (service) {
        held = HeldBoards(service->Boards());
        const std::optional<PortTarget> target = !choice.ports.empty()
                                                     ? std::optional(choice.ports.front())
                                                 : remembered ? std::optional(remembered->port)
                                                              : std::nullopt;
        if (target) {
            if (std::optional<HeldBoard> board = HeldOn(held, *target)) {
                board->port = *target;  // named as the command named it
                return Through(service, *board, presence, choice);
            }
        }
        for (const HeldBoard& b : held) {
            choice.servicePorts.push_back(b.port);
            if (b.online) choice.serviceBoards.push_back(HitOf(b));
        }
    }
    FoundBoard found = FindBoard(choice, remembered, presence,
                                 [&out](const std::string& line) { out.Warn(line); });
    if (found.servicePort)
        return Through(service, *HeldOn(held, *found.servicePort), presence, choice);
    return std::make_unique<DirectBoard>(std::move(found.link));
}

HeldHits BoardsOfService(const Request& request, const std::vector<PortTarget>& ports) {
    HeldHits result;
    const std::unique_ptr<ServiceClient> service =
        request.direct ? nullptr : ServiceClient::Connect();
    const std::vector<HeldBoard> held =
        service ? HeldBoards(service->Boards()) : std::vector<HeldBoard>{};
    for (const PortTarget& port : ports) {
        const std::optional<HeldBoard> board = HeldOn(held, port);
        if (!board)
            result.rest.push_back(port);
        else if (board->online)
            result.hits.push_back({port, board->baud, board->firmware, board->identity});
    }
    return result;
}

}  // namespace swb808::cli
