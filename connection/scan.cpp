// Finding the board: port and rate search, one wake byte and a query per pair.

#include <algorithm>

#include "connection/board_session.h"
#include "protocol/board_facts.h"
#include "protocol/paced_wait.h"
#include "serial/com_ports.h"
#include "serial/serial_errors.h"

namespace swb808 {

namespace {

bool Present(const PortRef& port) {
    return DeviceAvailable(port.DevicePath());
}

}  // namespace

bool BoardSession::OpenSWBPort(const PortRef& port, int32_t baud) {
    DropLostLine();  // a vanished device is closed, so that it is opened afresh when back
    if (!Present(port)) {
        lastOpenFailure_ = OpenFailure{ecBadId, PortErrorText(int16_t(ecBadId))};
        return false;
    }
    if (opened_.IsSet() && port != opened_ && port_.Open()) {
        try {
            port_.SetOpen(false);
        } catch (...) {
        }
    }
    PacedWait(10);
    const auto fail = [&](int32_t code, const std::string& text) {
        lastOpenFailure_ = OpenFailure{code, text};
        view_.Message(PairLabel(port, baud) + ": " + text, kMessageRed);
        return false;
    };
    try {
        // In this order, so that an open port is moved once, straight to the new device.
        if (port.device.empty()) {
            port_.SetComNumber(uint16_t(port.com));
            port_.SetDevicePath({});
        } else {
            port_.SetDevicePath(port.device);
            port_.SetComNumber(0);
        }
        port_.SetBaud(baud);
        // The port is taken as opened before the open, so a port that fails to open is not
        // retried at the next rate.
        if (port != opened_) {
            opened_ = port;
            port_.SetOpen(true);
        }
    } catch (const ESerialException& e) {
        return fail(e.ErrorCode, PortErrorText(int16_t(e.ErrorCode)));
    } catch (const EInOutError& e) {
        return fail(e.ErrorCode, PortErrorText(int16_t(e.ErrorCode)));
    } catch (...) {
        return fail(0, "unknown Error!");
    }
    const bool open = port_.Open();
    if (open) lastOpenFailure_.reset();
    PacedWait(10);
    return open;
}

int32_t BoardSession::ScanConnect(const PortRef& port, int32_t baud) {
    if (!OpenSWBPort(port, baud)) return 0;
    Greet();
    const bool answered = protocol_.readconfig(port.Name(), baud);
    // A device that went away during the query is no connection, whatever it answered.
    if (DropLostLine()) return 0;
    return answered ? baud : 0;
}

bool BoardSession::Greet() {
    port_.WriteByte(board::kWakeByte);
    DrainOutput(port_, TSWB808Protocol::kReceiveTurnMs);
    return !port_.LineLost();
}

bool BoardSession::Attach(const PortRef& port, int32_t baud) {
    if (IsConnected() || state_ != SessionState::Idle) return false;
    if (!OpenSWBPort(port, baud)) return false;
    attachedBaud_ = baud;
    return Greet();
}

int32_t BoardSession::ScanBaud(const PortRef& port, const std::vector<int32_t>& rates,
                               bool stepRates) {
    if (!stepRates) return rates.empty() ? 0 : ScanConnect(port, rates.front());
    int32_t result = 0;
    for (const int32_t rate : rates) {
        if (StopRequested()) break;
        // The bar stops at its end, as a stepped bar does.
        SetProgress(std::min(SessionView::kProgressMax, progress_ + scanStep_));
        SetStatus("scanning " + port.Name() + " at " + std::to_string(rate) + " Baud...");
        result = ScanConnect(port, rate);
        if (result > 0) break;
    }
    return result;
}

int32_t BoardSession::Scan(const ScanRequest& request) {
    if (IsConnected() || state_ != SessionState::Idle) return 0;
    // A port that failed to open in an earlier scan (held by another program, say) is tried
    // afresh; within one scan it is still tried only once.
    if (!port_.Open()) opened_ = {};
    SetState(SessionState::Scanning);
    SetProgress(0);
    view_.ScanBegins();

    const bool stepRates = request.rates.size() > 1;
    int32_t result = 0;
    PortRef candidate;
    if (request.ports.size() > 1) {
        int k = 1;
        for (const auto& port : request.ports)
            if (Present(port)) ++k;
        scanStep_ = SessionView::kProgressMax / k / board::kBaudRateCount;
        for (const auto& port : request.ports) {
            if (StopRequested()) break;
            candidate = port;
            result = ScanBaud(port, request.rates, stepRates);
            if (result > 0) break;
        }
    } else {
        scanStep_ = SessionView::kProgressMax / board::kBaudRateCount;
        if (!request.ports.empty() && !StopRequested()) {
            candidate = request.ports.front();
            result = ScanBaud(candidate, request.rates, stepRates);
        }
    }
    view_.ScanEnds(result > 0);

    if (result > 0) {
        connectedRef_ = candidate;
        connectedPort_ = candidate.com;
        connectedBaud_ = result;
        connect();
        // The head of the board's input-change frame. Registrations outlive the port's close,
        // so every successful scan adds one more.
        port_.AddTriggerString(board::kInputChangeHead, false);
    } else {
        SetState(SessionState::Idle);
        SetProgress(0);
        SetStatus("SWB808 not found");
    }
    return result;
}

}  // namespace swb808
