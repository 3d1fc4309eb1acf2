#pragma once
// The thread that drains a UDP socket into a DatagramQueue as fast as the kernel delivers,
// so that datagrams arriving while the owner's thread is busy wait in memory instead of
// being dropped. At ordinary rates it gathers datagrams for a moment after each small
// batch, so that its wake-ups do not follow every datagram, and hands them over just
// before the owner's next look; the pause is kept short enough for the socket's buffer
// to hold whatever arrives meanwhile. It also keeps the kernel's count of datagrams
// dropped for want of buffer space (SO_RXQ_OVFL).

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace velt {

class DatagramQueue;

class ReceiveThread {
public:
    // `wake` is called on this thread when the owner was idle and datagrams came in.
    ReceiveThread(int socket, DatagramQueue& queue, std::function<void()> wake);
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;
    // Stops and joins the thread.
    ~ReceiveThread();

    // Datagrams the kernel dropped on this socket so far.
    std::uint64_t kernelDrops() const { return kernelDrops_.load(std::memory_order_relaxed); }

private:
    void run();

    int socket_;
    int stop_;
    DatagramQueue& queue_;
    std::function<void()> wake_;
    std::atomic<std::uint64_t> kernelDrops_ = 0;
    std::thread thread_;
};

} // namespace velt
