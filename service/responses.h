#pragma once

// Answers other than errors, and the headers every answer carries.

#include <QJsonArray>
#include <QJsonObject>

#include <string>

#include "service/http_types.h"

namespace swb808::service {

Response JsonResponse(const QJsonObject& body, http::status status = http::status::ok);
Response JsonResponse(const QJsonArray& body, http::status status = http::status::ok);
Response TextResponse(std::string body, std::string contentType);
// Content-Security-Policy, nosniff and (unless the answer set its own) no caching. No
// Access-Control-Allow-Origin, ever: other sites' pages get nothing from the service.
template <class Message>
void AddCommonHeaders(Message& m) {
    m.set(http::field::server, "swb808d");
    m.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    m.set("X-Content-Type-Options", "nosniff");
    m.set("Referrer-Policy", "no-referrer");
    if (m.find(http::field::cache_control) == m.end())
        m.set(http::field::cache_control, "no-store");
}

}  // namespace swb808::service
