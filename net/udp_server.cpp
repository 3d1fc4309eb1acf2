#include "net/udp_server.h"

#include "net/datagram_queue.h"
#include "net/payload_stream.h"
#include "net/receive_thread.h"

#include <QTimer>

#include <chrono>
#include <utility>

namespace {

// How long one batch may keep the owner's thread before input and painting get a turn.
constexpr auto kBatchTime = std::chrono::milliseconds(8);
// While datagrams keep coming, the owner looks again this often. Each look repaints the
// window, and that repaint, not the readings, is what the window costs at ordinary rates:
// 40 looks a second cost a third less than 60, and a reading is still on screen within
// two display frames of its arrival (the receive thread hands over just before a look).
constexpr auto kFrame = std::chrono::milliseconds(25);

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

std::optional<std::uint64_t> TUDPServer::systemDroppedDatagrams() const {
    return receiver_ ? receiver_->systemDrops() : std::nullopt;
}

std::int64_t TUDPServer::pendingDatagrams() const {
    return queue_ ? queue_->pendingDatagrams() : 0;
}

void TUDPServer::setActive(bool active) {
    if (active == this->active())
        return;
    if (!active)
        return stop();
    queue_ = std::make_unique<velt::DatagramQueue>(maxPendingDatagrams_, maxPendingBytes_);
    receiver_ = std::make_unique<velt::ReceiveThread>(defaultPort_, broadcastEnabled_, *queue_,
                                                      [this] { woken(); });
    binding_ = receiver_->binding();
}

void TUDPServer::stop() {
    receiver_.reset();
    nextFrame_->stop();
    continuation_->stop();
}

void TUDPServer::lookIn(std::chrono::milliseconds interval) {
    queue_->setNextLook(std::chrono::steady_clock::now() + interval);
    nextFrame_->start(interval);
}

void TUDPServer::woken() {
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
        arrivalMs_ = datagram.arrivalMs;
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
