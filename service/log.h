#pragma once

// The service's log: one line on standard error each (the journal keeps the time when it runs
// as a unit; the change log carries its own so that a terminal shows it too).

#include <string>

namespace swb808::service {

void LogInfo(const std::string& line);
void LogWarning(const std::string& line);
void LogError(const std::string& line);
// A change to a board or its service: who asked, what, and when (UTC).
void LogChange(const std::string& who, const std::string& what);

}  // namespace swb808::service
