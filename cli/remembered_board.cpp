#include "cli/remembered_board.h"
#include "protocol/board_facts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdlib>


namespace swb808::cli {

std::string RememberedBoardPath() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        base = state;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
        base = std::string(home) + "/.local/state";
    else
        return {};
    return base + "/swb808/board.json";
}

std::optional<RememberedBoard> LoadRememberedBoard() {
    const std::string path = RememberedBoardPath();
    if (path.empty()) return std::nullopt;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(64 * 1024));
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const std::string device = o.value("device").toString().toStdString();
    const int baud = o.value("baud").toInt(0);
    if (device.empty() || device.front() != '/') return std::nullopt;
    // The COM table may have changed (another SWB808_PORT_DIR): the device decides, and one
    // outside the table is remembered by its path alone.
    PortTarget target{0, device};
    for (const PortTarget& t : AllComTargets())
        if (t.device == device) target = t;
    return RememberedBoard{target, board::RateIndex(baud) ? baud : 0};
}

bool SaveRememberedBoard(const RememberedBoard& board) {
    const std::string path = RememberedBoardPath();
    if (path.empty() || !board.port.IsSet()) return false;
    const QString qpath = QString::fromStdString(path);
    QJsonObject o;
    o["port"] = board.port.com > 0 ? QJsonValue(QString("COM%1").arg(board.port.com)) : QJsonValue();
    o["device"] = QString::fromStdString(board.port.device);
    o["baud"] = board.baud;
    const QByteArray text = QJsonDocument(o).toJson();
    // A script that switches relays in a loop need not rewrite the same file each time.
    if (QFile current(qpath); current.open(QIODevice::ReadOnly) && current.read(64 * 1024) == text)
        return true;
    if (!QDir().mkpath(QFileInfo(qpath).absolutePath())) return false;
    QSaveFile file(qpath);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text);
    return file.commit();
}

}  // namespace swb808::cli
