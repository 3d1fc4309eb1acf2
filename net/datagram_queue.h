#pragma once
// Datagrams on their way from the receive thread to the owner's thread. The receive thread
// appends length-prefixed records to one buffer while the owner drains the other; they
// swap under a lock once per batch, so neither side takes a lock per datagram. Pending
// datagrams are bounded in number and bytes: past the bound the newest are dropped and
// counted. The queue also tells the receive thread when the owner needs waking: only
// while the owner is idle, so a busy owner is never woken twice, and when the owner will
// next look by itself, so that the receive thread can hand over just before it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velt {

class DatagramQueue {
public:
    DatagramQueue(std::int64_t maxDatagrams, std::int64_t maxBytes);

    // Receive thread. Returns how many of `count` datagrams were queued; the rest were
    // dropped at the bound.
    struct Datagram {
        const char* data;
        std::uint32_t size;
        // When it arrived: milliseconds since the Unix epoch, by the system's clock.
        std::int64_t arrivalMs = 0;
    };
    int push(const Datagram* datagrams, int count);
    // Receive thread, after a push: true once, when the owner was idle and must be woken.
    bool takeWakeUp() { return idle_.exchange(false); }

    // Owner's thread: the next datagram in arrival order, valid until the next call;
    // false when none is waiting.
    bool next(Datagram& datagram);
    // Owner's thread, with nothing left to handle: from now on pushes wake it. Returns
    // false when a datagram came in meanwhile; the owner is then still awake.
    bool goIdle();

    // Owner's thread: when it will next look without being woken; none while it sleeps
    // until woken or is busy with a flood.
    using Clock = std::chrono::steady_clock;
    void setNextLook(Clock::time_point when) {
        nextLook_.store(when.time_since_epoch().count(), std::memory_order_relaxed);
    }
    void clearNextLook() { nextLook_.store(0, std::memory_order_relaxed); }
    // Receive thread: the owner's next look, or nothing (the epoch).
    Clock::time_point nextLook() const {
        return Clock::time_point(Clock::duration(nextLook_.load(std::memory_order_relaxed)));
    }

    std::int64_t pendingDatagrams() const {
        return pendingDatagrams_.load(std::memory_order_relaxed);
    }
    std::uint64_t droppedDatagrams() const { return dropped_.load(std::memory_order_relaxed); }

private:
    const std::int64_t maxDatagrams_;
    const std::int64_t maxBytes_;
    std::mutex mutex_;
    std::vector<char> incoming_; // guarded by mutex_
    std::vector<char> draining_; // owner's thread only
    std::size_t cursor_ = 0;     // owner's thread only
    std::atomic<bool> idle_ = true;
    std::atomic<Clock::rep> nextLook_ = 0;
    std::atomic<std::int64_t> pendingDatagrams_ = 0;
    std::atomic<std::int64_t> pendingBytes_ = 0;
    std::atomic<std::uint64_t> dropped_ = 0;
};

} // namespace velt
