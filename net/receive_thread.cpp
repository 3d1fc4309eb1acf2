#include "net/receive_thread.h"

#include "net/datagram_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

namespace velt {

namespace {

constexpr int kBatchMessages = 32;
// The largest UDP payload over IPv4 is 65,507 bytes; a larger buffer never truncates.
constexpr std::size_t kMessageBytes = 65536;
constexpr std::size_t kControlBytes = CMSG_SPACE(sizeof(std::uint32_t));
// The longest gathering pause: a third of the owner's interval between looks.
constexpr long kMaxPauseUs = 8000;
// How long before the owner's next look the gathered datagrams are handed over, and the
// shortest pause worth a wake-up of its own.
constexpr auto kAheadOfLook = std::chrono::milliseconds(1);
constexpr long kShortestPauseNs = 200000;
// What a small datagram costs in the socket's buffer (the kernel counts its bookkeeping
// too), and a rate above any sender's here, to size the pause to the buffer.
constexpr long kBytesPerQueuedDatagram = 1024;
constexpr long kFastestRate = 400000;

long pauseFor(int socket) {
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0)
        return 0;
    // Time for a quarter of the buffer to fill at the fastest rate.
    const long datagrams = bytes / kBytesPerQueuedDatagram;
    return std::clamp(datagrams * 1000000L / 4 / kFastestRate, 0L, kMaxPauseUs);
}

} // namespace

ReceiveThread::ReceiveThread(int socket, DatagramQueue& queue, std::function<void()> wake)
    : socket_(socket), stop_(::eventfd(0, EFD_CLOEXEC)), queue_(queue), wake_(std::move(wake)) {
    if (stop_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    const int on = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    thread_ = std::thread([this] { run(); });
}

ReceiveThread::~ReceiveThread() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
}

void ReceiveThread::run() {
    std::vector<char> buffers(kBatchMessages * kMessageBytes);
    std::vector<char> controls(kBatchMessages * kControlBytes);
    std::vector<iovec> iov(kBatchMessages);
    std::vector<mmsghdr> messages(kBatchMessages);
    DatagramQueue::Datagram datagrams[kBatchMessages];
    for (int i = 0; i < kBatchMessages; ++i)
        iov[i] = {buffers.data() + i * kMessageBytes, kMessageBytes};
    const long pauseUs = pauseFor(socket_);
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastBatch{};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            // EINTR, or the kernel short of memory for a moment: try again.
            if (errno != EINTR)
                ::poll(nullptr, 0, 10);
            continue;
        }
        if (fds[1].revents != 0)
            return;
        for (int i = 0; i < kBatchMessages; ++i) {
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls.data() + i * kControlBytes;
            messages[i].msg_hdr.msg_controllen = kControlBytes;
        }
        const int n = ::recvmmsg(socket_, messages.data(), kBatchMessages, MSG_DONTWAIT, nullptr);
        if (n <= 0)
            continue;
        for (int i = 0; i < n; ++i) {
            datagrams[i] = {buffers.data() + i * kMessageBytes, messages[i].msg_len};
            msghdr& header = messages[i].msg_hdr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                    std::uint32_t drops = 0;
                    std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                    kernelDrops_.store(drops, std::memory_order_relaxed);
                }
            }
        }
        queue_.push(datagrams, n);
        if (queue_.takeWakeUp())
            wake_();
        // Datagrams further apart than a pause gather nothing in it: the pause would only
        // add a wake-up of its own and hold the next reading back.
        const Clock::time_point now = Clock::now();
        const bool gathering =
            now - std::exchange(lastBatch, now) < std::chrono::microseconds(pauseUs);
        if (n < kBatchMessages && pauseUs > 0 && gathering) {
            // The socket is drained: let the next datagrams gather, but wake at once to
            // stop. When the owner is due to look, hand over just before it, so that what
            // arrives meanwhile is not held back a whole frame more.
            auto until = now + std::chrono::microseconds(pauseUs);
            if (const auto look = queue_.nextLook() - kAheadOfLook; look > now)
                until = std::min(until, look);
            const auto pauseNs =
                std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count();
            const timespec pause{0, static_cast<long>(pauseNs)};
            if (pauseNs >= kShortestPauseNs && ::ppoll(&fds[1], 1, &pause, nullptr) > 0)
                return;
        }
    }
}

} // namespace velt
