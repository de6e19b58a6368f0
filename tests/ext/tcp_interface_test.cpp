// The TCP interface against plain sockets on 127.0.0.1: connections, data both ways, closes and
// losses, the connection cap, slow readers, outgoing connections, and more than a thousand
// simultaneous clients.

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/Clock.h"
#include "net/ext/TCPInterface.h"
#include "tests/ext/tcp_test_client.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::Client;
using test::WaitFor;

PlayerID WaitForNew(TCPInterface& tcp) {
    PlayerID id = UNASSIGNED_PLAYER_ID;
    WaitFor([&] { return (id = tcp.TakeNewConnection()) != UNASSIGNED_PLAYER_ID; });
    return id;
}

PlayerID WaitForLost(TCPInterface& tcp) {
    PlayerID id = UNASSIGNED_PLAYER_ID;
    WaitFor([&] { return (id = tcp.TakeLostConnection()) != UNASSIGNED_PLAYER_ID; });
    return id;
}

// Everything received from sender until want bytes are there (or the time is up).
std::string ReceiveFrom(TCPInterface& tcp, PlayerID sender, size_t want) {
    std::string got;
    WaitFor([&] {
        while (Packet* p = tcp.Receive()) {
            EXPECT_EQ(p->data[p->length], 0) << "a received chunk ends with a NUL";
            if (p->sender == sender) got.append(reinterpret_cast<char*>(p->data), p->length);
            tcp.DeallocatePacket(p);
        }
        return got.size() >= want;
    });
    return got;
}

void Send(TCPInterface& tcp, const std::string& text, PlayerID to) {
    tcp.Send(text.data(), static_cast<uint32_t>(text.size()), to);
}

TEST(TcpInterface, StartStopAndCallsWhileStopped) {
    TCPInterface tcp;
    EXPECT_EQ(tcp.Connect("127.0.0.1", 1), UNASSIGNED_PLAYER_ID);  // returns at once when not started
    Send(tcp, "x", UNASSIGNED_PLAYER_ID);
    tcp.CloseConnection(PlayerID{1, 2});
    EXPECT_EQ(tcp.Receive(), nullptr);
    tcp.Stop();

    ASSERT_TRUE(tcp.Start(0, 8));
    EXPECT_FALSE(tcp.Start(0, 8));
    const uint16_t port = tcp.GetListenPort();
    EXPECT_NE(port, 0);
    TCPInterface other;
    EXPECT_FALSE(other.Start(port, 8));  // the port is taken
    EXPECT_FALSE(other.IsStarted());     // and the failed start leaves it stopped
    tcp.Stop();
    EXPECT_EQ(tcp.GetListenPort(), 0);
    ASSERT_TRUE(tcp.Start(0, 8));  // once stopped it starts again
    Client client(tcp.GetListenPort());
    EXPECT_NE(WaitForNew(tcp), UNASSIGNED_PLAYER_ID);
    // Stopping with a client connected ends the worker before any socket closes.
    tcp.Stop();
    EXPECT_TRUE(client.SeesEnd());
}

