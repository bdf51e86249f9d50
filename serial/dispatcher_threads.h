#pragma once

// The three background threads of an open port. Each runs a body of its dispatcher,
// acknowledges its start and counts itself in the dispatcher's running-thread counter.

#include <thread>

namespace swb808 {

class TBaseDispatcher;

// Base of the three: owns the std::thread and joins it.
class TDispatcherThread {
  public:
    TDispatcherThread() = default;
    ~TDispatcherThread() { Join(); }
    TDispatcherThread(const TDispatcherThread&) = delete;
    TDispatcherThread& operator=(const TDispatcherThread&) = delete;
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Started() const { return thread_.joinable(); }

  protected:
    std::thread thread_;
};

// The line watcher's place among the three: the dispatch thread waits for the line events
// itself, so this one only starts and stops with the others.
class TComThread : public TDispatcherThread {
  public:
    void Start(TBaseDispatcher& d);

  private:
    static void Execute(TBaseDispatcher& d);
};

// Waits for line events (bytes arriving, the device vanishing), moves bytes into ReceiveRing,
// checks the data triggers and delivers the notifications.
class TDispThread : public TDispatcherThread {
  public:
    void Start(TBaseDispatcher& d);

  private:
    static void Execute(TBaseDispatcher& d);
};

// Writes SendRing to the device.
class TOutThread : public TDispatcherThread {
  public:
    void Start(TBaseDispatcher& d);

  private:
    static void Execute(TBaseDispatcher& d);
    static void AcknowledgeFlush(TBaseDispatcher& d);
};

}  // namespace swb808
