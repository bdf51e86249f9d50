#include "cli/board_finder.h"

#include <algorithm>

#include "cli/exit_status.h"

namespace swb808::cli {

namespace {

// One port, one step of the plan: a known rate with a single read, or a search with queries.
struct Attempt {
    PortTarget port;
    std::vector<int> rates;
    bool rateKnown = false;
};

std::string RateList(const std::vector<int>& rates) {
    if (rates.size() == 1) return " at " + std::to_string(rates.front()) + " Bd";
    return "";
}

}  // namespace

namespace {

// One read on a link opened at a known rate.
bool ConfirmPresence(BoardLink& link, Presence presence) {
    switch (presence) {
        case Presence::Query:
            return false;  // connected through the scan instead
        case Presence::Relays:
            return link.ReadRelays();
        case Presence::Inputs:
            return link.ReadInputs();
        case Presence::Config:
            return link.ReadConfig();
    }
    return false;
}

}  // namespace

FoundBoard FindBoard(const BoardChoice& choice, const std::optional<RememberedBoard>& remembered,
                     Presence presence, const std::function<void(const std::string&)>& warn) {
    const bool portsGiven = !choice.ports.empty();
    std::vector<PortTarget> ports = portsGiven ? choice.ports : AllComTargets();
    // The remembered port goes first: that is where the board most likely still is. One
    // outside the COM table is searched too when no port was given.
    if (remembered) {
        const auto it = std::find(ports.begin(), ports.end(), remembered->port);
        if (it != ports.end())
            std::rotate(ports.begin(), it, it + 1);
        else if (!portsGiven)
            ports.insert(ports.begin(), remembered->port);
    }
    const bool rateGiven = choice.baud.has_value() && *choice.baud > 0;

    std::vector<Attempt> plan;
    if (rateGiven) {
        for (const auto& p : ports) plan.push_back({p, {*choice.baud}, true});
    } else {
        // A port's last rate first (going back to a board is one read), its search after.
        const bool mayUseMemory = !choice.baud.has_value() && remembered;
        for (const auto& p : ports) {
            if (const int known = mayUseMemory ? remembered->RateAt(p) : 0; known > 0)
                plan.push_back({p, {known}, true});
            plan.push_back({p, AllRates(), false});
        }
    }

    std::vector<std::string> portErrors;
    std::vector<PortTarget> failedPorts;
    for (const Attempt& a : plan) {
        if (std::find(failedPorts.begin(), failedPorts.end(), a.port) != failedPorts.end())
            continue;
        auto link = std::make_unique<BoardLink>(a.port);
        try {
            if (a.rateKnown && presence != Presence::Query) {
                link->Open(a.rates.front());
                link->Wake();
                if (ConfirmPresence(*link, presence)) return {std::move(link), false};
            } else if (link->Connect(a.rates)) {
                return {std::move(link), true};
            }
        } catch (const CliFailure& f) {
            if (f.Status() != ExitStatus::PortError) throw;
            failedPorts.push_back(a.port);
            // A port that is not there at all is no news in a search over all sixteen.
            if (portsGiven || f.what() != a.port.Name() + " does not exist")
                portErrors.push_back(f.what());
        }
    }

    if (!portErrors.empty()) {
        for (size_t i = 0; i + 1 < portErrors.size(); ++i) warn(portErrors[i]);
        throw CliFailure(ExitStatus::PortError, portErrors.back());
    }
    if (portsGiven && ports.size() == 1)
        throw CliFailure(ExitStatus::NoBoard,
                         "no SWB808 answered on " + ports.front().Name() +
                             RateList(rateGiven ? std::vector<int>{*choice.baud} : AllRates()));
    throw CliFailure(ExitStatus::NoBoard,
                     std::string("no SWB808 found on ") +
                         (portsGiven ? "the given ports" : "COM1-COM16") +
                         RateList(rateGiven ? std::vector<int>{*choice.baud} : AllRates()));
}

}  // namespace swb808::cli
