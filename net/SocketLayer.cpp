#include "net/SocketLayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velt {

namespace {

constexpr int kReceiveBufferBytes = 262144;
constexpr int kSendBufferBytes = 16384;
// A send that keeps reporting 0 bytes is a broken socket, not a busy one: give up after this.
constexpr int kSendAttempts = 16;

[[noreturn]] void FatalAssertion(const char* what) {
    std::fprintf(stderr, "Assertion failed: %s\n", what);
    std::abort();
}

// Parses dotted IPv4 text; false for anything else (inet_addr would quietly give the broadcast
// address 255.255.255.255 for garbage).
bool ParseAddress(const char* text, std::uint32_t& binaryAddress) {
    in_addr a{};
    if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return false;
    binaryAddress = a.s_addr;
    return true;
}

int SendPlain(int socket, const std::uint8_t* data, std::uint32_t length, std::uint32_t binaryAddress,
              std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = binaryAddress;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        const ssize_t sent =
            ::sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(length)) return 0;
        if (sent < 0 && errno != EINTR) return 1;
        // 0 bytes (or an interrupted call): try again.
    }
    return 1;
}

// An empty datagram, or one from something other than an IPv4 sender, is taken and dropped.
void DispatchReceived(SocketEndpoint& endpoint, int socket, const sockaddr_in& from, socklen_t fromLength,
                      const std::uint8_t* data, std::uint32_t length) {
    if (length == 0 || from.sin_family != AF_INET || fromLength < sizeof from) return;
    SocketLayer::DispatchDatagram(endpoint, socket, from.sin_addr.s_addr, ntohs(from.sin_port), data, length);
}

}  // namespace

int SocketLayer::CreateBoundSocket(std::uint16_t port, bool /*blocking*/, const char* bindAddress,
                                   SocketRole role) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bindAddress != nullptr && bindAddress[0] != '\0' &&
        !ParseAddress(bindAddress, local.sin_addr.s_addr)) {
        return -1;
    }

    // Close-on-exec: the bots and helper programs the server starts must not inherit its port.
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s == -1) return -1;

    const int on = 1;
    // Only for a port asked for by number. On a port the system picks, address reuse lets it
    // hand out a port another reusing socket already holds (the bots of one machine, say): the
    // two then share it, one of them receives the other's datagrams and its own connection goes
    // silent. Nor for a server's game port: on UDP address reuse lets a second server bind the
    // same port and quietly take the first one's traffic; it must fail to start instead.
    if (port != 0 && role != SocketRole::Server) ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags == -1 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == -1 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == -1) {
        ::close(s);
        return -1;
    }
    return s;
}

int SocketLayer::Connect(int socket, std::uint32_t binaryAddress, std::uint16_t port) {
    if (socket == -1) FatalAssertion("writeSocket != -1");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = binaryAddress;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == -1) return -1;
    return socket;
}

