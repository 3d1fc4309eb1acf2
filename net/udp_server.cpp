#include "net/udp_server.h"

#include "net/datagram_queue.h"
#include "net/payload_stream.h"
#include "net/receive_thread.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <system_error>
#include <utility>

namespace {

constexpr int kSocketReceiveBytes = 16 << 20;
// How long one batch may keep the owner's thread before input and painting get a turn.
constexpr auto kBatchTime = std::chrono::milliseconds(8);
// While datagrams keep coming, the owner looks again this often. Each look repaints the
// window, and that repaint, not the readings, is what the window costs at ordinary rates:
// 40 looks a second cost a third less than 60, and a reading is still on screen within
// two display frames of its arrival (the receive thread hands over just before a look).
constexpr auto kFrame = std::chrono::milliseconds(25);

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

} // namespace

TUDPServer::TUDPServer(QObject* owner)
    : QObject(owner), stream_(std::make_unique<velt::PayloadStream>()),
      nextFrame_(new QTimer(this)), continuation_(new QTimer(this)) {
    nextFrame_->setSingleShot(true);
    nextFrame_->setInterval(kFrame);
    nextFrame_->setTimerType(Qt::PreciseTimer);
    connect(nextFrame_, &QTimer::timeout, this, &TUDPServer::deliver);
    // A zero timer, not a posted event, continues a flood: it runs once the window's own
    // events, timers and painting have had their turn, while a chain of posted events
    // would be served ahead of them for as long as the flood lasts.
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

std::uint64_t TUDPServer::droppedDatagrams() const {
    return queue_ ? queue_->droppedDatagrams() : 0;
}

std::uint64_t TUDPServer::kernelDroppedDatagrams() const {
    return receiver_ ? receiver_->kernelDrops() : 0;
}

std::int64_t TUDPServer::pendingDatagrams() const {
    return queue_ ? queue_->pendingDatagrams() : 0;
}

void TUDPServer::setActive(bool active) {
    if (active == this->active())
        return;
    if (!active)
        return stop();
    socket_ = openSocket(defaultPort_, broadcastEnabled_, binding_);
    // The receive thread wakes this thread through an eventfd: it touches no Qt object.
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        const int error = errno;
        ::close(std::exchange(socket_, -1));
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, &TUDPServer::woken);
    queue_ = std::make_unique<velt::DatagramQueue>(maxPendingDatagrams_, maxPendingBytes_);
    try {
        receiver_ = std::make_unique<velt::ReceiveThread>(socket_, *queue_, [fd = wakeFd_] {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto ignored = ::write(fd, &one, sizeof one);
        });
    } catch (...) {
        stop();
        throw;
    }
}

void TUDPServer::stop() {
    receiver_.reset(); // joins the thread before its descriptors close
    delete std::exchange(wakeNotifier_, nullptr);
    if (wakeFd_ >= 0)
        ::close(std::exchange(wakeFd_, -1));
    if (socket_ >= 0)
        ::close(std::exchange(socket_, -1));
    nextFrame_->stop();
    continuation_->stop();
}

void TUDPServer::lookIn(std::chrono::milliseconds interval) {
    queue_->setNextLook(std::chrono::steady_clock::now() + interval);
    nextFrame_->start(interval);
}

void TUDPServer::woken() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto ignored = ::read(wakeFd_, &count, sizeof count);
    // Woken again within a frame of the last batch: datagrams come more often than
    // frames, so look once a frame from now on instead of at each one.
    const auto sinceLast = std::chrono::steady_clock::now() - lastBatch_;
    if (sinceLast < kFrame) {
        pacing_ = true;
        lookIn(std::chrono::ceil<std::chrono::milliseconds>(kFrame - sinceLast));
    } else {
        deliver();
    }
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
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + kBatchTime;
    bool more = false;
    int handled = 0;
    for (velt::DatagramQueue::Datagram datagram{}; queue_->next(datagram); ++handled) {
        stream_->setPayload(datagram.data, datagram.size);
        try {
            if (OnUDPRead)
                OnUDPRead(this, *stream_, &binding_);
        } catch (const std::exception& error) {
            emit handlerFailed(QString::fromUtf8(error.what()));
        } catch (...) {
            emit handlerFailed(QString());
        }
        if (!receiver_) // the handler stopped the server
            break;
        if (handled % 32 == 31 && std::chrono::steady_clock::now() >= deadline) {
            more = true;
            break;
        }
    }
    delivering_ = false;
    if (handled > 0)
        lastBatch_ = start;
    if (receiver_) {
        // A frame that finds nothing means datagrams come further apart than frames:
        // then sleep until the next one instead of waking for an empty look each time.
        if (handled == 0)
            pacing_ = false;
        if (more || std::exchange(redeliver_, false)) {
            queue_->clearNextLook();
            continuation_->start();
        } else if (pacing_ || !queue_->goIdle()) {
            lookIn(kFrame);
        } else {
            queue_->clearNextLook();
        }
    }
    if (handled > 0)
        emit batchDelivered();
}
