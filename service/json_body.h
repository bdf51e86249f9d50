#pragma once

// Request bodies: one JSON object whose members are all known and of the right type. Each
// reader throws HttpProblem 400 with the member's name, so a bad body never reaches a board.

#include <QJsonObject>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "service/http_types.h"

namespace swb808::service {

// The body as an object; `allowed` lists the members it may have. An empty body is {}.
QJsonObject ParseBody(const Request& request, std::initializer_list<const char*> allowed);

std::optional<int64_t> IntegerMember(const QJsonObject& body, const char* name, int64_t low,
                                     int64_t high);
std::optional<bool> BoolMember(const QJsonObject& body, const char* name);
std::optional<std::string> StringMember(const QJsonObject& body, const char* name);
// An array of relay numbers 1..8 as a mask.
std::optional<uint8_t> RelayListMember(const QJsonObject& body, const char* name);
// A path's relay number: 1..8.
int RelayNumber(const std::string& text);

}  // namespace swb808::service