TEST(TcpInterface, DataBothWaysAndOrderlyClose) {
    TCPInterface tcp;
    ASSERT_TRUE(tcp.Start(0, 8));
    Send(tcp, "nobody is there", UNASSIGNED_PLAYER_ID);  // no client yet: dropped

    Client a(tcp.GetListenPort()), b(tcp.GetListenPort());
    const PlayerID idA = WaitForNew(tcp);
    const PlayerID idB = WaitForNew(tcp);
    ASSERT_NE(idB, UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(idA.binaryAddress, htonl(INADDR_LOOPBACK));
    EXPECT_TRUE((idA.port == a.LocalPort() && idB.port == b.LocalPort()) ||
                (idA.port == b.LocalPort() && idB.port == a.LocalPort()));
    const PlayerID idOfA = idA.port == a.LocalPort() ? idA : idB;
    const PlayerID idOfB = idA.port == a.LocalPort() ? idB : idA;

    a.Write(std::string("with\0NUL", 8));
    EXPECT_EQ(ReceiveFrom(tcp, idOfA, 8), std::string("with\0NUL", 8));
    Send(tcp, "to a", idOfA);
    Send(tcp, "to all", UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(a.Read(10), "to ato all");
    EXPECT_EQ(b.Read(6), "to all");

    tcp.CloseConnection(
        PlayerID{idOfA.binaryAddress, static_cast<uint16_t>(idOfA.port ^ 1)});  // not connected
    // What was sent before the close arrives before the end of the stream.
    Send(tcp, "Goodbye!", idOfA);
    tcp.CloseConnection(idOfA);
    EXPECT_EQ(a.Read(8), "Goodbye!");
    EXPECT_TRUE(a.SeesEnd());
    EXPECT_EQ(WaitForLost(tcp), idOfA);
    EXPECT_EQ(tcp.TakeLostConnection(), UNASSIGNED_PLAYER_ID);  // reported once
    Send(tcp, "still here", idOfB);
    EXPECT_EQ(b.Read(10), "still here");
}

TEST(TcpInterface, LostClientsAreReportedOnceAndTheirDataStays) {
    TCPInterface tcp;
    ASSERT_TRUE(tcp.Start(0, 8));
    {
        Client leaving(tcp.GetListenPort());
        const PlayerID id = WaitForNew(tcp);
        leaving.Write("last words");
        ASSERT_TRUE(WaitFor([&] { return tcp.GetConnectionCount() == 1; }));
        leaving.Close();
        EXPECT_EQ(WaitForLost(tcp), id);
        EXPECT_EQ(ReceiveFrom(tcp, id, 10), "last words");
    }
    {
        Client rude(tcp.GetListenPort());
        const PlayerID id = WaitForNew(tcp);
        rude.Reset();
        EXPECT_EQ(WaitForLost(tcp), id);
    }
    SleepMs(100);
    EXPECT_EQ(tcp.TakeLostConnection(), UNASSIGNED_PLAYER_ID);
    Client next(tcp.GetListenPort());
    EXPECT_NE(WaitForNew(tcp), UNASSIGNED_PLAYER_ID);
}

TEST(TcpInterface, LargeSendsArriveWholeAndSlowReadersAreDropped) {
    TCPInterface tcp;
    ASSERT_TRUE(tcp.Start(0, 8));
    Client reader(tcp.GetListenPort());
    const PlayerID readerId = WaitForNew(tcp);
    // Far more than one socket buffer: the worker sends what the socket takes and the rest later.
    std::string big(TCPInterface::kMaxPendingOutputBytes * 4, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
    Send(tcp, big, readerId);
    EXPECT_TRUE(reader.Read(big.size()) == big);

    Client sleeper(tcp.GetListenPort());
    const PlayerID sleeperId = WaitForNew(tcp);
    const std::string chunk(64 * 1024, 'z');
    PlayerID lost = UNASSIGNED_PLAYER_ID;
    for (int i = 0; i < 400 && lost == UNASSIGNED_PLAYER_ID; ++i) {
        Send(tcp, chunk, sleeperId);
        SleepMs(5);
        lost = tcp.TakeLostConnection();
    }
    EXPECT_EQ(lost, sleeperId);
    EXPECT_EQ(tcp.GetDroppedSlowClientCount(), 1u);
    Send(tcp, "fine", readerId);
    EXPECT_EQ(reader.Read(4), "fine");
}

// A program that falls behind does not make the worker hoard: it stops reading, the sender
// waits, and nothing is lost once the program catches up.
TEST(TcpInterface, UnreadInputIsBounded) {
    TCPInterface tcp;
    ASSERT_TRUE(tcp.Start(0, 8));
    Client client(tcp.GetListenPort());
    const PlayerID id = WaitForNew(tcp);
    constexpr size_t kTotal = TCPInterface::kMaxQueuedInputBytes + 4 * 1024 * 1024;
    std::thread writer([&] {
        const std::string block(1024 * 1024, 'f');
        for (size_t sent = 0; sent < kTotal; sent += block.size()) client.Write(block);
    });
    ASSERT_TRUE(
        WaitFor([&] { return tcp.GetQueuedInputBytes() >= TCPInterface::kMaxQueuedInputBytes; }, 60000));
    SleepMs(200);
    EXPECT_LT(tcp.GetQueuedInputBytes(), TCPInterface::kMaxQueuedInputBytes + TCPInterface::kReadBytes);
    EXPECT_EQ(ReceiveFrom(tcp, id, kTotal).size(), kTotal);
    writer.join();
}

TEST(TcpInterface, TheConnectionCapRefusesAndRecovers) {
    TCPInterface tcp;
    tcp.SetMaxConnections(3);
    ASSERT_TRUE(tcp.Start(0, 16));
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Client>(tcp.GetListenPort()));
        EXPECT_NE(WaitForNew(tcp), UNASSIGNED_PLAYER_ID);
    }
    Client refused1(tcp.GetListenPort()), refused2(tcp.GetListenPort());
    EXPECT_TRUE(refused1.SeesEnd());
    EXPECT_TRUE(refused2.SeesEnd());
    EXPECT_EQ(tcp.GetRefusedConnectionCount(), 2u);
    EXPECT_EQ(tcp.TakeNewConnection(), UNASSIGNED_PLAYER_ID);

    clients[0].reset();
    EXPECT_NE(WaitForLost(tcp), UNASSIGNED_PLAYER_ID);
    Client welcome(tcp.GetListenPort());
    const PlayerID id = WaitForNew(tcp);
    ASSERT_NE(id, UNASSIGNED_PLAYER_ID);
    Send(tcp, "in", id);
    EXPECT_EQ(welcome.Read(2), "in");
}

TEST(TcpInterface, ConnectOut) {
    TCPInterface server, client;
    ASSERT_TRUE(server.Start(0, 8));
    ASSERT_TRUE(client.Start(0, 0));  // no listener: only outgoing connections
    EXPECT_EQ(client.GetListenPort(), 0);

    const PlayerID toServer = client.Connect("127.0.0.1", server.GetListenPort());
    EXPECT_EQ(toServer, (PlayerID{htonl(INADDR_LOOPBACK), server.GetListenPort()}));
    EXPECT_EQ(client.TakeNewConnection(), UNASSIGNED_PLAYER_ID);  // not reported as new
    const PlayerID fromClient = WaitForNew(server);
    Send(client, "hello", toServer);
    EXPECT_EQ(ReceiveFrom(server, fromClient, 5), "hello");
    Send(server, "hi", fromClient);
    EXPECT_EQ(ReceiveFrom(client, toServer, 2), "hi");

    // A name gives an address of all ones.
    const PlayerID byName = client.Connect("localhost", server.GetListenPort());
    EXPECT_EQ(byName, (PlayerID{0xFFFFFFFFu, server.GetListenPort()}));
    const uint16_t closedPort = server.GetListenPort();
    server.Stop();
    EXPECT_EQ(client.Connect("127.0.0.1", closedPort), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(client.Connect("no.such.host.invalid", 1), UNASSIGNED_PLAYER_ID);
}

int outOfDescriptorNotices = 0;
void CountOutOfDescriptors(const char* format, ...) {
    if (std::strstr(format, "cannot accept") != nullptr) ++outOfDescriptorNotices;
}

// Runs in a child process of its own, whose descriptor limit it lowers: the interface keeps
// listening while accept has no descriptor to give, says so once, and takes the waiting
// connections as soon as descriptors are free again.
void RunOutOfDescriptors() {
    TCPInterface tcp;
    tcp.SetLogHook(CountOutOfDescriptors);
    if (!tcp.Start(0, 1024)) std::_Exit(10);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 64;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) std::_Exit(11);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 200; ++i) {
        auto client = std::make_unique<Client>(tcp.GetListenPort());
        if (!client->Connected()) break;
        clients.push_back(std::move(client));
    }
    // Every descriptor is taken: the connections wait in the backlog, and the notice is not
    // repeated however often accept is retried.
    SleepMs(300);
    int accepted = 0;
    while (tcp.TakeNewConnection() != UNASSIGNED_PLAYER_ID) ++accepted;
    if (outOfDescriptorNotices != 1) std::_Exit(12);
    clients.resize(clients.size() / 2);
    const bool recovered = WaitFor([&] {
        while (tcp.TakeNewConnection() != UNASSIGNED_PLAYER_ID) ++accepted;
        return accepted >= static_cast<int>(clients.size());
    });
    std::_Exit(recovered ? 0 : 13);
}

