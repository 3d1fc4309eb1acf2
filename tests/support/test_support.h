#pragma once
// What the tests and the benchmarks share: loopback sending and port probing, the readings
// udp_send --sequence sends, and the process's resident memory.

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>

namespace velt::test {

// Reading i of udp_send --sequence: three bytes, none of them zero, so that i up to
// 255^3 - 1 is carried whole.
std::array<unsigned char, 3> sequenceBytes(long long i);
QByteArray sequenceReading(long long i);
// Its temperature: below 2^24 sixteenths, so exact in single precision.
float sequenceTemperature(long long i);

// IPv4 addresses in host order, as canBind takes them.
constexpr std::uint32_t kAnyAddress = 0;
constexpr std::uint32_t kLoopbackAddress = 0x7f000001;

// Whether a socket with the given options can bind the port on the address (host order).
bool canBind(std::uint32_t address, std::uint16_t port, bool reuseAddress = false,
             bool reusePort = false);

// Resident memory of this process; -1 where it cannot be read.
std::int64_t residentBytes();

// Sends datagrams to a port on 127.0.0.1.
class LoopbackSender {
public:
    explicit LoopbackSender(std::uint16_t port);
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;
    ~LoopbackSender();

    bool send(const QByteArray& payload) const;

private:
    std::intptr_t socket_; // a descriptor, or a Windows SOCKET
    std::uint16_t port_;
};

} // namespace velt::test
