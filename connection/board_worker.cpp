#include "connection/board_worker.h"

#include "connection/board_session.h"
#include "connection/logic_queue.h"
#include "protocol/paced_wait.h"

namespace swb808 {

namespace {
// The idle wait between requests; a posted request or a notification ends it early.
constexpr auto kIdleWait = std::chrono::milliseconds(200);
}  // namespace

BoardWorker::BoardWorker(size_t queueLimit) : limit_(queueLimit) {
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] { Loop(started); });
    ready.wait();
}

BoardWorker::~BoardWorker() {
    RequestStop();  // the session lives until stopping_ is seen
    std::function<void()> wake;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        wake = wakeQueue_;
    }
    if (wake) wake();
    thread_.join();
}

void BoardWorker::Enqueue(std::function<void(Board&)> run, std::function<void(BoardError)> reject) {
    std::function<void()> wake;
    {
        const std::lock_guard lock(mutex_);
        if (!stopping_ && jobs_.size() < limit_) {
            jobs_.push_back(Job{std::move(run), std::move(reject)});
            wake = wakeQueue_;
        }
    }
    if (wake) return wake();
    // Answered on the caller's thread, outside the lock.
    const bool stopping = [&] {
        const std::lock_guard lock(mutex_);
        return stopping_;
    }();
    if (stopping)
        reject(BoardError{BoardErrc::Shutdown, "the board's worker has ended"});
    else
        reject(BoardError{BoardErrc::Overloaded, "too many requests are waiting for the board"});
}

BoardEvents::Subscription BoardWorker::Subscribe(BoardEvents::Callback callback) {
    return session_->Events().Subscribe(std::move(callback));
}

void BoardWorker::RequestStop() {
    session_->RequestStop();
}

size_t BoardWorker::Pending() const {
    const std::lock_guard lock(mutex_);
    return jobs_.size();
}

// Requests run here one after the other; between them (and inside their waits) the queue runs
// the port's notifications and the line check.
void BoardWorker::Loop(std::promise<void>& started) {
    auto queue = std::make_shared<TLogicQueue>();
    const ScopedEventPump pump(queue->Pump());
    SessionView view;
    BoardSession session(view);
    session.AttachTo(queue);
    Board board(session);
    {
        const std::lock_guard lock(mutex_);
        session_ = &session;
        wakeQueue_ = [q = std::weak_ptr<TLogicQueue>(queue)] {
            if (auto live = q.lock()) live->Wake();
        };
    }
    started.set_value();

    for (;;) {
        std::optional<Job> job;
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) break;
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
        }
        if (!job) {
            queue->WaitAndProcess(kIdleWait);
            continue;
        }
        try {
            job->run(board);
        } catch (const std::exception& e) {
            ReportHandlerError(e.what());  // a reply callback that threw
        } catch (...) {
            ReportHandlerError("unknown error");
        }
    }

    std::deque<Job> left;
    {
        const std::lock_guard lock(mutex_);
        left.swap(jobs_);
        wakeQueue_ = nullptr;
    }
    for (auto& j : left) j.reject(BoardError{BoardErrc::Shutdown, "the board's worker has ended"});
    session.AttachTo(nullptr);
}

}  // namespace swb808
