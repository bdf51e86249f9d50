#include "service/known_boards.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdlib>

#include "service/log.h"

namespace swb808::service {

KnownBoards::KnownBoards(std::string path) : path_(std::move(path)) {
    if (path_.empty()) return;
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly)) return;
    const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QJsonObject o = it.value().toObject();
        boards_[it.key().toStdString()] = {o["id"].toString().toStdString(),
                                           o["key"].toString().toStdString(), o["baud"].toInt()};
    }
}

std::optional<KnownBoard> KnownBoards::Find(const std::string& port) const {
    const std::lock_guard lock(mutex_);
    const auto it = boards_.find(port);
    if (it == boards_.end()) return std::nullopt;
    return it->second;
}

void KnownBoards::Remember(const std::string& port, const KnownBoard& board) {
    const std::lock_guard lock(mutex_);
    auto& slot = boards_[port];
    if (slot.id == board.id && slot.key == board.key && slot.baud == board.baud) return;
    slot = board;
    Save();
}

void KnownBoards::Save() const {
    if (path_.empty()) return;
    QJsonObject all;
    for (const auto& [port, b] : boards_)
        all[QString::fromStdString(port)] = QJsonObject{{"id", QString::fromStdString(b.id)},
                                                        {"key", QString::fromStdString(b.key)},
                                                        {"baud", b.baud}};
    const QString path = QString::fromStdString(path_);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(all).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        LogWarning("cannot write " + path_ + ": " + file.errorString().toStdString());
}

std::string KnownBoards::DefaultPath() {
    std::string dir;
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        dir = state;
        if (const auto colon = dir.find(':'); colon != std::string::npos) dir.resize(colon);
    } else if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
        dir = std::string(xdg) + "/swb808";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = std::string(home) + "/.local/state/swb808";
    } else {
        return {};
    }
    return dir + "/swb808d-boards.json";
}

}  // namespace swb808::service
