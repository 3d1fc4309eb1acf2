// Test and benchmark sender: sends datagrams to a VELT receiver, bounded in count and
// time. It sends only to loopback, or to any address when it runs inside a network
// namespace made with `ip netns` (a test's private network).
//
//   udp_send [--broadcast] [--count N] [--rate PER_SECOND] [--sequence] ADDRESS PORT [HEX...]
//
// Payloads are the HEX arguments in turn ("" sends an empty datagram), or with
// --sequence the three-byte readings 01 01 01, 01 01 02, ... that contain no zero byte.
// Prints the number of datagrams sent and the seconds it took.

#include "support/test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long kMaxCount = 20'000'000;
constexpr auto kMaxDuration = std::chrono::seconds(300);

// True inside a namespace made with `ip netns add`, which is how the tests build their
// private networks; false in the machine's own namespace.
bool inPrivateNetworkNamespace() {
    struct stat self {};
    if (::stat("/proc/self/ns/net", &self) != 0)
        return false;
    DIR* dir = ::opendir("/run/netns");
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat named {};
        const std::string path = std::string("/run/netns/") + entry->d_name;
        if (entry->d_name[0] != '.' && ::stat(path.c_str(), &named) == 0 &&
            named.st_ino == self.st_ino && named.st_dev == self.st_dev)
            found = true;
    }
    ::closedir(dir);
    return found;
}

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

int usage() {
    std::fprintf(stderr, "usage: udp_send [--broadcast] [--count N] [--rate PER_SECOND] "
                         "[--sequence] ADDRESS PORT [HEX...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    bool broadcast = false, sequence = false;
    long long count = -1;
    double rate = 0;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--broadcast")
            broadcast = true;
        else if (a == "--sequence")
            sequence = true;
        else if (a == "--count" && i + 1 < argc)
            count = std::atoll(argv[++i]);
        else if (a == "--rate" && i + 1 < argc)
            rate = std::atof(argv[++i]);
        else
            args.push_back(a);
    }
    if (args.size() < 2 || (!sequence && args.size() < 3))
        return usage();

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(args[1].c_str())));
    if (::inet_pton(AF_INET, args[0].c_str(), &to.sin_addr) != 1)
        return usage();
    const bool loopback = (ntohl(to.sin_addr.s_addr) >> 24) == 127;
    if (!loopback && !inPrivateNetworkNamespace()) {
        std::fprintf(stderr,
                     "udp_send: refusing %s: only loopback outside a test's network namespace\n",
                     args[0].c_str());
        return 2;
    }

    std::vector<std::vector<unsigned char>> payloads;
    for (std::size_t i = 2; i < args.size(); ++i)
        payloads.push_back(fromHex(args[i]));
    if (count < 0)
        count = sequence ? 1 : static_cast<long long>(payloads.size());
    if (count > kMaxCount)
        count = kMaxCount;

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    if (broadcast)
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    // Datagrams go out in batches of up to 64 per sendmmsg call: as many as are due.
    constexpr int kBatch = 64;
    std::vector<std::array<unsigned char, 3>> readings(kBatch);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    const auto start = std::chrono::steady_clock::now();
    long long sent = 0;
    while (sent < count) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start > kMaxDuration)
            break;
        long long due = std::min<long long>(kBatch, count - sent);
        if (rate > 0) {
            const double elapsed = std::chrono::duration<double>(now - start).count();
            due = std::min<long long>(due, static_cast<long long>(elapsed * rate) + 1 - sent);
            if (due <= 0) {
                // Reading number `sent` is due at sent / rate: sleeping to the one after it
                // would send the readings in pairs.
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(sent / rate)));
                continue;
            }
        }
        for (long long k = 0; k < due; ++k) {
            const long long i = sent + k;
            if (sequence) {
                readings[k] = velt::test::sequenceBytes(i);
                iov[k] = {readings[k].data(), 3};
            } else {
                auto& p = payloads[static_cast<std::size_t>(i) % payloads.size()];
                iov[k] = {p.data(), p.size()};
            }
            messages[k] = {};
            messages[k].msg_hdr.msg_name = &to;
            messages[k].msg_hdr.msg_namelen = sizeof to;
            messages[k].msg_hdr.msg_iov = &iov[k];
            messages[k].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::sendmmsg(fd, messages.data(), static_cast<unsigned>(due), 0);
        if (n < 0) {
            if (errno != ENOBUFS && errno != EAGAIN) {
                std::perror("udp_send");
                return 1;
            }
            std::this_thread::yield();
            continue;
        }
        sent += n;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld %.6f\n", sent, seconds);
    ::close(fd);
    return 0;
}
