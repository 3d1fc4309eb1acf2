#include "net/udp_server.h"

#include "net/payload_stream.h"

#include <QDateTime>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kBatchMessages = 32;
// The largest UDP payload over IPv4 is 65,507 bytes; a larger buffer never truncates.
constexpr std::size_t kMessageBytes = 65536;
constexpr int kSocketReceiveBytes = 16 << 20;
// Queue memory kept for the next burst; beyond this it is freed once drained.
constexpr std::size_t kKeptQueueBytes = 4 << 20;
// How long one batch may keep the owner's thread before input and painting get a turn.
constexpr auto kBatchTime = std::chrono::milliseconds(8);

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

[[noreturn]] void throwBindError(std::uint16_t port, int error) {
    throw std::system_error(error, std::generic_category(),
                            "Nelze naslouchat na portu UDP " + std::to_string(port));
}

} // namespace

// Records are a 32-bit length followed by the payload, packed back to back.
struct TUDPServer::Receiver {
    FileDescriptor socket;
    FileDescriptor wake;
    std::thread thread;

    std::mutex mutex;
    std::vector<char> incoming; // guarded by mutex
    std::atomic<bool> notified = false;
    std::atomic<std::int64_t> pendingDatagrams = 0;
    std::atomic<std::int64_t> pendingBytes = 0;

    // Owner's thread only.
    std::vector<char> consuming;
    std::size_t cursor = 0;
    velt::PayloadStream stream;

    Receiver(int socketFd, int wakeFd) : socket(socketFd), wake(wakeFd) {}
};

TUDPServer::TUDPServer(QObject* owner) : QObject(owner), continuation_(new QTimer(this)) {
    continuation_->setSingleShot(true);
    continuation_->setInterval(0);
    connect(continuation_, &QTimer::timeout, this, &TUDPServer::deliver);
}

TUDPServer::~TUDPServer() {
    setActive(false);
}

void TUDPServer::setPendingLimits(std::int64_t datagrams, std::int64_t bytes) {
    maxPendingDatagrams_ = datagrams;
    maxPendingBytes_ = bytes;
}

std::int64_t TUDPServer::pendingDatagrams() const {
    return receiver_ ? receiver_->pendingDatagrams.load(std::memory_order_relaxed) : 0;
}

bool TUDPServer::active() const {
    return receiver_ != nullptr;
}

