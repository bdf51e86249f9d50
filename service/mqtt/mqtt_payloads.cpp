#include "service/mqtt/mqtt_payloads.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

#include "service/json_body.h"

namespace swb808::service {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A JSON object with only `allowed` members (the same readers as the HTTP bodies).
QJsonObject Object(const std::string& text, std::initializer_list<const char*> allowed) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw std::runtime_error("the payload is not a JSON object");
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const char* name) { return it.key() == QLatin1String(name); }))
            throw std::runtime_error("unknown member \"" + it.key().toStdString() + "\"");
    return o;
}

}  // namespace

SwitchTo ParseSwitch(const std::string& payload) {
    std::string word = Trimmed(payload);
    for (char& c : word) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (word == "ON") return SwitchTo::On;
    if (word == "OFF") return SwitchTo::Off;
    if (word == "TOGGLE") return SwitchTo::Toggle;
    throw std::runtime_error("give ON, OFF or TOGGLE");
}

int64_t ParsePulseMs(const std::string& payload) {
    const std::string text = Trimmed(payload);
    const std::string range = "the pulse is 1 to " + std::to_string(kLongestMqttPulseMs) + " ms";
    if (!text.empty() && text.front() == '{') {
        const auto ms = IntegerMember(Object(text, {"ms"}), "ms", 1, kLongestMqttPulseMs);
        if (!ms) throw std::runtime_error("give {\"ms\": N}");
        return *ms;
    }
    int64_t ms = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (ec != std::errc() || end != text.data() + text.size() || ms < 1 || ms > kLongestMqttPulseMs)
        throw std::runtime_error(range + ": \"" + text.substr(0, 40) + "\"");
    return ms;
}

RelaysChange ParseRelaysChange(const std::string& payload) {
    const QJsonObject body = Object(payload, {"mask", "on", "off"});
    const auto mask = IntegerMember(body, "mask", 0, 255);
    const auto on = RelayListMember(body, "on");
    const auto off = RelayListMember(body, "off");
    if (mask && (on || off)) throw std::runtime_error("give \"mask\" or \"on\"/\"off\", not both");
    if (!mask && !on && !off)
        throw std::runtime_error("give {\"mask\": N} or {\"on\": [..], \"off\": [..]}");
    if (on && off && (*on & *off))
        throw std::runtime_error("a relay is in both \"on\" and \"off\"");
    RelaysChange change;
    if (mask) change.mask = uint8_t(*mask);
    change.on = on.value_or(0);
    change.off = off.value_or(0);
    return change;
}

int ParseRelayLevel(const std::string& level) {
    return RelayNumber(level);
}

}  // namespace swb808::service
