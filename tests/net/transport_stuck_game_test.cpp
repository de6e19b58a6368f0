// A server whose game takes nothing from the network (its main thread stuck in a script's loop)
// while eight clients send as fast as the flood limits allow: the messages waiting for the game
// stay within their caps, the memory of the process with them, and the clients that stay over
// their share are closed. Real peers with their network threads, over loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/peer_test_util.h"

namespace velt {
namespace {

using namespace peertest;

// Resident set of this process in KiB (0 when unknown).
uint64_t ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
    return 0;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(TransportStuckGame, MemoryStaysBoundedAndFloodersAreClosed) {
    constexpr int kClients = 8;
    constexpr uint32_t kShare = 64u << 10;
    constexpr uint32_t kTotal = 1u << 20;
    // Smaller caps than the defaults, so that the clients reach them within seconds.
    TransportSettings settings;
    settings.SetIncomingQueueCapBytes(kShare);
    settings.SetIncomingTotalCapBytes(kTotal);
    TakeLog();

    NetPeer server(SocketRole::Server);
    server.SetTransportSettings(&settings);
    server.SetLogHook(CaptureLog);
    server.SetMaximumIncomingConnections(kClients);
    ASSERT_TRUE(server.Initialize(kClients, 0, 1, "127.0.0.1"));
    const uint16_t port = server.GetInternalID().port;

    std::vector<std::unique_ptr<NetPeer>> clients;
    for (int i = 0; i < kClients; ++i) {
        auto client = std::make_unique<NetPeer>(SocketRole::BotClient);
        client->Endpoint().SetKey(port);
        // Addresses of their own: one address asking for the last slot twice looks like an attack.
        const std::string address = "127.0.0." + std::to_string(i + 2);
        ASSERT_TRUE(client->Initialize(1, 0, 1, address.c_str()));
        ASSERT_TRUE(client->Connect("127.0.0.1", port, nullptr, 0));
        clients.push_back(std::move(client));
    }
    uint16_t connected = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            server.GetConnectionList(nullptr, &connected);
            return connected == kClients;
        },
        20));

    const uint64_t rssBefore = ResidentKiB();
    uint64_t mostQueued = 0;
    // 450 messages of 100 bytes a second each (the limit is 500), until every client was closed
    // for staying over its share (5 s over it), or 30 s.
    const std::vector<uint8_t> message(100, 210);
    auto kicked = [&] {
        const NetworkStatistics* totals = server.GetStatistics(UNASSIGNED_PLAYER_ID);
        return totals != nullptr ? totals->Rejections(Rejected::KickedGameBehind) : 0u;
    };
    const auto start = std::chrono::steady_clock::now();
    for (int tick = 0;
         kicked() < uint32_t(kClients) && std::chrono::steady_clock::now() - start < std::chrono::seconds(30);
         ++tick) {
        const int count = tick % 2 == 0 ? 5 : 4;
        for (auto& client : clients)
            for (int i = 0; i < count; ++i)
                client->SendBytes(message.data(), int32_t(message.size()), HIGH_PRIORITY_LEVEL,
                                  RELIABILITY_RELIABLE_ORDERED, 0, UNASSIGNED_PLAYER_ID, true);
        mostQueued = std::max(mostQueued, server.QueuedIncomingBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const uint64_t rssAfter = ResidentKiB();
    std::printf("RSS before %llu KiB, after %llu KiB; most bytes waiting for the game %llu\n",
                static_cast<unsigned long long>(rssBefore), static_cast<unsigned long long>(rssAfter),
                static_cast<unsigned long long>(mostQueued));

    EXPECT_LE(mostQueued, uint64_t(kClients) * kShare);
    EXPECT_LE(rssAfter, rssBefore + 256u * 1024);  // generous: sanitizers keep freed memory a while
    size_t kicks = 0;
    for (const std::string& line : TakeLog()) kicks += line.rfind("Kicking 127.0.0.", 0) == 0 ? 1 : 0;
    EXPECT_EQ(kicks, size_t(kClients));
    const NetworkStatistics* totals = server.GetStatistics(UNASSIGNED_PLAYER_ID);
    ASSERT_NE(totals, nullptr);
    EXPECT_GT(totals->Rejections(Rejected::GameBehind), 0u);
    EXPECT_EQ(totals->Rejections(Rejected::KickedGameBehind), uint32_t(kClients));

    // The game wakes up: everything that waited is handed over and the shares are free again.
    size_t taken = 0;
    while (Packet* p = server.Receive()) {
        ++taken;
        server.FreePacket(p);
    }
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(server.QueuedIncomingBytes(), 0u);
    for (auto& client : clients) client->Disconnect(0, 0);
    server.Disconnect(0, 0);
}

}  // namespace
}  // namespace velt
