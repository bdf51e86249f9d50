#include "service/flash_job.h"

#include <QString>

namespace swb808::service {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

FlashJob::FlashJob(std::string id, std::string board, std::string oldVersion,
                   std::string newVersion, bool bootloader)
    : id_(std::move(id)),
      board_(std::move(board)),
      oldVersion_(std::move(oldVersion)),
      newVersion_(std::move(newVersion)),
      bootloader_(bootloader) {}

void FlashJob::Progress(int done, int count) {
    const std::lock_guard lock(mutex_);
    done_ = done;
    count_ = count;
}

void FlashJob::Finish(const std::string& failure) {
    const std::lock_guard lock(mutex_);
    result_ = failure.empty() ? "complete" : "failed";
    message_ = failure;
}

void FlashJob::Running(const std::string& version) {
    const std::lock_guard lock(mutex_);
    if (result_ != "running") running_ = version;
}

bool FlashJob::Finished() const {
    const std::lock_guard lock(mutex_);
    return result_ != "running";
}

QJsonObject FlashJob::Json() const {
    const std::lock_guard lock(mutex_);
    QJsonObject o;
    o["id"] = Q(id_);
    o["board"] = Q(board_);
    o["bootloader"] = bootloader_;
    o["blocks_done"] = done_;
    o["block_count"] = count_;
    o["result"] = Q(result_);
    o["message"] = message_.empty() ? QJsonValue() : QJsonValue(Q(message_));
    o["old_version"] = oldVersion_.empty() ? QJsonValue() : QJsonValue(Q(oldVersion_));
    o["new_version"] = newVersion_.empty() ? QJsonValue() : QJsonValue(Q(newVersion_));
    o["running_version"] = running_.empty() ? QJsonValue() : QJsonValue(Q(running_));
    return o;
}

}  // namespace swb808::service
