// Windows: Winsock 2. The thread waits on two event objects, the socket's readiness
// (WSAEventSelect) and a stop event, and drains the socket with recvfrom until it would
// block, handing the queue up to 32 datagrams at a time. When datagrams come close
// together it pauses after a drain, as the Linux thread does, so that one wake-up takes
// many: under Wine every wait and reset is a request to wineserver, as each receive is
// two, and without the pause the waits for every datagram cap the rate further. Windows
// times waits in scheduler ticks (about 16 ms unless a program asks for finer), so the
// pause is at most one tick and ends at the owner's next look where it can. The owner's
// thread is woken through an auto-reset event that QWinEventNotifier watches. Windows
// counts dropped datagrams only for the whole system, so that count is offered apart, as
// such.
#include "net/receive_thread.h"

#include "net/datagram_queue.h"

#include <QString>
#include <QWinEventNotifier>

// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace velt {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

constexpr int kSocketReceiveBytes = 16 << 20;
// Drains closer together than this are a flood worth gathering for; the pause is no
// longer, which the socket's buffer holds at any rate seen here.
constexpr auto kMaxPause = std::chrono::milliseconds(8);
// How long before the owner's next look the gathered datagrams are handed over.
constexpr auto kAheadOfLook = std::chrono::milliseconds(1);
constexpr int kBatchMessages = 32;
// The largest UDP payload over IPv4 is 65,507 bytes; a larger buffer never truncates.
constexpr int kMessageBytes = 65536;

// Winsock's and Windows' error texts, in the user's language, as Windows words them.
class WindowsCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override {
        wchar_t* text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        QString message = QString::fromWCharArray(text, static_cast<qsizetype>(length)).trimmed();
        ::LocalFree(text);
        if (message.endsWith(u'.'))
            message.chop(1);
        if (message.isEmpty()) // Wine has no texts for Winsock's errors
            message = fallbackText(code);
        return message.isEmpty() ? "chyba " + std::to_string(code) : message.toStdString();
    }
    static QString fallbackText(int code) {
        switch (code) {
        case WSAEADDRINUSE:
            return QStringLiteral("adresa se již používá (chyba %1)").arg(code);
        case WSAEACCES:
            return QStringLiteral("přístup odepřen (chyba %1)").arg(code);
        case WSAEADDRNOTAVAIL:
            return QStringLiteral("adresa není k dispozici (chyba %1)").arg(code);
        case WSAENOBUFS:
            return QStringLiteral("nedostatek vyrovnávací paměti (chyba %1)").arg(code);
        default:
            return {};
        }
    }
    // So that a caller can ask portably, as for errno values elsewhere.
    std::error_condition default_error_condition(int code) const noexcept override {
        switch (code) {
        case WSAEADDRINUSE:
            return std::errc::address_in_use;
        case WSAEACCES:
            return std::errc::permission_denied;
        case WSAEADDRNOTAVAIL:
            return std::errc::address_not_available;
        case WSAENOBUFS:
            return std::errc::no_buffer_space;
        default:
            return {code, *this};
        }
    }
};

const std::error_category& windowsCategory() {
    static const WindowsCategory category;
    return category;
}

[[noreturn]] void throwBindError(std::uint16_t port, int error) {
    throw std::system_error(error, windowsCategory(),
                            "Nelze naslouchat na portu UDP " + std::to_string(port));
}

struct Winsock {
    Winsock() {
        WSADATA data;
        if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0)
            throw std::system_error(error, windowsCategory(), "WSAStartup");
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    ~Winsock() { ::WSACleanup(); }
};

struct Socket {
    SOCKET handle = INVALID_SOCKET;
    explicit Socket(SOCKET socket) : handle(socket) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { ::closesocket(handle); }
};

SOCKET openSocket(std::uint16_t port, bool broadcast, TUDPBinding& binding) {
    const SOCKET s =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        throwBindError(port, ::WSAGetLastError());
    const auto fail = [s, port] {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        throwBindError(port, error);
    };
    const BOOL on = TRUE;
    const auto option = [](const auto& value) { return reinterpret_cast<const char*>(&value); };
    // The port is ours alone: without this, Windows lets a later socket with SO_REUSEADDR
    // bind beside it and take the datagrams.
    if (::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, option(on), sizeof on) != 0)
        fail();
    if (broadcast && ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, option(on), sizeof on) != 0)
        fail();
    // A large buffer covers the moments before the thread is scheduled.
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, option(kSocketReceiveBytes), sizeof kSocketReceiveBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail();
    int length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    binding = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    return s;
}

struct Event {
    HANDLE handle;
    explicit Event(bool manualReset)
        : handle(::CreateEventW(nullptr, manualReset, FALSE, nullptr)) {
        if (!handle)
            throw std::system_error(static_cast<int>(::GetLastError()), windowsCategory(),
                                    "CreateEvent");
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() { ::CloseHandle(handle); }
};

// UDP datagrams the system discarded, for every program together; its counter is 32 bits.
std::optional<DWORD> udpInErrors() {
    MIB_UDPSTATS stats{};
    if (::GetUdpStatistics(&stats) != NO_ERROR)
        return std::nullopt;
    return stats.dwInErrors;
}

} // namespace

