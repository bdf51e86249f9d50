#include "service/metrics.h"

#include <sstream>

namespace swb808::service {

void Metrics::CommandDone(const std::string& result, std::chrono::microseconds latency) {
    const double seconds = double(latency.count()) / 1e6;
    const std::lock_guard lock(mutex_);
    ++commands_[result];
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
        if (seconds <= kBuckets[i]) ++bucketCounts_[i];
    ++latencyCount_;
    latencySum_ += seconds;
}

std::string Metrics::Render(const std::map<std::string, bool>& boardsUp) const {
    std::ostringstream o;
    o << "# HELP swb808_board_up Whether the board answers (1) or not (0).\n"
         "# TYPE swb808_board_up gauge\n";
    for (const auto& [id, up] : boardsUp)
        o << "swb808_board_up{board=\"" << id << "\"} " << (up ? 1 : 0) << '\n';
    const std::lock_guard lock(mutex_);
    o << "# HELP swb808_commands_total Board commands by result.\n"
         "# TYPE swb808_commands_total counter\n";
    for (const auto& [result, n] : commands_)
        o << "swb808_commands_total{result=\"" << result << "\"} " << n << '\n';
    o << "# HELP swb808_input_events_total Input changes the boards reported.\n"
         "# TYPE swb808_input_events_total counter\n"
      << "swb808_input_events_total " << inputEvents_.load() << '\n';
    o << "# HELP swb808_command_latency_seconds Time from a request's arrival to its answer.\n"
         "# TYPE swb808_command_latency_seconds histogram\n";
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
        o << "swb808_command_latency_seconds_bucket{le=\"" << kBuckets[i] << "\"} "
          << bucketCounts_[i] << '\n';
    o << "swb808_command_latency_seconds_bucket{le=\"+Inf\"} " << latencyCount_ << '\n'
      << "swb808_command_latency_seconds_sum " << latencySum_ << '\n'
      << "swb808_command_latency_seconds_count " << latencyCount_ << '\n';
    o << "# HELP swb808_http_clients Open HTTP connections.\n"
         "# TYPE swb808_http_clients gauge\n"
      << "swb808_http_clients " << clients_.load() << '\n'
      << "# HELP swb808_event_clients Open event streams.\n"
         "# TYPE swb808_event_clients gauge\n"
      << "swb808_event_clients " << eventClients_.load() << '\n';
    return o.str();
}

}  // namespace swb808::service
