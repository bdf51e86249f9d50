#pragma once

// A count held up for as long as a scope runs, however it ends: how many runs of a handler or
// a read are going on in the logic thread's nested waits.

namespace swb808 {

class ScopedCount {
  public:
    explicit ScopedCount(int& count) : count_(count) { ++count_; }
    ~ScopedCount() { --count_; }
    ScopedCount(const ScopedCount&) = delete;
    ScopedCount& operator=(const ScopedCount&) = delete;

  private:
    int& count_;
};

}  // namespace swb808
