#include "net/datagram_queue.h"

#include <cstring>

namespace velt {

namespace {

// Queue memory kept for the next burst; beyond this it is freed once drained.
constexpr std::size_t kKeptBytes = 4 << 20;

} // namespace

DatagramQueue::DatagramQueue(std::int64_t maxDatagrams, std::int64_t maxBytes)
    : maxDatagrams_(maxDatagrams), maxBytes_(maxBytes) {}

int DatagramQueue::push(const Datagram* datagrams, int count) {
    int queued = 0;
    const std::lock_guard lock(mutex_);
    for (int i = 0; i < count; ++i) {
        const std::uint32_t size = datagrams[i].size;
        if (pendingDatagrams_.load(std::memory_order_relaxed) >= maxDatagrams_ ||
            pendingBytes_.load(std::memory_order_relaxed) + size > maxBytes_) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const char* header = reinterpret_cast<const char*>(&size);
        incoming_.insert(incoming_.end(), header, header + sizeof size);
        const char* arrival = reinterpret_cast<const char*>(&datagrams[i].arrivalMs);
        incoming_.insert(incoming_.end(), arrival, arrival + sizeof datagrams[i].arrivalMs);
        incoming_.insert(incoming_.end(), datagrams[i].data, datagrams[i].data + size);
        pendingDatagrams_.fetch_add(1, std::memory_order_relaxed);
        pendingBytes_.fetch_add(size, std::memory_order_relaxed);
        ++queued;
    }
    return queued;
}

bool DatagramQueue::next(Datagram& datagram) {
    if (cursor_ == draining_.size()) {
        // After a flood, give back what the buffer grew to.
        if (draining_.capacity() > kKeptBytes)
            std::vector<char>().swap(draining_);
        draining_.clear();
        cursor_ = 0;
        const std::lock_guard lock(mutex_);
        draining_.swap(incoming_);
    }
    if (draining_.empty())
        return false;
    std::uint32_t size = 0;
    std::int64_t arrivalMs = 0;
    std::memcpy(&size, draining_.data() + cursor_, sizeof size);
    std::memcpy(&arrivalMs, draining_.data() + cursor_ + sizeof size, sizeof arrivalMs);
    constexpr std::size_t header = sizeof size + sizeof arrivalMs;
    datagram = {draining_.data() + cursor_ + header, size, arrivalMs};
    cursor_ += header + size;
    pendingDatagrams_.fetch_sub(1, std::memory_order_relaxed);
    pendingBytes_.fetch_sub(size, std::memory_order_relaxed);
    return true;
}

bool DatagramQueue::goIdle() {
    idle_.store(true);
    // A datagram queued just before the receive thread could see the flag: take the
    // wake-up back and stay awake for it.
    if (pendingDatagrams_.load() > 0 && idle_.exchange(false))
        return false;
    return true;
}

} // namespace velt
