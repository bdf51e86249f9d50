#pragma once

// One owner thread per board. The worker's thread creates the board's session and its event
// queue and runs everything of that board: the requests posted to it, the notifications of its
// port, the line check, input changes. Any thread may Post a request (a function of Board&)
// and gets the answer back as a std::future, or as a callback that the worker runs on its
// thread (post it on to the caller's own queue from there). Requests run one at a time, in the
// order posted, never nested inside each other's waits: so many clients of one board put one
// command on the wire at a time. A full queue answers at once with Overloaded; a request
// still queued when the worker ends, with Shutdown.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "connection/board.h"
#include "connection/result.h"

namespace swb808 {

class BoardWorker {
  public:
    static constexpr size_t kDefaultQueueLimit = 64;

    explicit BoardWorker(size_t queueLimit = kDefaultQueueLimit);
    // Stops: the running request ends at its next stop check, queued ones get Shutdown, the
    // port is closed without a reset frame, the thread joined. Not from the worker's thread.
    ~BoardWorker();
    BoardWorker(const BoardWorker&) = delete;
    BoardWorker& operator=(const BoardWorker&) = delete;

    // Any thread. `request` returns a Result<T>; the future holds it, or Overloaded/Shutdown.
    template <class F>
    auto Post(F request) -> std::future<std::invoke_result_t<F, Board&>> {
        using R = std::invoke_result_t<F, Board&>;
        auto promise = std::make_shared<std::promise<R>>();
        auto future = promise->get_future();
        Enqueue(
            [promise, request = std::move(request)](Board& board) mutable {
                try {
                    promise->set_value(request(board));
                } catch (...) {
                    promise->set_exception(std::current_exception());
                }
            },
            [promise](BoardError error) { promise->set_value(Failure{std::move(error)}); });
        return future;
    }

    // Any thread. `reply` runs on the worker's thread with the answer (or Overloaded at once on
    // the calling thread when the queue is full).
    template <class F>
    void Post(F request, std::function<void(std::invoke_result_t<F, Board&>)> reply) {
        auto shared = std::make_shared<decltype(reply)>(std::move(reply));
        Enqueue([shared,
                 request = std::move(request)](Board& board) mutable { (*shared)(request(board)); },
                [shared](BoardError error) { (*shared)(Failure{std::move(error)}); });
    }

    // Any thread: subscribes to the board's events; `callback` runs on the worker's thread.
    [[nodiscard]] BoardEvents::Subscription Subscribe(BoardEvents::Callback callback);
    // Any thread: the running request stops at its next stop check (a scan, a search).
    void RequestStop();
    size_t Pending() const;

  private:
    struct Job {
        std::function<void(Board&)> run;
        std::function<void(BoardError)> reject;
    };
    void Enqueue(std::function<void(Board&)> run, std::function<void(BoardError)> reject);
    void Loop(std::promise<void>& started);

    const size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;             // under mutex_
    bool stopping_ = false;            // under mutex_
    std::function<void()> wakeQueue_;  // set before the thread is started; wakes its idle wait
    BoardSession* session_ = nullptr;  // the worker thread's; set before the constructor returns
    std::thread thread_;
};

}  // namespace swb808
