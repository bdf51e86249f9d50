#include "sim/line_transmitter.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace swb808::sim {

using Clock = std::chrono::steady_clock;

LineTransmitter::LineTransmitter(PseudoTerminal& line, SentHook onSent)
    : line_(line), onSent_(std::move(onSent)) {}

LineTransmitter::~LineTransmitter() {
    Stop();
}

void LineTransmitter::Start() {
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void LineTransmitter::Stop() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
        queue_.clear();
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LineTransmitter::Send(std::vector<uint8_t> bytes, unsigned rate) {
    if (bytes.empty() || rate == 0) return;
    {
        std::lock_guard lock(mu_);
        queue_.push_back(Chunk{std::move(bytes), rate});
    }
    cv_.notify_all();
}

bool LineTransmitter::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, timeout, [this] { return queue_.empty() && !busy_; });
}

void LineTransmitter::Run() {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock lock(mu_);
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            chunk = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        Transmit(chunk);
        {
            std::lock_guard lock(mu_);
            busy_ = false;
        }
        cv_.notify_all();
    }
}

void LineTransmitter::Transmit(const Chunk& chunk) {
    const size_t n = chunk.bytes.size();
    if (!pacing_) {
        WriteNow(chunk.bytes.data(), n, chunk.rate);
        return;
    }
    const auto byteTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(10.0 / chunk.rate));
    // The line may still be busy with the previous chunk; otherwise it starts now.
    const auto start = std::max(Clock::now(), lineFree_);
    size_t sent = 0;
    while (sent < n && !stop_) {
        const auto now = Clock::now();
        size_t due = sent;
        while (due < n && start + byteTime * static_cast<long>(due + 1) <= now) ++due;
        if (due == sent) {
            // Sleep in short slices so that Stop is never held up by a slow rate.
            auto next = start + byteTime * static_cast<long>(sent + 1);
            std::this_thread::sleep_until(std::min(next, now + std::chrono::milliseconds(20)));
            continue;
        }
        if (!WriteNow(chunk.bytes.data() + sent, due - sent, chunk.rate)) break;
        sent = due;
    }
    lineFree_ = start + byteTime * static_cast<long>(n);
}

// Hands bytes to the pseudo-terminal; gives up (dropping them) when the program's side has not
// taken anything for two seconds, as the bytes of a real line would be lost too.
bool LineTransmitter::WriteNow(const uint8_t* data, size_t n, unsigned rate) {
    std::vector<uint8_t> wire(data, data + n);
    if (!line_.PeerOpen()) {
        if (onSent_) onSent_(wire, rate, Delivery::Lost);
        return true;
    }
    const bool garbled = line_.LineRate() != rate;
    if (garbled)
        for (auto& b : wire) b = Garble(b);
    const auto giveUp = Clock::now() + std::chrono::seconds(2);
    size_t done = 0;
    while (done < n && !stop_) {
        ssize_t w = ::write(line_.MasterFd(), wire.data() + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) break;
        if (Clock::now() >= giveUp) break;
        pollfd p{line_.MasterFd(), POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    wire.resize(done);
    if (!wire.empty() && onSent_)
        onSent_(wire, rate, garbled ? Delivery::Garbled : Delivery::Clean);
    return done == n;
}

}  // namespace swb808::sim
