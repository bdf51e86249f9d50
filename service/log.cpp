#include "service/log.h"

#include <QDateTime>

#include <cstdio>
#include <mutex>

namespace swb808::service {

namespace {

// The journal reads the "<n>" prefix as the line's priority.
void Write(const char* priority, const std::string& line) {
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::fprintf(stderr, "%sswb808d: %s\n", priority, line.c_str());
    std::fflush(stderr);
}

}  // namespace

void LogInfo(const std::string& line) {
    Write("<6>", line);
}
void LogWarning(const std::string& line) {
    Write("<4>", line);
}
void LogError(const std::string& line) {
    Write("<3>", line);
}

void LogChange(const std::string& who, const std::string& what) {
    Write("<5>", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString() +
                     " change by " + who + ": " + what);
}

}  // namespace swb808::service