TEST(TcpInterfaceDeathTest, OutOfDescriptorsTheListenerWaits) {
    EXPECT_EXIT(RunOutOfDescriptors(), ::testing::ExitedWithCode(0), "");
}

// More clients at once than a select-based wait could ever watch; afterwards the interface still
// takes new ones.
TEST(TcpInterface, OverAThousandSimultaneousClients) {
    constexpr int kClients = 1150;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    // Both ends of every connection live in this process.
    const rlim_t needed = 2 * kClients + 64;
    if (limit.rlim_cur < needed && limit.rlim_max >= needed) {
        limit.rlim_cur = limit.rlim_max;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    if (limit.rlim_cur < needed) GTEST_SKIP() << "the descriptor limit is " << limit.rlim_max;

    TCPInterface tcp;
    ASSERT_TRUE(tcp.Start(0, 1024));
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<Client>(tcp.GetListenPort()));
        ASSERT_TRUE(clients.back()->Connected()) << i;
    }
    std::vector<PlayerID> ids;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (PlayerID id = tcp.TakeNewConnection(); id != UNASSIGNED_PLAYER_ID;
                 id = tcp.TakeNewConnection())
                ids.push_back(id);
            return ids.size() == kClients;
        },
        60000));
    EXPECT_EQ(tcp.GetConnectionCount(), static_cast<uint32_t>(kClients));

    // Each client says its number; the server answers each one alone with the number doubled.
    for (int i = 0; i < kClients; ++i) clients[i]->Write(std::to_string(i) + ";");
    int answered = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            while (Packet* p = tcp.Receive()) {
                std::string text(reinterpret_cast<char*>(p->data), p->length);
                for (size_t at = 0; (at = text.find(';')) != std::string::npos; text.erase(0, at + 1)) {
                    Send(tcp, std::to_string(2 * std::stoi(text.substr(0, at))) + ";", p->sender);
                    ++answered;
                }
                tcp.DeallocatePacket(p);
            }
            return answered == kClients;
        },
        60000));
    for (int i = 0; i < kClients; ++i) {
        const std::string want = std::to_string(2 * i) + ";";
        ASSERT_EQ(clients[i]->Read(want.size()), want) << i;
    }

    clients.clear();
    int lost = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            while (tcp.TakeLostConnection() != UNASSIGNED_PLAYER_ID) ++lost;
            return lost == kClients;
        },
        60000));
    EXPECT_EQ(tcp.GetConnectionCount(), 0u);
    Client late(tcp.GetListenPort());
    const PlayerID id = WaitForNew(tcp);
    ASSERT_NE(id, UNASSIGNED_PLAYER_ID);
    Send(tcp, "welcome", id);
    EXPECT_EQ(late.Read(7), "welcome");
}

}  // namespace
}  // namespace velt
