#pragma once
// TUDPServer listens on one UDP port of every local IPv4 address. A thread of its own
// drains the socket as fast as the kernel delivers, so datagrams that arrive while the
// owner's thread is busy wait in memory instead of being dropped. The owner's thread
// gets them through OnUDPRead, one call at a time, in arrival order, in batches bounded
// in time so that a flood cannot freeze the window. Pending datagrams are bounded;
// past the bound the newest are dropped and counted.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QIODevice;
class QTimer;

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
    bool active() const;

    // The binding in use while active; its port is the one bound (useful with port 0).
    const TUDPBinding& binding() const { return binding_; }

    // True while OnUDPRead runs for a batch; batchDelivered follows the batch.
    bool isDelivering() const { return delivering_; }

    std::uint64_t droppedDatagrams() const { return dropped_.load(std::memory_order_relaxed); }
    // Received and not yet handed to OnUDPRead.
    std::int64_t pendingDatagrams() const;
    std::uint64_t handlerErrors() const { return handlerErrors_; }

signals:
    void handlerFailed(const QString& message);
    // After each batch handed to OnUDPRead; the owner can show the results once.
    void batchDelivered();

private:
    struct Receiver;

    void deliver();
    void scheduleDelivery();
    void reportHandlerError(const QString& message);

    std::uint16_t defaultPort_ = 0;
    bool broadcastEnabled_ = false;
    std::int64_t maxPendingDatagrams_ = kDefaultMaxPendingDatagrams;
    std::int64_t maxPendingBytes_ = kDefaultMaxPendingBytes;
    TUDPBinding binding_;
    std::unique_ptr<Receiver> receiver_;
    QTimer* continuation_ = nullptr;
    std::atomic<std::uint64_t> dropped_ = 0;
    std::uint64_t handlerErrors_ = 0;
    std::int64_t lastErrorReportMs_ = -1;
    std::uint64_t unreportedErrors_ = 0;
    bool delivering_ = false;
    bool redeliver_ = false;
};
