// The floor under Wine: a bare Winsock recvfrom loop on port 55555 with the receiver's
// buffer size, counting datagrams until a second passes without one after the first.
// Prints the count. What VELT's receiver loses beyond this loop's losses is its own.
#include <winsock2.h>

#include <cstdio>

int main() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const int bytes = 16 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(55555);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 1;
    std::printf("bound\n");
    std::fflush(stdout);
    char buffer[65536];
    long long count = 0;
    for (;;) {
        if (count > 0) {
            const DWORD timeout = 1000;
            ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                         sizeof timeout);
        }
        if (::recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr) < 0)
            break;
        ++count;
    }
    std::printf("%lld\n", count);
    return 0;
}