struct ReceiveThread::Private {
    Private(std::uint16_t port, bool broadcast, DatagramQueue& queue, std::function<void()> woken)
        : socket(openSocket(port, broadcast, binding)), queue(queue), woken(std::move(woken)) {
        if (::WSAEventSelect(socket.handle, readable.handle, FD_READ) != 0)
            throw std::system_error(::WSAGetLastError(), windowsCategory(), "WSAEventSelect");
        QObject::connect(&wakeNotifier, &QWinEventNotifier::activated, [this] { this->woken(); });
        thread = std::thread([this] { run(); });
    }

    ~Private() {
        ::SetEvent(stop.handle);
        thread.join();
    }

    void run();

    Winsock winsock;
    TUDPBinding binding;
    Socket socket;
    Event readable{true};
    Event stop{true};
    Event wake{false};
    QWinEventNotifier wakeNotifier{wake.handle};
    DatagramQueue& queue;
    std::function<void()> woken;
    const std::optional<DWORD> inErrorsAtStart = udpInErrors();
    // The last count asked for, and when: the owner asks once a look, but the count comes
    // from the system's network driver (under Wine, another process), and a tooltip needs
    // it only a few times a second.
    mutable std::optional<DWORD> inErrors = inErrorsAtStart;
    mutable std::chrono::steady_clock::time_point inErrorsAsked = std::chrono::steady_clock::now();
    std::thread thread;
};

void ReceiveThread::Private::run() {
    std::vector<char> buffers(static_cast<std::size_t>(kBatchMessages) * kMessageBytes);
    DatagramQueue::Datagram datagrams[kBatchMessages];
    const HANDLE events[2] = {readable.handle, stop.handle};
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastDrain{};
    for (;;) {
        const DWORD signalled = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (signalled == WAIT_OBJECT_0 + 1)
            return;
        if (signalled != WAIT_OBJECT_0) {
            ::Sleep(10); // the system short of resources for a moment: try again
            continue;
        }
        // Reset before draining: a datagram that arrives after the last recvfrom signals
        // the event again, since that recvfrom re-enabled it.
        ::ResetEvent(readable.handle);
        for (bool drained = false; !drained;) {
            int n = 0;
            while (n < kBatchMessages) {
                char* buffer = buffers.data() + static_cast<std::size_t>(n) * kMessageBytes;
                const int received =
                    ::recvfrom(socket.handle, buffer, kMessageBytes, 0, nullptr, nullptr);
                if (received >= 0) {
                    // Windows gives no arrival time with a datagram: the time it is read.
                    datagrams[n++] = {buffer, static_cast<std::uint32_t>(received), nowMs()};
                } else if (::WSAGetLastError() != WSAECONNRESET) {
                    // Would block, or the network went away: wait for the next signal.
                    // (A reset only reports an ICMP error for something this socket sent.)
                    drained = true;
                    break;
                }
            }
            if (n == 0)
                continue;
            queue.push(datagrams, n);
            if (queue.takeWakeUp())
                ::SetEvent(wake.handle);
        }
        // Datagrams further apart than a pause gather nothing in it: the pause would only
        // hold the next reading back.
        const Clock::time_point now = Clock::now();
        if (now - std::exchange(lastDrain, now) >= kMaxPause)
            continue;
        auto until = now + kMaxPause;
        if (const auto look = queue.nextLook() - kAheadOfLook; look > now)
            until = std::min(until, look);
        const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        if (pause.count() > 0 &&
            ::WaitForSingleObject(stop.handle, static_cast<DWORD>(pause.count())) == WAIT_OBJECT_0)
            return;
    }
}

ReceiveThread::ReceiveThread(std::uint16_t port, bool broadcast, DatagramQueue& queue,
                             std::function<void()> woken)
    : d_(std::make_unique<Private>(port, broadcast, queue, std::move(woken))) {}

ReceiveThread::~ReceiveThread() = default;

const TUDPBinding& ReceiveThread::binding() const {
    return d_->binding;
}

std::uint64_t ReceiveThread::kernelDrops() const {
    return 0; // Windows keeps no count per socket
}

std::optional<std::uint64_t> ReceiveThread::systemDrops() const {
    constexpr auto kAskEvery = std::chrono::milliseconds(250);
    if (const auto now = std::chrono::steady_clock::now(); now - d_->inErrorsAsked >= kAskEvery) {
        d_->inErrors = udpInErrors();
        d_->inErrorsAsked = now;
    }
    if (!d_->inErrors || !d_->inErrorsAtStart)
        return std::nullopt;
    return static_cast<DWORD>(*d_->inErrors - *d_->inErrorsAtStart);
}

} // namespace velt
