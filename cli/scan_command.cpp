// scan: every board on the given ports, each port searched on a thread of its own.

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/board_route.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "serial/com_ports.h"

namespace swb808::cli {

ExitStatus RunScan(const Request& request, Output& out) {
    std::vector<PortTarget> ports;
    const bool portsGiven = !request.ports.empty();
    if (portsGiven) {
        for (const auto& p : request.ports) ports.push_back(ParsePortTarget(p));
    } else {
        // Ports with no device behind them are passed over, as in the window's search.
        for (const PortTarget& t : AllComTargets())
            if (PortAvailable(t.com)) ports.push_back(t);
    }
    std::vector<int> rates = AllRates();
    if (request.baud && *request.baud > 0) rates = {*request.baud};

    const std::string what =
        std::to_string(ports.size()) + " port" + (ports.size() == 1 ? "" : "s") +
        (rates.size() == 1 ? " at " + std::to_string(rates.front()) + " Bd"
                           : " at all " + std::to_string(rates.size()) + " rates");
    ReportProgressLine(out, "scan", "scanning " + what);
    Notice trace;
    if (request.verbose)
        trace = [&out](const std::string& line) { ReportProgressLine(out, "try", line); };
    // The boards swb808d holds are its to report; their ports are not probed.
    const HeldHits service = BoardsOfService(request, ports);
    std::vector<PortProbe> results = ProbePorts(service.rest, rates, trace);
    for (const SearchHit& hit : service.hits) results.push_back({hit.port, hit, {}, false});
    const auto order = [&ports](const PortProbe& p) {
        return std::find(ports.begin(), ports.end(), p.port) - ports.begin();
    };
    std::stable_sort(results.begin(), results.end(),
                     [&](const PortProbe& a, const PortProbe& b) { return order(a) < order(b); });
    for (const PortProbe& r : results)
        if (r.interrupted) throw Interrupted();

    QJsonArray boards, errors;
    const SearchHit* first = nullptr;
    for (const PortProbe& r : results) {
        if (!r.error.empty()) {
            out.Error(r.error);
            QJsonObject e = ErrorJson(ExitStatus::PortError, r.error);
            const QJsonObject where = PortJson(r.port, 0);
            e["port"] = where["port"];
            e["device"] = where["device"];
            errors.append(e);
            continue;
        }
        if (!r.hit) continue;
        const SearchHit& hit = *r.hit;
        if (!first) first = &hit;
        QJsonObject b = PortJson(hit.port, hit.baud);
        b["firmware"] = BoardText(hit.firmware);
        PutIdentity(b, hit.identity);
        boards.append(b);
        out.Text(hit.port.Name() + "  " + std::to_string(hit.baud) + " Bd  firmware " +
                 BoardTextUtf8(hit.firmware) + "  " + IdentityText(hit.identity));
    }
    QJsonObject doc;
    doc["boards"] = boards;
    doc["errors"] = errors;
    out.Document(doc);
    if (first) {
        if (!SaveRememberedBoard({first->port, first->baud}))
            out.Warn("cannot remember the board in " + RememberedBoardPath());
        return ExitStatus::Done;
    }
    if (!errors.isEmpty()) return ExitStatus::PortError;
    out.Error(portsGiven ? "no SWB808 found on the given ports" : "no SWB808 found on COM1-COM16");
    return ExitStatus::NoBoard;
}

}  // namespace swb808::cli
