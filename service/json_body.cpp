#include "service/json_body.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <charconv>
#include <cmath>

#include "service/problem.h"

namespace swb808::service {

namespace {

[[noreturn]] void Bad(const std::string& text) {
    throw HttpProblem(http::status::bad_request, text);
}

bool IsInteger(const QJsonValue& v) {
    return v.isDouble() && std::isfinite(v.toDouble()) && std::floor(v.toDouble()) == v.toDouble();
}

}  // namespace

QJsonObject ParseBody(const Request& request, std::initializer_list<const char*> allowed) {
    const std::string& body = request.body();
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError)
        Bad("the body is not JSON: " + error.errorString().toStdString() + " at offset " +
            std::to_string(error.offset));
    if (!doc.isObject()) Bad("the body must be a JSON object");
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        bool known = false;
        for (const char* name : allowed) known = known || it.key() == QLatin1String(name);
        if (!known) Bad("unknown member \"" + it.key().toStdString() + "\"");
    }
    return o;
}

std::optional<int64_t> IntegerMember(const QJsonObject& body, const char* name, int64_t low,
                                     int64_t high) {
    if (!body.contains(name)) return std::nullopt;
    const QJsonValue v = body[name];
    if (!IsInteger(v) || v.toDouble() < double(low) || v.toDouble() > double(high))
        Bad(std::string("\"") + name + "\" must be a whole number from " + std::to_string(low) +
            " to " + std::to_string(high));
    return int64_t(v.toDouble());
}

std::optional<bool> BoolMember(const QJsonObject& body, const char* name) {
    if (!body.contains(name)) return std::nullopt;
    if (!body[name].isBool()) Bad(std::string("\"") + name + "\" must be true or false");
    return body[name].toBool();
}

std::optional<std::string> StringMember(const QJsonObject& body, const char* name) {
    if (!body.contains(name)) return std::nullopt;
    if (!body[name].isString()) Bad(std::string("\"") + name + "\" must be a string");
    return body[name].toString().toStdString();
}

std::optional<uint8_t> RelayListMember(const QJsonObject& body, const char* name) {
    if (!body.contains(name)) return std::nullopt;
    if (!body[name].isArray()) Bad(std::string("\"") + name + "\" must be a list of relays 1..8");
    uint8_t mask = 0;
    for (const QJsonValue& v : body[name].toArray()) {
        if (!IsInteger(v) || v.toDouble() < 1 || v.toDouble() > 8)
            Bad(std::string("\"") + name + "\" must be a list of relays 1..8");
        mask |= uint8_t(1u << (int(v.toDouble()) - 1));
    }
    return mask;
}

int RelayNumber(const std::string& text) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > 8)
        Bad("relay \"" + text + "\" does not exist: the relays are 1 to 8");
    return n;
}

}  // namespace swb808::service
