#include "cli/board_finder.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "serial/com_ports.h"

namespace swb808::cli {

namespace {

std::string AtRates(const std::vector<int>& rates) {
    if (rates.size() == 1) return " at " + std::to_string(rates.front()) + " Bd";
    return "";
}

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
        case Presence::Supply:
            return link.ReadSupply();
    }
    return false;
}

// The session says which rate its scan tries next.
void TraceScan(BoardLink& link, const Notice& trace) {
    if (!trace) return;
    link.View().onStatus = [trace, name = link.Target().Name()](const std::string& text) {
        if (text.rfind("scanning ", 0) == 0) trace(name + ": " + text);
    };
}

// The rate lists to try on one port, in order. Port failures throw.
FoundBoard TryPort(const PortTarget& port, const std::vector<std::vector<int>>& attempts,
                   Presence presence, const Notice& trace) {
    for (const std::vector<int>& rates : attempts) {
        auto link = std::make_unique<BoardLink>(port);
        TraceScan(*link, trace);
        if (rates.size() == 1 && trace) trace("trying " + port.Name() + AtRates(rates));
        if (rates.size() == 1 && presence != Presence::Query) {
            link->Attach(rates.front());
            if (ConfirmPresence(*link, presence)) return {std::move(link), false, std::nullopt};
        } else if (link->Connect(rates)) {
            return {std::move(link), true, std::nullopt};
        }
    }
    return {};
}

void ProbePort(PortProbe& probe, const std::vector<int>& rates, const Notice& trace) {
    try {
        BoardLink link(probe.port);
        TraceScan(link, trace);
        if (rates.size() == 1 && trace) trace("trying " + probe.port.Name() + AtRates(rates));
        if (!link.Connect(rates)) return;
        probe.hit = SearchHit{probe.port, link.Baud(), link.Records().firmwareVersion,
                              link.Records().deviceId};
    } catch (const CliFailure& f) {
        probe.error = f.what();
    } catch (const Interrupted&) {
        probe.interrupted = true;
    } catch (const std::exception& e) {
        probe.error = probe.port.Name() + ": " + e.what();
    }
}

[[noreturn]] void ThrowPortErrors(const std::vector<std::string>& errors, const Notice& warn) {
    for (size_t i = 0; i + 1 < errors.size(); ++i) warn(errors[i]);
    throw CliFailure(ExitStatus::PortError, errors.back());
}

// Every port at once; the board is then opened again on this thread, where its link lives.
FoundBoard Search(const std::vector<PortTarget>& ports, const std::vector<int>& rates,
                  Presence presence, const BoardChoice& choice, const std::string& scope,
                  const std::string& why, const Notice& warn) {
    if (choice.progress) choice.progress("searching " + scope + " for an SWB808" + why);
    std::vector<SearchHit> hits;
    std::vector<std::string> errors;
    std::vector<PortTarget> probed;
    for (const PortTarget& port : ports) {
        const auto held = std::find(choice.servicePorts.begin(), choice.servicePorts.end(), port);
        if (held == choice.servicePorts.end()) {
            probed.push_back(port);
            continue;
        }
        for (const SearchHit& hit : choice.serviceBoards)
            if (hit.port == port) hits.push_back(hit);
    }
    const size_t servicesFound = hits.size();
    for (const PortProbe& probe : ProbePorts(probed, rates, choice.trace)) {
        if (probe.interrupted) throw Interrupted();
        if (probe.hit) hits.push_back(*probe.hit);
        // A port that is not there at all is no news in a search.
        if (!probe.error.empty() && probe.error != probe.port.Name() + " does not exist")
            errors.push_back(probe.error);
    }
    if (hits.size() > 1)
        throw CliFailure(ExitStatus::Usage,
                         "several boards answered: " + HitList(hits) + "; choose one with --port");
    if (hits.empty()) {
        if (!errors.empty()) ThrowPortErrors(errors, warn);
        throw CliFailure(ExitStatus::NoBoard, "no SWB808 found on " + scope + AtRates(rates));
    }
    for (const std::string& e : errors) warn(e);
    if (servicesFound > 0) return {nullptr, false, hits.front().port};
    FoundBoard found = TryPort(hits.front().port, {{hits.front().baud}}, presence, choice.trace);
    if (!found.link)
        throw CliFailure(ExitStatus::NoBoard, "no SWB808 answered on " + hits.front().port.Name() +
                                                  AtRates({hits.front().baud}));
    return found;
}

}  // namespace

