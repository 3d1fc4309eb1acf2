// Linux: recvmmsg drains up to 32 datagrams a call; poll waits for the socket or the stop
// eventfd. At ordinary rates the thread gathers datagrams for a moment after each small
// batch, so that its wake-ups do not follow every datagram, and hands them over just
// before the owner's next look; the pause is kept short enough for the socket's buffer
// to hold whatever arrives meanwhile. SO_RXQ_OVFL gives the kernel's count of this
// socket's drops with each datagram.
#include "net/receive_thread.h"

#include "net/datagram_queue.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace velt {

namespace {

constexpr int kSocketReceiveBytes = 16 << 20;
constexpr int kBatchMessages = 32;
// The largest UDP payload over IPv4 is 65,507 bytes; a larger buffer never truncates.
constexpr std::size_t kMessageBytes = 65536;

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
constexpr std::size_t kControlBytes =
    CMSG_SPACE(sizeof(std::uint32_t)) + CMSG_SPACE(sizeof(timeval));
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

[[noreturn]] void throwBindError(std::uint16_t port, int error) {
    throw std::system_error(error, std::generic_category(),
                            "Nelze naslouchat na portu UDP " + std::to_string(port));
}

int openSocket(std::uint16_t port, bool broadcast, TUDPBinding& binding) {
    // No SO_REUSEADDR or SO_REUSEPORT: the port is ours alone, and no later socket can
    // bind beside it and take a share of the datagrams.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throwBindError(port, errno);
    const auto fail = [fd, port] {
        const int error = errno;
        ::close(fd);
        throwBindError(port, error);
    };
    const int on = 1;
    if (broadcast && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        fail();
    // A large kernel buffer covers the moments before the thread is scheduled; beyond
    // the system's cap only root can go (SO_RCVBUFFORCE).
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kSocketReceiveBytes,
                     sizeof kSocketReceiveBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketReceiveBytes, sizeof kSocketReceiveBytes);
    // The kernel's count of datagrams dropped for want of buffer, with each datagram.
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    // The kernel's time of arrival with each datagram, not when this thread got to it.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail();
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    binding = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    return fd;
}

int makeEventFd(int flags) {
    const int fd = ::eventfd(0, EFD_CLOEXEC | flags);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

// Closes a descriptor when its owner goes, in the reverse order of opening.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { ::close(fd); }
};

} // namespace

struct ReceiveThread::Private {
    Private(std::uint16_t port, bool broadcast, DatagramQueue& queue, std::function<void()> woken)
        : socket(openSocket(port, broadcast, binding)), queue(queue), woken(std::move(woken)) {
        // The thread wakes the owner through an eventfd: it touches no Qt object.
        QObject::connect(&wakeNotifier, &QSocketNotifier::activated, [this] {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto ignored = ::read(wake.fd, &count, sizeof count);
            this->woken();
        });
        thread = std::thread([this] { run(); });
    }

    ~Private() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = ::write(stop.fd, &one, sizeof one);
        thread.join();
    }

    void run();

    TUDPBinding binding;
    Descriptor socket;
    Descriptor stop{makeEventFd(0)};
    Descriptor wake{makeEventFd(EFD_NONBLOCK)};
    QSocketNotifier wakeNotifier{wake.fd, QSocketNotifier::Read};
    DatagramQueue& queue;
    std::function<void()> woken;
    std::atomic<std::uint64_t> kernelDrops = 0;
    std::thread thread;
};

ReceiveThread::ReceiveThread(std::uint16_t port, bool broadcast, DatagramQueue& queue,
                             std::function<void()> woken)
    : d_(std::make_unique<Private>(port, broadcast, queue, std::move(woken))) {}

ReceiveThread::~ReceiveThread() = default;

const TUDPBinding& ReceiveThread::binding() const {
    return d_->binding;
}

std::uint64_t ReceiveThread::kernelDrops() const {
    return d_->kernelDrops.load(std::memory_order_relaxed);
}

std::optional<std::uint64_t> ReceiveThread::systemDrops() const {
    return std::nullopt; // counted per socket instead
}

void ReceiveThread::Private::run() {
    std::vector<char> buffers(kBatchMessages * kMessageBytes);
    std::vector<char> controls(kBatchMessages * kControlBytes);
    std::vector<iovec> iov(kBatchMessages);
    std::vector<mmsghdr> messages(kBatchMessages);
    DatagramQueue::Datagram datagrams[kBatchMessages];
    for (int i = 0; i < kBatchMessages; ++i)
        iov[i] = {buffers.data() + i * kMessageBytes, kMessageBytes};
    const long pauseUs = pauseFor(socket.fd);
    pollfd fds[2] = {{socket.fd, POLLIN, 0}, {stop.fd, POLLIN, 0}};
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
        const int n = ::recvmmsg(socket.fd, messages.data(), kBatchMessages, MSG_DONTWAIT, nullptr);
        if (n <= 0)
            continue;
        for (int i = 0; i < n; ++i) {
            datagrams[i] = {buffers.data() + i * kMessageBytes, messages[i].msg_len, 0};
            msghdr& header = messages[i].msg_hdr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                    std::uint32_t drops = 0;
                    std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                    kernelDrops.store(drops, std::memory_order_relaxed);
                } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
                    timeval tv{};
                    std::memcpy(&tv, CMSG_DATA(c), sizeof tv);
                    datagrams[i].arrivalMs = std::int64_t{tv.tv_sec} * 1000 + tv.tv_usec / 1000;
                }
            }
            if (datagrams[i].arrivalMs == 0)
                datagrams[i].arrivalMs = nowMs();
        }
        queue.push(datagrams, n);
        if (queue.takeWakeUp()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto ignored = ::write(wake.fd, &one, sizeof one);
        }
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
            if (const auto look = queue.nextLook() - kAheadOfLook; look > now)
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
