#include "service/event_stream.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace swb808::service {

std::string EventText(const HubEvent& event) {
    return "id: " + std::to_string(event.seq) + "\ndata: " + event.json + "\n\n";
}

// Notices carry no id: they are about this connection, not events to replay.
std::string NoticeText(const std::string& type, const std::string& detail) {
    QJsonObject o;
    o["type"] = QString::fromStdString(type);
    o["detail"] = QString::fromStdString(detail);
    return "data: " + QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n\n";
}

}  // namespace swb808::service
