#include "service/problem.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace swb808::service {

Response ProblemResponse(http::status status, const std::string& detail,
                         std::optional<int> retryAfterSeconds) {
    QJsonObject o;
    o["type"] = "about:blank";
    o["title"] = QString::fromStdString(std::string(http::obsolete_reason(status)));
    o["status"] = int(status);
    o["detail"] = QString::fromStdString(detail);
    Response res{status, 11};
    res.set(http::field::content_type, "application/problem+json");
    if (retryAfterSeconds) res.set(http::field::retry_after, std::to_string(*retryAfterSeconds));
    if (status == http::status::unauthorized) res.set(http::field::www_authenticate, "Bearer");
    res.body() = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
    res.prepare_payload();
    return res;
}

}  // namespace swb808::service
