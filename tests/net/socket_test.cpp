// The socket layer over real loopback sockets: options, receive results, role-dependent
// scrambling, and the sorting of queries away from the game protocol.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/DatagramBatch.h"
#include "net/DatagramScrambler.h"
#include "net/QueryInbox.h"
#include "net/SocketLayer.h"

namespace velt {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Received {
    std::uint32_t address;
    std::uint16_t port;
    bool dataWasNull;
    Bytes bytes;
};

class RecordingSink : public DatagramSink {
public:
    void HandleDatagram(std::uint32_t binaryAddress, std::uint16_t port, const std::uint8_t* data,
                        std::uint32_t length) override {
        got.push_back(
            {binaryAddress, port, data == nullptr, data != nullptr ? Bytes(data, data + length) : Bytes{}});
    }
    std::vector<Received> got;
};

std::uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

// A bound loopback socket that closes itself.
struct TestSocket {
    TestSocket() : fd(SocketLayer::CreateBoundSocket(0, false, "127.0.0.1")) {}
    ~TestSocket() {
        if (fd != -1) ::close(fd);
    }
    std::uint16_t Port() const { return SocketLayer::GetLocalPort(fd); }
    int fd;
};

// Waits (bounded) for one datagram and runs it through RecvFrom.
int ReceiveOne(int fd, SocketEndpoint& endpoint) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1) return -2;
    int error = 99;
    const int r = SocketLayer::RecvFrom(fd, endpoint, &error);
    EXPECT_EQ(error, 0);
    return r;
}

Bytes Str(const char* s) { return Bytes(s, s + std::strlen(s)); }

TEST(SocketLayer, CreateBoundSocketSetsItsOptions) {
    TestSocket s;
    ASSERT_NE(s.fd, -1);
    EXPECT_NE(s.Port(), 0);
    EXPECT_TRUE(::fcntl(s.fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(s.fd, F_GETFD) & FD_CLOEXEC);

    auto option = [&](int name) {
        int v = 0;
        socklen_t n = sizeof v;
        EXPECT_EQ(::getsockopt(s.fd, SOL_SOCKET, name, &v, &n), 0);
        return v;
    };
    EXPECT_EQ(option(SO_REUSEADDR), 0) << "a port the system picks must never be shared";
    EXPECT_EQ(option(SO_BROADCAST), 1);
    EXPECT_EQ(option(SO_SNDBUF), 2 * 16384);  // Linux reports twice the requested size
    EXPECT_GT(option(SO_RCVBUF), option(SO_SNDBUF));

    // A port asked for by number is bound with address reuse.
    const std::uint16_t port = s.Port();
    ::close(s.fd);
    s.fd = SocketLayer::CreateBoundSocket(port, false, "127.0.0.1");
    ASSERT_NE(s.fd, -1);
    EXPECT_EQ(option(SO_REUSEADDR), 1);

    // Never a server's game port: a second server there, or anything else, fails to bind
    // instead of sharing the port and taking part of its traffic.
    ::close(s.fd);
    s.fd = SocketLayer::CreateBoundSocket(port, false, "127.0.0.1", SocketRole::Server);
    ASSERT_NE(s.fd, -1);
    EXPECT_EQ(option(SO_REUSEADDR), 0);
    for (SocketRole second : {SocketRole::Server, SocketRole::Library}) {
        const int fd = SocketLayer::CreateBoundSocket(port, false, "127.0.0.1", second);
        EXPECT_EQ(fd, -1) << int(second);
        if (fd != -1) ::close(fd);
    }
}

// Many programs of one machine (the server's bots) each take a port the system picks: no two
// may get the same one, or one of them receives the other's traffic. With address reuse on, the
// system hands out taken ports: some fifteen pairs among 900 sockets.
TEST(SocketLayer, PortsThatTheSystemPicksAreNeverShared) {
    std::vector<int> fds;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < 900; ++i) {
        const int fd = SocketLayer::CreateBoundSocket(0, false, "127.0.0.1");
        if (fd == -1) break;  // out of descriptors: check what we have
        fds.push_back(fd);
        ports.push_back(SocketLayer::GetLocalPort(fd));
    }
    EXPECT_GE(fds.size(), 500u);
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end());
    for (int fd : fds) ::close(fd);
}

