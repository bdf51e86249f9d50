#include "service/responses.h"

#include <QJsonDocument>

namespace swb808::service {

namespace {

Response Json(const QJsonDocument& doc, http::status status) {
    Response res{status, 11};
    res.set(http::field::content_type, "application/json");
    res.body() = doc.toJson(QJsonDocument::Indented).toStdString();
    res.prepare_payload();
    return res;
}

}  // namespace

Response JsonResponse(const QJsonObject& body, http::status status) {
    return Json(QJsonDocument(body), status);
}

Response JsonResponse(const QJsonArray& body, http::status status) {
    return Json(QJsonDocument(body), status);
}

Response TextResponse(std::string body, std::string contentType) {
    Response res{http::status::ok, 11};
    res.set(http::field::content_type, contentType);
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
}

}  // namespace swb808::service