int SocketLayer::RecvFrom(int socket, SocketEndpoint& endpoint, int* errorCode) {
    int ignored;
    int& error = errorCode != nullptr ? *errorCode : ignored;
    if (socket == -1) {
        error = -1;
        return -1;
    }
    error = 0;

    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // Never wait, whatever mode the caller's socket is in.
    const ssize_t n = ::recvfrom(socket, endpoint.received_, sizeof endpoint.received_, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return 0;
    DispatchReceived(endpoint, socket, from, fromLength, endpoint.received_, static_cast<std::uint32_t>(n));
    return 1;
}

int SocketLayer::RecvBatch(int socket, SocketEndpoint& endpoint, std::uint32_t maxDatagrams) {
    if (socket == -1) return -1;
    if (maxDatagrams > kReceiveBatch) maxDatagrams = kReceiveBatch;
    if (maxDatagrams == 0) return 0;
    // One at a time needs no batch buffers.
    if (maxDatagrams == 1) return RecvFrom(socket, endpoint, nullptr) == 1 ? 1 : 0;
    if (!endpoint.batch_)
        endpoint.batch_ = std::make_unique<std::uint8_t[]>(kReceiveBatch * kMaxDatagramBytes);

    sockaddr_in from[kReceiveBatch];
    iovec iov[kReceiveBatch];
    mmsghdr headers[kReceiveBatch];
    for (std::uint32_t i = 0; i < maxDatagrams; ++i) {
        iov[i].iov_base = endpoint.batch_.get() + std::size_t{i} * kMaxDatagramBytes;
        iov[i].iov_len = kMaxDatagramBytes;
        std::memset(&headers[i], 0, sizeof headers[i]);
        headers[i].msg_hdr.msg_name = &from[i];
        headers[i].msg_hdr.msg_namelen = sizeof from[i];
        headers[i].msg_hdr.msg_iov = &iov[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    // Never wait, whatever mode the caller's socket is in.
    const int n = ::recvmmsg(socket, headers, maxDatagrams, MSG_DONTWAIT, nullptr);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        if (i + 1 < n && endpoint.sink_ != nullptr && from[i + 1].sin_family == AF_INET)
            endpoint.sink_->ExpectDatagram(from[i + 1].sin_addr.s_addr, ntohs(from[i + 1].sin_port));
        DispatchReceived(endpoint, socket, from[i], headers[i].msg_hdr.msg_namelen,
                         static_cast<const std::uint8_t*>(iov[i].iov_base), headers[i].msg_len);
    }
    return n;
}

void SocketLayer::DispatchDatagram(SocketEndpoint& endpoint, int socket, std::uint32_t binaryAddress,
                                   std::uint16_t port, const std::uint8_t* data, std::uint32_t length) {
    if (data == nullptr || length == 0) return;

    if (endpoint.role_ != SocketRole::Server) {
        if (endpoint.sink_ != nullptr) endpoint.sink_->HandleDatagram(binaryAddress, port, data, length);
        return;
    }

    // Queries are plain text: they must never reach the descrambler.
    if (endpoint.queries_ != nullptr && endpoint.queries_->Offer(binaryAddress, port, data, length, socket)) {
        return;
    }

    std::uint32_t plainLength = length;
    if (!endpoint.descrambler_.Descramble(endpoint.plain_, sizeof endpoint.plain_, data, plainLength)) {
        endpoint.badChecksums_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (endpoint.sink_ != nullptr) {
        // An empty payload has no identifier byte: hand over null rather than stale buffer bytes.
        endpoint.sink_->HandleDatagram(binaryAddress, port, plainLength != 0 ? endpoint.plain_ : nullptr,
                                       plainLength);
    }
}

int SocketLayer::SendTo(int socket, const std::uint8_t* data, std::uint32_t length,
                        std::uint32_t binaryAddress, std::uint16_t port, const SocketEndpoint* endpoint) {
    if (socket == -1) return -1;
    if (data == nullptr && length != 0) return 1;

    if (endpoint == nullptr || endpoint->role_ != SocketRole::BotClient) {
        return SendPlain(socket, data, length, binaryAddress, port);
    }

    // The main thread and the network thread may both send: each send scrambles into its own
    // buffer, never a shared one.
    std::uint8_t local[kMaxDatagramBytes + 1];
    std::vector<std::uint8_t> large;
    std::uint8_t* out = local;
    std::size_t capacity = sizeof local;
    if (std::size_t{length} + 1 > capacity) {
        large.resize(std::size_t{length} + 1);
        out = large.data();
        capacity = large.size();
    }
    const std::uint32_t wireLength =
        PrepareDatagram(data, length, out, static_cast<std::uint32_t>(capacity), endpoint);
    if (wireLength == 0) return 1;
    return SendPlain(socket, out, wireLength, binaryAddress, port);
}

int SocketLayer::SendTo(int socket, const std::uint8_t* data, std::uint32_t length, const char* address,
                        std::uint16_t port, const SocketEndpoint* endpoint) {
    if (socket == -1) return -1;
    std::uint32_t binaryAddress;
    if (!ParseAddress(address, binaryAddress)) return 1;
    return SendTo(socket, data, length, binaryAddress, port, endpoint);
}

std::uint32_t SocketLayer::PrepareDatagram(const std::uint8_t* data, std::uint32_t length, std::uint8_t* out,
                                           std::uint32_t outCapacity, const SocketEndpoint* endpoint) {
    if (endpoint != nullptr && endpoint->role_ == SocketRole::BotClient)
        return static_cast<std::uint32_t>(endpoint->scrambler_.Encode(data, length, out, outCapacity));
    if (length > outCapacity) return 0;
    if (length != 0) std::memcpy(out, data, length);
    return length;
}

const char* SocketLayer::DomainNameToIP(const char* host, char* out, std::size_t outSize) {
    if (host == nullptr || out == nullptr || outSize < INET_ADDRSTRLEN) return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &results) != 0 || results == nullptr) return nullptr;

    const char* text = nullptr;
    for (const addrinfo* r = results; r != nullptr && text == nullptr; r = r->ai_next) {
        if (r->ai_family != AF_INET || r->ai_addr == nullptr) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(r->ai_addr);
        text = ::inet_ntop(AF_INET, &a->sin_addr, out, static_cast<socklen_t>(outSize));
    }
    ::freeaddrinfo(results);
    return text;
}

const char* SocketLayer::DomainNameToIP(const char* host) {
    thread_local char buffer[INET_ADDRSTRLEN];
    return DomainNameToIP(host, buffer, sizeof buffer);
}

int SocketLayer::GetMyIP(char ipList[10][16]) {
    for (int i = 0; i < 10; ++i) ipList[i][0] = '\0';

    char name[80];
    if (::gethostname(name, sizeof name) == -1) return 0;
    name[sizeof name - 1] = '\0';

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &results) != 0) return 0;

    int count = 0;
    for (const addrinfo* r = results; r != nullptr && count < 10; r = r->ai_next) {
        if (r->ai_family != AF_INET || r->ai_addr == nullptr) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(r->ai_addr);
        if (::inet_ntop(AF_INET, &a->sin_addr, ipList[count], 16) != nullptr) ++count;
    }
    ::freeaddrinfo(results);
    return count;
}

std::uint16_t SocketLayer::GetLocalPort(int socket) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == -1 ||
        local.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace velt
