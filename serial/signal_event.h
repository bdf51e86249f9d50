#pragma once

// A waitable signal for the dispatcher's threads: auto-reset (one wait consumes it) or
// manual-reset (stays set until reset).

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace swb808 {

class TSignal {
  public:
    explicit TSignal(bool manualReset = false) : manual_(manualReset) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    // True when the signal was set within `timeout`.
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return set_; })) return false;
        if (!manual_) set_ = false;
        return true;
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return set_; });
        if (!manual_) set_ = false;
    }

  private:
    const bool manual_;
    bool set_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace swb808
