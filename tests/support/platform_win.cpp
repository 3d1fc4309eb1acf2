// Sockets and memory as Windows has them. Windows has no SO_REUSEPORT: SO_REUSEADDR alone
// is its way of binding beside another socket.
#include "support/test_support.h"

#include <winsock2.h>

#include <windows.h>

#include <psapi.h>

namespace velt::test {

namespace {

// Winsock for the whole test process, started before the first socket.
void startWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    Q_UNUSED(started);
}

} // namespace

bool canBind(std::uint32_t address, std::uint16_t port, bool reuseAddress, bool) {
    startWinsock();
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const BOOL on = TRUE;
    if (reuseAddress)
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    const bool bound = ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::closesocket(s);
    return bound;
}

std::int64_t residentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<std::int64_t>(counters.WorkingSetSize);
}

LoopbackSender::LoopbackSender(std::uint16_t port)
    : socket_(
          (startWinsock(), static_cast<std::intptr_t>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)))),
      port_(port) {}

LoopbackSender::~LoopbackSender() {
    ::closesocket(static_cast<SOCKET>(socket_));
}

bool LoopbackSender::send(const QByteArray& payload) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::sendto(static_cast<SOCKET>(socket_), payload.constData(),
                    static_cast<int>(payload.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == payload.size();
}

} // namespace velt::test
