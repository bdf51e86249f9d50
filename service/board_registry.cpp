#include "service/board_registry.h"

#include <thread>

namespace swb808::service {

BoardRegistry::BoardRegistry(const ServiceConfig& config, KnownBoards& known, EventHub& hub,
                             Metrics& metrics)
    : hub_(hub) {
    for (const auto& b : config.boards)
        boards_.push_back(std::make_unique<BoardOwner>(
            b, known, hub, metrics, config.queueLimit,
            [this](const std::string& wanted, const std::string& alternative,
                   const BoardOwner* asking) {
                const std::lock_guard lock(mutex_);
                bool taken = false;
                for (const auto& [owner, id] : ids_)
                    taken = taken || (owner != asking && id == wanted);
                return ids_[asking] = taken ? alternative : wanted;
            }));
}

BoardRegistry::~BoardRegistry() {
    Stop();
}

void BoardRegistry::Start() {
    {
        const std::lock_guard lock(mutex_);
        for (auto& b : boards_) ids_[b.get()] = b->Id();
    }
    for (auto& b : boards_) b->Start();
}

void BoardRegistry::Stop() {
    // Side by side: one board's flash need not hold up the others' stop.
    std::vector<std::thread> stops;
    for (auto& b : boards_) stops.emplace_back([&b] { b->Stop(); });
    for (auto& t : stops) t.join();
}

BoardOwner* BoardRegistry::Find(const std::string& id) const {
    for (const auto& b : boards_)
        if (b->Id() == id) return b.get();
    return nullptr;
}

std::string BoardRegistry::NextJobId() {
    const std::lock_guard lock(mutex_);
    return std::to_string(nextJob_++);
}

void BoardRegistry::AddJob(std::shared_ptr<FlashJob> job) {
    const std::lock_guard lock(mutex_);
    jobs_[job->Id()] = std::move(job);
}

std::shared_ptr<FlashJob> BoardRegistry::FindJob(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    const auto it = jobs_.find(id);
    return it == jobs_.end() ? nullptr : it->second;
}

}  // namespace swb808::service
