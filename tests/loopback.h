#pragma once
// Loopback helpers for the network tests: sending, probing a port, sequence readings.

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

class LoopbackSender {
public:
    explicit LoopbackSender(std::uint16_t port)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(port);
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;
    ~LoopbackSender() { ::close(fd_); }

    bool send(const QByteArray& payload) const {
        return ::sendto(fd_, payload.constData(), static_cast<std::size_t>(payload.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to_), sizeof to_) == payload.size();
    }

private:
    int fd_;
    sockaddr_in to_{};
};

// Whether a socket with the given options can bind the port on the address.
inline bool canBind(std::uint32_t address, std::uint16_t port, bool reuseAddress, bool reusePort) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (reuseAddress)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (reusePort)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return bound;
}

// A reading whose payload carries `i` (below 255^3) with no zero byte.
inline QByteArray sequenceReading(int i) {
    QByteArray p(3, Qt::Uninitialized);
    p[0] = static_cast<char>(1 + (i / (255 * 255)) % 255);
    p[1] = static_cast<char>(1 + (i / 255) % 255);
    p[2] = static_cast<char>(1 + i % 255);
    return p;
}