void TUDPServer::setActive(bool active) {
    if (active == this->active())
        return;
    if (!active) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = ::write(receiver_->wake.get(), &one, sizeof one);
        receiver_->thread.join();
        receiver_.reset();
        continuation_->stop();
        return;
    }

    // No SO_REUSEADDR or SO_REUSEPORT: the port is ours alone, and no later socket can
    // bind beside it and take a share of the datagrams.
    FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0)
        throwBindError(defaultPort_, errno);
    const int on = 1;
    if (broadcastEnabled_ &&
        ::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        throwBindError(defaultPort_, errno);
    // A large kernel buffer covers the moments before the thread is scheduled; beyond
    // the system's cap only root can go (SO_RCVBUFFORCE).
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUFFORCE, &kSocketReceiveBytes,
                     sizeof kSocketReceiveBytes) != 0)
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &kSocketReceiveBytes,
                     sizeof kSocketReceiveBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(defaultPort_);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throwBindError(defaultPort_, errno);
    socklen_t length = sizeof address;
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
    binding_ = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};

    FileDescriptor wake(::eventfd(0, EFD_CLOEXEC));
    if (wake.get() < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");

    auto receiver = std::make_unique<Receiver>(socket.release(), wake.release());
    Receiver* r = receiver.get();
    const std::int64_t maxDatagrams = maxPendingDatagrams_;
    const std::int64_t maxBytes = maxPendingBytes_;

    r->thread = std::thread([this, r, maxDatagrams, maxBytes] {
        std::vector<char> buffers(kBatchMessages * kMessageBytes);
        std::vector<iovec> iov(kBatchMessages);
        std::vector<mmsghdr> messages(kBatchMessages);
        for (int i = 0; i < kBatchMessages; ++i)
            iov[i] = {buffers.data() + i * kMessageBytes, kMessageBytes};
        pollfd fds[2] = {{r->socket.get(), POLLIN, 0}, {r->wake.get(), POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                // EINTR, or the kernel short of memory for a moment: try again.
                std::this_thread::sleep_for(std::chrono::milliseconds(errno == EINTR ? 0 : 10));
                continue;
            }
            if (fds[1].revents != 0)
                return;
            for (int i = 0; i < kBatchMessages; ++i) {
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &iov[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int n =
                ::recvmmsg(r->socket.get(), messages.data(), kBatchMessages, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                continue;
            {
                const std::lock_guard lock(r->mutex);
                for (int i = 0; i < n; ++i) {
                    const std::uint32_t size = messages[i].msg_len;
                    if (r->pendingDatagrams.load(std::memory_order_relaxed) >= maxDatagrams ||
                        r->pendingBytes.load(std::memory_order_relaxed) + size > maxBytes) {
                        dropped_.fetch_add(1, std::memory_order_relaxed);
                        continue;
                    }
                    const char* header = reinterpret_cast<const char*>(&size);
                    const char* payload = buffers.data() + i * kMessageBytes;
                    r->incoming.insert(r->incoming.end(), header, header + sizeof size);
                    r->incoming.insert(r->incoming.end(), payload, payload + size);
                    r->pendingDatagrams.fetch_add(1, std::memory_order_relaxed);
                    r->pendingBytes.fetch_add(size, std::memory_order_relaxed);
                }
            }
            if (!r->notified.exchange(true))
                QMetaObject::invokeMethod(this, &TUDPServer::deliver, Qt::QueuedConnection);
        }
    });
    receiver_ = std::move(receiver);
}

void TUDPServer::scheduleDelivery() {
    receiver_->notified.store(true);
    // While a batch is pending the receiving thread posts nothing, so the window's
    // event queue does not fill with wake-ups during a flood.
    // A zero timer, not a posted event: it runs once the window's own events, timers
    // and painting have had their turn, while a chain of posted events would be served
    // ahead of them for as long as a flood lasts.
    continuation_->start();
}

void TUDPServer::deliver() {
    if (!receiver_)
        return;
    if (delivering_) {
        // Called from a nested event loop inside the handler: the outer call goes on,
        // and looks again when it returns.
        redeliver_ = true;
        return;
    }
    delivering_ = true;
    Receiver& r = *receiver_;
    const auto deadline = std::chrono::steady_clock::now() + kBatchTime;
    bool more = false;
    for (int handled = 0;; ++handled) {
        if (r.cursor == r.consuming.size()) {
            // After a flood, give back what the queue grew to.
            if (r.consuming.capacity() > kKeptQueueBytes)
                std::vector<char>().swap(r.consuming);
            r.consuming.clear();
            r.cursor = 0;
            {
                const std::lock_guard lock(r.mutex);
                r.consuming.swap(r.incoming);
            }
            if (r.consuming.empty()) {
                // Idle: from now on the receiving thread posts a wake-up. Look once more,
                // for a datagram queued just before it could see that.
                r.notified.store(false);
                const std::lock_guard lock(r.mutex);
                r.consuming.swap(r.incoming);
                if (r.consuming.empty())
                    break;
                r.notified.store(true);
            }
        }
        if (handled % 32 == 31 && std::chrono::steady_clock::now() >= deadline) {
            more = true;
            break;
        }
        std::uint32_t size = 0;
        std::memcpy(&size, r.consuming.data() + r.cursor, sizeof size);
        const char* payload = r.consuming.data() + r.cursor + sizeof size;
        r.cursor += sizeof size + size;
        r.pendingDatagrams.fetch_sub(1, std::memory_order_relaxed);
        r.pendingBytes.fetch_sub(size, std::memory_order_relaxed);
        r.stream.setPayload(payload, size);
        try {
            if (OnUDPRead)
                OnUDPRead(this, r.stream, &binding_);
        } catch (const std::exception& error) {
            reportHandlerError(QString::fromUtf8(error.what()));
        } catch (...) {
            reportHandlerError(QString());
        }
        if (!receiver_) // the handler stopped the server
            break;
    }
    delivering_ = false;
    if (receiver_ && (more || redeliver_)) {
        redeliver_ = false;
        scheduleDelivery();
    }
    emit batchDelivered();
}

void TUDPServer::reportHandlerError(const QString& message) {
    ++handlerErrors_;
    emit handlerFailed(message);
    // A failing handler may fail for every datagram of a flood: one line a second.
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (lastErrorReportMs_ >= 0 && now - lastErrorReportMs_ < 1000) {
        ++unreportedErrors_;
        return;
    }
    lastErrorReportMs_ = now;
    std::fprintf(stderr, "VELT: chyba při zpracování datagramu: %s",
                 message.toLocal8Bit().constData());
    if (unreportedErrors_ > 0)
        std::fprintf(stderr, " (a %llu dalších)",
                     static_cast<unsigned long long>(unreportedErrors_));
    std::fprintf(stderr, "\n");
    unreportedErrors_ = 0;
}