TEST(SocketLayer, BindAddressText) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t boundTo;  // host order
    };
    const Case cases[] = {
        {nullptr, true, INADDR_ANY}, {"", true, INADDR_ANY},  {"127.0.0.1", true, INADDR_LOOPBACK},
        {"localhost", false, 0},  // names are not addresses
        {"127.0.0.1x", false, 0},    {"300.1.1.1", false, 0},
    };
    for (const Case& c : cases) {
        const int fd = SocketLayer::CreateBoundSocket(0, true, c.text);
        EXPECT_EQ(fd != -1, c.ok) << (c.text ? c.text : "(null)");
        if (fd == -1) continue;
        sockaddr_in local{};
        socklen_t n = sizeof local;
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n), 0);
        EXPECT_EQ(ntohl(local.sin_addr.s_addr), c.boundTo);
        ::close(fd);
    }
    EXPECT_EQ(SocketLayer::GetLocalPort(-1), 0);
}

TEST(SocketLayer, ReceiveResults) {
    RecordingSink sink;
    SocketEndpoint endpoint(SocketRole::Library, &sink);
    int error = 99;
    EXPECT_EQ(SocketLayer::RecvFrom(-1, endpoint, &error), -1);
    EXPECT_EQ(error, -1);

    TestSocket rx, tx;
    EXPECT_EQ(SocketLayer::RecvFrom(rx.fd, endpoint, &error), 0);
    EXPECT_EQ(error, 0);

    // An empty datagram is taken and dropped; sending it does not spin.
    EXPECT_EQ(SocketLayer::SendTo(tx.fd, nullptr, 0, Loopback(), rx.Port()), 0);
    EXPECT_EQ(ReceiveOne(rx.fd, endpoint), 1);
    EXPECT_TRUE(sink.got.empty());

    const Bytes hello = Str("hello");
    EXPECT_EQ(SocketLayer::SendTo(tx.fd, hello.data(), 5, "127.0.0.1", rx.Port()), 0);
    EXPECT_EQ(ReceiveOne(rx.fd, endpoint), 1);
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0].bytes, hello);
    EXPECT_EQ(sink.got[0].address, Loopback());
    EXPECT_EQ(sink.got[0].port, tx.Port());
}

TEST(SocketLayer, SendFailures) {
    TestSocket tx;
    const Bytes data = Str("x");
    EXPECT_EQ(SocketLayer::SendTo(-1, data.data(), 1, Loopback(), 9), -1);
    EXPECT_EQ(SocketLayer::SendTo(-1, data.data(), 1, "127.0.0.1", 9), -1);
    // Garbage text must not turn into the broadcast address.
    for (const char* bad : {"", "nonsense", "255.255.255.256", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(SocketLayer::SendTo(tx.fd, data.data(), 1, bad, 9), 1) << (bad ? bad : "(null)");
    }
    EXPECT_EQ(SocketLayer::SendTo(tx.fd, nullptr, 4, Loopback(), 9), 1);
    int closed = SocketLayer::CreateBoundSocket(0, false, "127.0.0.1");
    ::close(closed);
    EXPECT_EQ(SocketLayer::SendTo(closed, data.data(), 1, Loopback(), 9), 1);
}

// Each role pair that talks in this system, end to end over loopback.
TEST(SocketLayer, RolesScrambleOnlyWhereTheyMust) {
    struct Case {
        SocketRole sender, receiver;
    };
    const Case cases[] = {
        {SocketRole::BotClient, SocketRole::Server},
        {SocketRole::Server, SocketRole::BotClient},
        {SocketRole::Library, SocketRole::Library},
    };
    const Bytes payloads[] = {Bytes{}, Bytes{0x14},
                              Str("\x14"
                                  "abcdefghijklmnopqrstuvwxyz"),
                              Bytes(1400, 0xA7)};
    for (const Case& c : cases) {
        TestSocket a, b;
        RecordingSink sink;
        SocketEndpoint sender(c.sender), receiver(c.receiver, &sink);
        sender.SetKey(b.Port());
        receiver.SetKey(b.Port());
        for (const Bytes& p : payloads) {
            sink.got.clear();
            ASSERT_EQ(SocketLayer::SendTo(a.fd, p.data(), static_cast<std::uint32_t>(p.size()), Loopback(),
                                          b.Port(), &sender),
                      0);
            ASSERT_EQ(ReceiveOne(b.fd, receiver), 1);
            if (p.empty() && c.receiver != SocketRole::Server) {
                EXPECT_TRUE(sink.got.empty());  // a plain empty datagram is dropped
                continue;
            }
            ASSERT_EQ(sink.got.size(), 1u) << int(c.sender) << "->" << int(c.receiver) << " " << p.size();
            EXPECT_EQ(sink.got[0].bytes, p);
            // The scrambled empty payload arrives as an explicit empty hand-over.
            EXPECT_EQ(sink.got[0].dataWasNull, p.empty());
        }
    }
}

// Batched sends and receives carry exactly what single ones do, in order, through every role and
// across the batch's automatic flush; a refused datagram is counted and does not stop the rest.
TEST(SocketLayer, BatchesCarryWhatSingleSendsCarry) {
    struct Case {
        SocketRole sender, receiver;
    };
    const Case cases[] = {
        {SocketRole::BotClient, SocketRole::Server},
        {SocketRole::Server, SocketRole::BotClient},
        {SocketRole::Library, SocketRole::Library},
    };
    std::vector<Bytes> payloads;
    for (std::uint32_t i = 0; i < DatagramBatch::kCapacity + 10; ++i) {
        Bytes p(1 + (i * 37) % 1400, std::uint8_t(i));
        p[0] = std::uint8_t(0x14 + i);
        payloads.push_back(p);
    }
    for (const Case& c : cases) {
        TestSocket a, b;
        RecordingSink sink;
        SocketEndpoint sender(c.sender), receiver(c.receiver, &sink);
        sender.SetKey(b.Port());
        receiver.SetKey(b.Port());
        DatagramBatch batch;
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            const Bytes& p = payloads[i];
            ASSERT_EQ(batch.Add(a.fd, p.data(), std::uint32_t(p.size()), Loopback(), b.Port(), &sender), 0);
            if (i == 3) {
                ASSERT_EQ(batch.Add(a.fd, p.data(), std::uint32_t(p.size()), Loopback(), 0, &sender), 0);
            }
        }
        batch.Flush(a.fd);
        EXPECT_EQ(batch.Pending(), 0u);
        EXPECT_EQ(batch.Failed(), 1u);  // the one to port 0

        for (int spins = 0; sink.got.size() < payloads.size() && spins < 200; ++spins) {
            pollfd pf{b.fd, POLLIN, 0};
            if (::poll(&pf, 1, 2000) != 1) break;
            ASSERT_GT(SocketLayer::RecvBatch(b.fd, receiver, kReceiveBatch), 0);
        }
        ASSERT_EQ(sink.got.size(), payloads.size()) << int(c.sender) << "->" << int(c.receiver);
        for (std::size_t i = 0; i < payloads.size(); ++i) EXPECT_EQ(sink.got[i].bytes, payloads[i]) << i;
        EXPECT_EQ(SocketLayer::RecvBatch(b.fd, receiver, kReceiveBatch), 0);  // nothing left
    }
    SocketEndpoint none(SocketRole::Library);
    EXPECT_EQ(SocketLayer::RecvBatch(-1, none, kReceiveBatch), -1);
}

