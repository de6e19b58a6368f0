#pragma once
// Thin layer over POSIX UDP sockets. Its receive call sorts every datagram: queries to the
// query inbox, everything else (restored by the descrambler in the server role) to the peer.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/DatagramDescrambler.h"
#include "net/DatagramScrambler.h"
#include "net/QueryInbox.h"

namespace velt {

// Largest datagram read in one call; the system cuts a longer one.
inline constexpr std::size_t kMaxDatagramBytes = 1492;
// Datagrams RecvBatch takes in one system call.
inline constexpr std::uint32_t kReceiveBatch = 32;
static_assert(kQueryDatagramCapacity >= kMaxDatagramBytes);

// What a peer does with the bytes on its socket, chosen when the peer is made.
enum class SocketRole : std::uint8_t {
    Server,     // receives scrambled datagrams and queries, sends plain
    BotClient,  // receives plain, scrambles what it sends
    Library,    // plain both ways
};

// Where game datagrams go once the socket layer is done with them (the peer).
class DatagramSink {
public:
    virtual ~DatagramSink() = default;
    // Network thread. `length` may be 0 (a client may send an empty payload): `data` is then
    // null and there is nothing to identify the message by. Otherwise `data` is valid for the
    // duration of the call only.
    virtual void HandleDatagram(std::uint32_t binaryAddress, std::uint16_t port, const std::uint8_t* data,
                                std::uint32_t length) = 0;
    // Network thread, a hint only: a datagram of this sender is handled next in a batch, so its
    // state may be fetched into the cache while the one before it is handled.
    virtual void ExpectDatagram(std::uint32_t /*binaryAddress*/, std::uint16_t /*port*/) {}
};

// One peer's side of its socket: role, keys, the receive buffers and where datagrams go.
// Configure it before the network thread starts; afterwards the network thread receives through
// it and any thread may send through it.
class SocketEndpoint {
public:
    explicit SocketEndpoint(SocketRole role, DatagramSink* sink = nullptr, QueryInbox* queries = nullptr)
        : role_(role), sink_(sink), queries_(queries) {}
    SocketEndpoint(const SocketEndpoint&) = delete;
    SocketEndpoint& operator=(const SocketEndpoint&) = delete;

    SocketRole Role() const { return role_; }
    // The server's listening port (server role) or the server's port (bot role).
    void SetKey(std::uint16_t port) {
        descrambler_.SetKey(port);
        scrambler_.SetKey(port);
    }
    void SetSink(DatagramSink* sink) { sink_ = sink; }
    // Only the server role answers queries; null switches them off.
    void SetQueryInbox(QueryInbox* queries) { queries_ = queries; }

    const DatagramDescrambler& Descrambler() const { return descrambler_; }
    const DatagramScrambler& Scrambler() const { return scrambler_; }
    // Datagrams dropped for a checksum that did not match (server role; any thread may read).
    std::uint32_t BadChecksums() const { return badChecksums_.load(std::memory_order_relaxed); }

private:
    friend class SocketLayer;
    SocketRole role_;
    DatagramSink* sink_;
    QueryInbox* queries_;
    DatagramDescrambler descrambler_;
    DatagramScrambler scrambler_;
    std::atomic<std::uint32_t> badChecksums_{0};
    std::uint8_t received_[kMaxDatagramBytes];
    std::uint8_t plain_[kMaxDatagramBytes];
    // Receive buffers for RecvBatch, made at its first call (a peer that never reads in batches
    // does without them).
    std::unique_ptr<std::uint8_t[]> batch_;
};

class SocketLayer {
public:
    // Bound, non-blocking IPv4 UDP socket (address reuse, broadcast, 256 KB receive and 16 KB
    // send buffers) on `port` of `bindAddress` (every address when null or empty). -1 when it
    // cannot be made or bound, or when `bindAddress` is not a dotted IPv4 address. `blocking`
    // is ignored: the network thread must never wait in a receive. Address reuse is set only on
    // a port asked for by number, and never in the server role: a game port is one server's alone.
    static int CreateBoundSocket(std::uint16_t port, bool blocking, const char* bindAddress,
                                 SocketRole role = SocketRole::Library);

    // Connects the socket to one remote system; returns the socket (-1 when connect fails).
    static int Connect(int socket, std::uint32_t binaryAddress, std::uint16_t port);

    // Takes at most one datagram. -1 (error -1) for socket -1; 0 (error 0) when nothing was
    // waiting; 1 when one datagram was taken, whatever became of it.
    static int RecvFrom(int socket, SocketEndpoint& endpoint, int* errorCode);

    // Takes up to `maxDatagrams` (at most kReceiveBatch) waiting datagrams in one call and
    // dispatches each as RecvFrom does. Returns how many were taken (0 when none was waiting,
    // -1 for socket -1). Batch buffers (kReceiveBatch datagrams) are made at the first call that
    // asks for more than one.
    static int RecvBatch(int socket, SocketEndpoint& endpoint, std::uint32_t maxDatagrams);

    // What RecvFrom does with one received datagram, by the endpoint's role.
    static void DispatchDatagram(SocketEndpoint& endpoint, int socket, std::uint32_t binaryAddress,
                                 std::uint16_t port, const std::uint8_t* data, std::uint32_t length);

    // Sends one datagram (scrambled first when `endpoint` is in the bot role; plain without an
    // endpoint). 0 on success, 1 on failure, -1 for socket -1. A send that reports 0 bytes is
    // retried a bounded number of times.
    static int SendTo(int socket, const std::uint8_t* data, std::uint32_t length, std::uint32_t binaryAddress,
                      std::uint16_t port, const SocketEndpoint* endpoint = nullptr);
    // The same to a dotted address text; text that is not an IPv4 address fails (1).
    static int SendTo(int socket, const std::uint8_t* data, std::uint32_t length, const char* address,
                      std::uint16_t port, const SocketEndpoint* endpoint = nullptr);
    // What SendTo puts on the wire, written to `out`: the payload itself, or scrambled when
    // `endpoint` is in the bot role. Returns the wire length, 0 when `out` cannot hold it.
    static std::uint32_t PrepareDatagram(const std::uint8_t* data, std::uint32_t length, std::uint8_t* out,
                                         std::uint32_t outCapacity, const SocketEndpoint* endpoint);

    // First IPv4 address of `host` as dotted text in `out` (16 bytes hold any); returns out,
    // or null when the lookup fails, gives no IPv4 address or `out` is too small.
    static const char* DomainNameToIP(const char* host, char* out, std::size_t outSize);
    // The same in a buffer of the calling thread, valid until that thread's next call.
    static const char* DomainNameToIP(const char* host);

    // Up to 10 IPv4 addresses of this host as dotted text, one per slot; the other slots
    // become empty. Returns how many were found.
    static int GetMyIP(char ipList[10][16]);

    // Port (host order) the socket is bound to; 0 when it cannot be read.
    static std::uint16_t GetLocalPort(int socket);
};

}  // namespace velt