std::vector<PortProbe> ProbePorts(const std::vector<PortTarget>& ports,
                                  const std::vector<int>& rates, const Notice& trace) {
    std::vector<PortProbe> probes;
    for (const PortTarget& p : ports) probes.emplace_back().port = p;
    std::vector<std::jthread> threads;
    for (PortProbe& probe : probes)
        threads.emplace_back([&probe, &rates, &trace] { ProbePort(probe, rates, trace); });
    threads.clear();  // joins
    return probes;
}

std::string HitList(const std::vector<SearchHit>& hits) {
    std::string list;
    for (const SearchHit& h : hits)
        list += (list.empty() ? "" : ", ") + h.port.Name() + AtRates({h.baud});
    return list;
}

FoundBoard FindBoard(const BoardChoice& choice, const std::optional<RememberedBoard>& remembered,
                     Presence presence, const Notice& warn) {
    const bool rateGiven = choice.baud.has_value() && *choice.baud > 0;
    const std::vector<int> rates = rateGiven ? std::vector<int>{*choice.baud} : AllRates();
    const auto attemptsOn = [&](const PortTarget& port) {
        std::vector<std::vector<int>> attempts;
        // The rate the port last answered at first (going back is one read), then all of them.
        if (!choice.baud && remembered)
            if (const int known = remembered->RateAt(port); known > 0) attempts.push_back({known});
        attempts.push_back(rates);
        return attempts;
    };

    if (choice.ports.size() == 1) {
        const PortTarget& port = choice.ports.front();
        FoundBoard found = TryPort(port, attemptsOn(port), presence, choice.trace);
        if (!found.link)
            throw CliFailure(ExitStatus::NoBoard,
                             "no SWB808 answered on " + port.Name() + AtRates(rates));
        return found;
    }

    std::optional<std::string> rememberedError;
    if (choice.ports.empty() && remembered) {
        try {
            FoundBoard found =
                TryPort(remembered->port, attemptsOn(remembered->port), presence, choice.trace);
            if (found.link) return found;
        } catch (const CliFailure& f) {
            if (f.Status() != ExitStatus::PortError || !choice.readOnly) throw;
            rememberedError = f.what();
        }
        // Only reading: another board will do; changing one: this board or none.
        if (!choice.readOnly)
            throw CliFailure(ExitStatus::NoBoard,
                             "no SWB808 answered on " + remembered->port.Name() + AtRates(rates) +
                                 ", the remembered board; give --port to use another");
    }

    std::vector<PortTarget> ports;
    if (!choice.ports.empty()) {
        ports = choice.ports;
    } else {
        // Ports with no device behind them are passed over, as in the window's search.
        for (const PortTarget& t : AllComTargets())
            if (PortAvailable(t.com) && !(remembered && remembered->port == t)) ports.push_back(t);
    }
    if (rememberedError) warn(*rememberedError);
    const std::string scope = choice.ports.empty() ? "COM1-COM16" : "the given ports";
    try {
        const std::string why =
            remembered ? " (the remembered board on " + remembered->port.Name() + " did not answer)"
                       : std::string();
        return Search(ports, rates, presence, choice, scope, why, warn);
    } catch (const CliFailure& f) {
        if (f.Status() != ExitStatus::NoBoard || !rememberedError) throw;
        throw CliFailure(ExitStatus::PortError, *rememberedError);
    }
}

}  // namespace swb808::cli