TEST(SocketLayer, ServerSortsQueriesFromGameDatagrams) {
    struct Case {
        const char* name;
        Bytes wire;
        bool running;
        bool queued;
    };
    // Header: magic, the address and port the client aimed at, opcode.
    const Bytes query = {'V', 'E', 'L', 'T', 127, 0, 0, 1, 0x61, 0x1E, 'p'};
    Bytes ping = query;
    for (std::uint8_t b : {1, 2, 3, 4}) ping.push_back(b);
    const Case cases[] = {
        {"11-byte query", query, true, true},
        {"15-byte ping", ping, true, true},
        {"header cut short", Bytes(query.begin(), query.begin() + 10), true, false},
        {"magic alone", Str("VELT"), true, false},
        {"other magic", Str("VELS\x01\x02\x03\x04\x05\x06p"), true, false},
        {"game not running", query, false, false},
    };
    for (const Case& c : cases) {
        TestSocket rx, tx;
        RecordingSink sink;
        QueryInbox inbox;
        inbox.SetGameRunning(c.running);
        SocketEndpoint endpoint(SocketRole::Server, &sink, &inbox);
        endpoint.SetKey(rx.Port());
        ASSERT_EQ(SocketLayer::SendTo(tx.fd, c.wire.data(), static_cast<std::uint32_t>(c.wire.size()),
                                      Loopback(), rx.Port()),
                  0);
        ASSERT_EQ(ReceiveOne(rx.fd, endpoint), 1) << c.name;
        std::vector<QueuedQuery> taken;
        inbox.Drain([&](const QueuedQuery& q) { taken.push_back(q); });
        ASSERT_EQ(taken.size(), c.queued ? 1u : 0u) << c.name;
        if (c.queued) {
            EXPECT_EQ(Bytes(taken[0].data, taken[0].data + taken[0].length), c.wire) << c.name;
            EXPECT_EQ(taken[0].binaryAddress, Loopback());
            EXPECT_EQ(taken[0].port, tx.Port());
            EXPECT_EQ(taken[0].socket, rx.fd);
        }
        // "VELT" can never pass the checksum ('V' has bits outside its mask), so nothing that
        // starts with it reaches the peer either way.
        EXPECT_TRUE(sink.got.empty()) << c.name;
        EXPECT_EQ(inbox.Dropped(), 0u);
    }
}

