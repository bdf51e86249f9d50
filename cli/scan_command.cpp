// scan: every board on the given ports, each port searched on a thread of its own.

#include <QJsonArray>
#include <QJsonObject>

#include <exception>
#include <thread>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "serial/com_ports.h"

namespace swb808::cli {

namespace {

struct PortResult {
    PortTarget port;
    bool found = false;
    int baud = 0;
    std::string firmware;
    std::string identity;
    std::string error;  // a port failure, if any
    bool interrupted = false;
};

void ScanPort(PortResult& result, const std::vector<int>& rates, Output& out, bool verbose) {
    try {
        BoardLink link(result.port);
        if (verbose)
            link.View().onStatus = [&out, name = result.port.Name()](const std::string& text) {
                if (text.rfind("scanning ", 0) != 0) return;
                QJsonObject event;
                event["event"] = "try";
                event["message"] = QString::fromStdString(name + ": " + text);
                ReportProgress(out, name + ": " + text, event);
            };
        if (!link.Connect(rates)) return;
        result.found = true;
        result.baud = link.Baud();
        result.firmware = link.Protocol().FirmwareVersion;
        result.identity = link.Protocol().DeviceId;
    } catch (const CliFailure& f) {
        result.error = f.what();
    } catch (const Interrupted&) {
        result.interrupted = true;
    } catch (const std::exception& e) {
        result.error = result.port.Name() + ": " + e.what();
    }
}

}  // namespace

ExitStatus RunScan(const Request& request, Output& out) {
    std::vector<PortResult> results;
    const bool portsGiven = !request.ports.empty();
    if (portsGiven) {
        for (const auto& p : request.ports) results.emplace_back().port = ParsePortTarget(p);
    } else {
        // Ports with no device behind them are passed over, as in the window's search.
        for (const PortTarget& t : AllComTargets())
            if (PortAvailable(t.com)) results.emplace_back().port = t;
    }
    std::vector<int> rates = AllRates();
    if (request.baud && *request.baud > 0) rates = {*request.baud};

    {
        std::string what =
            std::to_string(results.size()) + " port" + (results.size() == 1 ? "" : "s") +
            (rates.size() == 1 ? " at " + std::to_string(rates.front()) + " Bd"
                               : " at all " + std::to_string(rates.size()) + " rates");
        QJsonObject event;
        event["event"] = "scan";
        event["ports"] = int(results.size());
        event["message"] = QString::fromStdString("scanning " + what);
        ReportProgress(out, "scanning " + what, event);
        std::vector<std::jthread> threads;
        for (PortResult& r : results)
            threads.emplace_back(
                [&r, &rates, &out, &request] { ScanPort(r, rates, out, request.verbose); });
    }
    for (const PortResult& r : results)
        if (r.interrupted) throw Interrupted();

    QJsonArray boards, errors;
    int found = 0;
    const PortResult* first = nullptr;
    for (const PortResult& r : results) {
        if (!r.error.empty()) {
            out.Error(r.error);
            QJsonObject e = ErrorJson(ExitStatus::PortError, r.error);
            e["port"] = PortJson(r.port, 0)["port"];
            e["device"] = PortJson(r.port, 0)["device"];
            errors.append(e);
            continue;
        }
        if (!r.found) continue;
        ++found;
        if (!first) first = &r;
        QJsonObject b = PortJson(r.port, r.baud);
        b["firmware"] = BoardText(r.firmware);
        PutIdentity(b, r.identity);
        boards.append(b);
        out.Text(r.port.Name() + "  " + std::to_string(r.baud) + " Bd  firmware " +
                 BoardTextUtf8(r.firmware) + "  " + IdentityText(r.identity));
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
