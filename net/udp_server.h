#pragma once
// TUDPServer listens on one UDP port of every local IPv4 address. A ReceiveThread drains
// the socket into a DatagramQueue; the owner's thread gets the datagrams through
// OnUDPRead, one call at a time, in arrival order. It is woken when a datagram comes in
// while it is idle; while datagrams come more often than frames it looks once a frame
// instead, so at any rate it wakes at most about forty times a second, and at low rates
// once a datagram. A flood is handed over in batches bounded in time, so that the window
// stays responsive.

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class QTimer;

namespace velt {
class DatagramQueue;
class PayloadStream;
class ReceiveThread;
} // namespace velt

// The socket a datagram came in on.
struct TUDPBinding {
    std::uint32_t address = 0; // IPv4, host order; 0 is every local address
    std::uint16_t port = 0;
};

class TUDPServer : public QObject {
    Q_OBJECT
public:
    // The payload stream holds exactly the datagram's bytes, positioned at the first.
    // An exception thrown here is reported through handlerFailed; later datagrams are
    // still delivered.
    using UDPReadEvent = std::function<void(TUDPServer*, QIODevice&, const TUDPBinding*)>;

    static constexpr std::int64_t kDefaultMaxPendingDatagrams = 1 << 20;
    static constexpr std::int64_t kDefaultMaxPendingBytes = 64 << 20;

    explicit TUDPServer(QObject* owner = nullptr);
    ~TUDPServer() override;

    UDPReadEvent OnUDPRead;

    void setDefaultPort(std::uint16_t port) { defaultPort_ = port; }
    std::uint16_t defaultPort() const { return defaultPort_; }
    void setBroadcastEnabled(bool enabled) { broadcastEnabled_ = enabled; }
    bool broadcastEnabled() const { return broadcastEnabled_; }
    void setPendingLimits(std::int64_t datagrams, std::int64_t bytes);

    // Binds and starts listening, or stops and closes the socket. Throws
    // std::system_error, with a message naming the port, when the port cannot be bound.
    void setActive(bool active);
    bool active() const { return receiver_ != nullptr; }

    // The binding in use while active; its port is the one bound (useful with port 0).
    const TUDPBinding& binding() const { return binding_; }

    // True while OnUDPRead runs for a batch; batchDelivered follows the batch.
    bool isDelivering() const { return delivering_; }

    // Dropped by the pending bound, and by the kernel for want of socket buffer.
    std::uint64_t droppedDatagrams() const;
    std::uint64_t kernelDroppedDatagrams() const;
    std::uint64_t lostDatagrams() const { return droppedDatagrams() + kernelDroppedDatagrams(); }
    // Where the system counts its drops only for all programs together (Windows): UDP
    // datagrams it discarded since the port was bound, this program's or not; not part of
    // lostDatagrams. Nothing where kernelDroppedDatagrams counts this socket's own.
    std::optional<std::uint64_t> systemDroppedDatagrams() const;
    // While OnUDPRead runs: when its datagram arrived, in milliseconds since the Unix
    // epoch (the kernel's time of arrival where the system gives one).
    std::int64_t arrivalTime() const { return arrivalMs_; }
    // Received and not yet handed to OnUDPRead.
    std::int64_t pendingDatagrams() const;

signals:
    // An exception escaped OnUDPRead; the datagram's handling ended there.
    void handlerFailed(const QString& message);
    // After each batch handed to OnUDPRead; the owner can show the results once.
    void batchDelivered();

private:
    void woken();
    void deliver();
    void lookIn(std::chrono::milliseconds interval);
    void stop();

    std::uint16_t defaultPort_ = 0;
    bool broadcastEnabled_ = false;
    std::int64_t maxPendingDatagrams_ = kDefaultMaxPendingDatagrams;
    std::int64_t maxPendingBytes_ = kDefaultMaxPendingBytes;
    TUDPBinding binding_;
    std::unique_ptr<velt::DatagramQueue> queue_;
    std::unique_ptr<velt::ReceiveThread> receiver_;
    std::unique_ptr<velt::PayloadStream> stream_;
    QTimer* nextFrame_ = nullptr;
    QTimer* continuation_ = nullptr;
    bool delivering_ = false;
    std::int64_t arrivalMs_ = 0;
    bool redeliver_ = false;
    // Looking once a frame (datagrams come more often than frames), not sleeping until
    // the next datagram.
    bool pacing_ = false;
    std::chrono::steady_clock::time_point lastBatch_;
};