TEST(SocketLayer, OnlyTheServerRoleAnswersQueries) {
    QueryInbox inbox;
    inbox.SetGameRunning(true);
    const Bytes query = Str("VELT0123456i");
    for (SocketRole role : {SocketRole::BotClient, SocketRole::Library}) {
        RecordingSink sink;
        SocketEndpoint endpoint(role, &sink, &inbox);
        SocketLayer::DispatchDatagram(endpoint, 3, Loopback(), 4000, query.data(),
                                      static_cast<std::uint32_t>(query.size()));
        ASSERT_EQ(sink.got.size(), 1u);
        EXPECT_EQ(sink.got[0].bytes, query);
    }
    EXPECT_EQ(inbox.Pending(), 0u);
}

TEST(QueryInbox, BoundedAndCounted) {
    QueryInbox inbox(4);
    inbox.SetGameRunning(true);
    Bytes q = Str("VELT0123456p");
    for (std::uint8_t i = 0; i < 6; ++i) {
        q[11] = static_cast<std::uint8_t>('a' + i);
        EXPECT_TRUE(inbox.Offer(Loopback(), 1000 + i, q.data(), static_cast<std::uint32_t>(q.size()), 7));
    }
    EXPECT_EQ(inbox.Pending(), 4u);
    EXPECT_EQ(inbox.Dropped(), 2u);

    std::string order;
    EXPECT_EQ(inbox.Drain([&](const QueuedQuery& x) { order += static_cast<char>(x.data[11]); }), 4u);
    EXPECT_EQ(order, "abcd");

    // Room again once the main thread has caught up.
    EXPECT_TRUE(inbox.Offer(Loopback(), 1, q.data(), static_cast<std::uint32_t>(q.size()), 7));
    EXPECT_EQ(inbox.Pending(), 1u);
    EXPECT_EQ(inbox.Dropped(), 2u);
}

// Network thread offering while the main thread drains: every query is either answered in order
// or counted as dropped (run under ThreadSanitizer as well).
TEST(QueryInbox, HandOverBetweenThreads) {
    constexpr std::uint32_t kQueries = 20000;
    QueryInbox inbox(16);
    inbox.SetGameRunning(true);
    std::atomic<bool> done{false};
    std::thread network([&] {
        Bytes q = Str("VELT0123456pNNNN");
        for (std::uint32_t i = 0; i < kQueries; ++i) {
            std::memcpy(&q[12], &i, 4);
            inbox.Offer(Loopback(), 1, q.data(), static_cast<std::uint32_t>(q.size()), 7);
        }
        done.store(true);
    });
    std::uint32_t answered = 0;
    std::int64_t last = -1;
    bool ordered = true;
    auto answer = [&](const QueuedQuery& x) {
        std::uint32_t i;
        std::memcpy(&i, &x.data[12], 4);
        ordered = ordered && static_cast<std::int64_t>(i) > last;
        last = i;
        ++answered;
    };
    while (!done.load()) inbox.Drain(answer);
    network.join();
    inbox.Drain(answer);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(answered + inbox.Dropped(), kQueries);
    EXPECT_GT(answered, 0u);
}

TEST(SocketLayer, HostLookups) {
    char out[16];
    EXPECT_STREQ(SocketLayer::DomainNameToIP("127.0.0.1", out, sizeof out), "127.0.0.1");
    EXPECT_STREQ(SocketLayer::DomainNameToIP("localhost"), "127.0.0.1");
    EXPECT_EQ(SocketLayer::DomainNameToIP("", out, sizeof out), nullptr);
    EXPECT_EQ(SocketLayer::DomainNameToIP("127.0.0.1", out, 8), nullptr);  // cannot hold the text
    EXPECT_EQ(SocketLayer::DomainNameToIP(nullptr), nullptr);

    char list[10][16];
    std::memset(list, 'Z', sizeof list);
    const int n = SocketLayer::GetMyIP(list);
    ASSERT_GE(n, 0);
    ASSERT_LE(n, 10);
    for (int i = 0; i < 10; ++i) {
        in_addr a{};
        if (i < n) {
            EXPECT_EQ(inet_pton(AF_INET, list[i], &a), 1) << list[i];
        } else {
            EXPECT_EQ(list[i][0], '\0');
        }
    }
}

}  // namespace
}  // namespace velt
