#include "cli/board_report.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>

#include "cli/output.h"
#include "protocol/board_facts.h"
#include "protocol/device_records.h"

namespace swb808::cli {

namespace {

int Word(uint8_t low, uint8_t high) {
    return low + 256 * high;
}

// Cut, not rounded: the window shows the leading digits of the reading (866 is 5.253 V).
double ThreeDecimals(double v) {
    return std::floor(v * 1000.0 + 1e-9) / 1000.0;
}

}  // namespace

QJsonObject PortJson(const PortTarget& port, int baud) {
    QJsonObject o;
    o["port"] = port.com > 0 ? QJsonValue(QString("COM%1").arg(port.com)) : QJsonValue();
    o["device"] =
        port.IsSet() ? QJsonValue(QString::fromStdString(port.DevicePath())) : QJsonValue();
    o["baud"] = baud > 0 ? QJsonValue(baud) : QJsonValue(QJsonValue::Null);
    return o;
}

std::string WhereText(const PortTarget& port, int baud) {
    return port.Name() + " at " + std::to_string(baud) + " Bd";
}

void PutIdentity(QJsonObject& object, const std::string& raw) {
    object["identity"] = BoardText(raw).trimmed();
    object["identity_raw"] = BoardText(raw);
}

std::string IdentityText(const std::string& raw) {
    return BoardText(raw).trimmed().toStdString();
}

QString TimeNow() {
    // Local time alone would carry no zone.
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonArray BitNumbers(uint8_t mask) {
    QJsonArray a;
    for (int n = 1; n <= 8; ++n)
        if (mask & (1u << (n - 1))) a.append(n);
    return a;
}

std::string BitNumbersText(uint8_t mask) {
    std::string s;
    for (int n = 1; n <= 8; ++n)
        if (mask & (1u << (n - 1))) s += (s.empty() ? "" : " ") + std::to_string(n);
    return s.empty() ? "none" : s;
}

std::string HexByte(uint8_t value) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X", value);
    return s;
}

QJsonObject SupplyJson(int32_t vccRaw) {
    const double volts = VccVolts(uint32_t(vccRaw));
    QJsonObject o;
    o["raw"] = vccRaw;
    o["volts"] = ThreeDecimals(volts);
    o["in_range"] = VccInRange(volts);
    return o;
}

std::string SupplyText(int32_t vccRaw) {
    const double volts = VccVolts(uint32_t(vccRaw));
    return VccText(volts) + " (raw " + std::to_string(vccRaw) +
           (VccInRange(volts) ? ", in range)" : ", out of range 4.750..5.250 V)");
}

QJsonObject ErrorJson(ExitStatus status, const std::string& message) {
    const char* code = "error";
    switch (status) {
        case ExitStatus::Done:
            code = "none";
            break;
        case ExitStatus::Usage:
            code = "usage";
            break;
        case ExitStatus::NoBoard:
            code = "no_board";
            break;
        case ExitStatus::PortError:
            code = "port_error";
            break;
        case ExitStatus::FileError:
            code = "file_error";
            break;
        case ExitStatus::TransferFailed:
            code = "transfer_failed";
            break;
        case ExitStatus::Interrupted:
            code = "interrupted";
            break;
    }
    QJsonObject o;
    o["code"] = code;
    o["message"] = QString::fromStdString(message);
    return o;
}

QJsonObject FailureJson(ExitStatus status, const std::string& message) {
    QJsonObject o;
    o["ok"] = false;
    o["error"] = ErrorJson(status, message);
    return o;
}

QJsonObject ConfigJson(const std::array<uint8_t, 6>& c) {
    QJsonObject o;
    const auto rate = board::RateOfIndex(c[0]);
    o["baud"] = rate ? QJsonValue(*rate) : QJsonValue(QJsonValue::Null);
    o["baud_index"] = c[0];
    o["error_report_off"] = (c[5] & kCfgIgnoreErrors) != 0;
    o["error_report_delay"] = Word(c[1], c[2]);
    o["retry_off"] = (c[5] & kCfgNoRetry) != 0;
    o["retry_delay"] = Word(c[3], c[4]);
    o["keep_relays"] = (c[5] & kCfgKeepRelays) != 0;
    return o;
}

std::array<uint8_t, 6> ConfigFromJson(const QJsonObject& o) {
    const int errorDelay = o["error_report_delay"].toInt();
    const int retryDelay = o["retry_delay"].toInt();
    uint8_t flags = 0;
    if (o["error_report_off"].toBool()) flags |= kCfgIgnoreErrors;
    if (o["retry_off"].toBool()) flags |= kCfgNoRetry;
    if (o["keep_relays"].toBool()) flags |= kCfgKeepRelays;
    return {uint8_t(o["baud_index"].toInt()), uint8_t(errorDelay & 0xFF), uint8_t(errorDelay >> 8),
            uint8_t(retryDelay & 0xFF),       uint8_t(retryDelay >> 8),   flags};
}

std::string ConfigText(const std::array<uint8_t, 6>& c) {
    const auto rate = board::RateOfIndex(c[0]);
    const auto delay = [](bool off, int seconds) {
        return off ? "off (delay " + std::to_string(seconds) + " s kept)"
                   : "after " + std::to_string(seconds) + " s";
    };
    std::string s =
        "stored rate:  " +
        (rate ? std::to_string(*rate) + " Bd" : "unknown (index " + std::to_string(c[0]) + ")") +
        "\n";
    s += "error report: " + delay(c[5] & kCfgIgnoreErrors, Word(c[1], c[2])) + "\n";
    s += "retry:        " + delay(c[5] & kCfgNoRetry, Word(c[3], c[4])) + "\n";
    s += std::string("keep relays:  ") + ((c[5] & kCfgKeepRelays) ? "on" : "off");
    return s;
}

}  // namespace swb808::cli
