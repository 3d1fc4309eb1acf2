#pragma once
// The platform's half of TUDPServer, one file a platform as Qt's event dispatchers are:
// receive_thread_unix.cpp (recvmmsg, poll, eventfd) and receive_thread_win.cpp (Winsock,
// event objects). Each binds the port alone, drains the socket on a thread of its own into
// a DatagramQueue as fast as the system delivers, so that datagrams arriving while the
// owner's thread is busy wait in memory instead of being dropped, and wakes the owner's
// thread through its event loop without touching a Qt object from the thread.

#include "net/udp_server.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace velt {

class DatagramQueue;

class ReceiveThread {
public:
    // Binds every local IPv4 address at `port` (0: a free one), no other socket beside it,
    // and starts. `woken` runs on the constructing thread's event loop when the owner was
    // idle and datagrams came in. Throws std::system_error, naming the port, when the port
    // cannot be bound.
    ReceiveThread(std::uint16_t port, bool broadcast, DatagramQueue& queue,
                  std::function<void()> woken);
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;
    // Stops and joins the thread, then closes the socket.
    ~ReceiveThread();

    const TUDPBinding& binding() const;
    // Datagrams the system dropped on this socket for want of buffer space; 0 where the
    // system does not count them per socket.
    std::uint64_t kernelDrops() const;
    // Where the system counts only for all programs together: the UDP datagrams it
    // discarded since this socket was bound, whoever they were for.
    std::optional<std::uint64_t> systemDrops() const;

    struct Private;

private:
    std::unique_ptr<Private> d_;
};

} // namespace velt
