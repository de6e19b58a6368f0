// A peer may leave out a channel's Update while IsUpdateDue is false. That is only safe if the
// channel then sends exactly what it would have sent with an Update on every pass: the same
// bytes at the same times. Each case runs one seeded link twice, once updating the server side
// on every pass and once only when due, and compares every datagram either side emitted.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "channel_link_model.h"

namespace velt {
namespace {

using testlink::LinkModel;
using testlink::LossyPipe;

struct Emitted {
    uint64_t time;
    std::vector<uint8_t> bytes;
    bool operator==(const Emitted&) const = default;
};

// Passes each datagram on to the link and keeps a copy with the time it left.
struct Recorder final : DatagramSender {
    Recorder(LossyPipe& pipe, const uint64_t& now) : pipe(pipe), now(now) {}
    void SendDatagram(const uint8_t* data, uint32_t length) override {
        log.push_back({now, std::vector<uint8_t>(data, data + length)});
        pipe.SendDatagram(data, length);
    }
    LossyPipe& pipe;
    const uint64_t& now;
    std::vector<Emitted> log;
};

struct SkipCase {
    const char* name;
    LinkModel model;
    uint32_t messages;    // from the server side
    uint64_t intervalUs;  // between them
    uint32_t maxBytes;    // sizes drawn from 6..maxBytes; above about 540 they are split
    uint64_t runUs;
    uint64_t linkDiesAfterUs;  // 0 = never; else the link then drops everything
};

struct LinkRun {
    std::vector<Emitted> server;
    std::vector<Emitted> client;
    uint64_t passes = 0;
    uint64_t skipped = 0;
    bool serverDead = false;
};

LinkRun RunLink(const SkipCase& c, bool skipWhenNotDue) {
    constexpr int32_t kMtu = 576;
    constexpr uint64_t kStart = 1000000;
    constexpr PlayerID kServerAddress{0x0100007Fu, 7777};
    constexpr PlayerID kClientAddress{0x0200007Fu, 50000};
    ReliabilityChannel server(WireRole::Server, kStart), client(WireRole::Client, kStart);
    server.SetTimeoutTime(3000);
    client.SetTimeoutTime(3000);
    const uint32_t rttMs = uint32_t(2 * (c.model.delayUs + c.model.jitterUs) / 1000) + 1;
    server.SetPing(rttMs);
    client.SetPing(rttMs);
    LossyPipe toClient(c.model, 11), toServer(c.model, 12);
    uint64_t now = kStart;
    Recorder serverOut(toClient, now), clientOut(toServer, now);
    std::mt19937 rng(99);  // message sizes and pass lengths: the same draws in both runs
    LinkRun run;

    uint32_t sent = 0, clientSent = 0;
    uint64_t nextSend = now + 1000, nextClientSend = now + 7000;
    bool cut = false;
    while (now < kStart + c.runUs) {
        // Uneven passes, some of no length, so that earned credit is never a round figure.
        const uint32_t draw = uint32_t(rng() % 64);
        now += draw == 0 ? 0 : 200 + uint64_t(rng() % 3300);
        if (c.linkDiesAfterUs && !cut && now >= kStart + c.linkDiesAfterUs) {
            LinkModel dead = c.model;
            dead.loss = 1.0;
            toClient.SetModel(dead);
            toServer.SetModel(dead);
            cut = true;
        }
        while (sent < c.messages && nextSend <= now) {
            const uint32_t size = 6 + uint32_t(rng() % (c.maxBytes - 5));
            const std::vector<uint8_t> m = testlink::MakeMessage(sent, uint8_t(sent % 3), size);
            server.Send(const_cast<uint8_t*>(m.data()), size * 8, HIGH_PRIORITY_LEVEL,
                        RELIABILITY_RELIABLE_ORDERED, uint8_t(sent % 3), true, kMtu, now);
            ++sent;
            nextSend += c.intervalUs;
        }
        // The client side talks now and then, so the server has acks to send and receive.
        if (clientSent < c.messages / 4 && nextClientSend <= now) {
            const std::vector<uint8_t> m = testlink::MakeMessage(clientSent, 0, 20);
            client.Send(const_cast<uint8_t*>(m.data()), 20 * 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                        true, kMtu, now);
            ++clientSent;
            nextClientSend += 4 * c.intervalUs;
        }
        toServer.DeliverDue(now, [&](const uint8_t* d, uint32_t n) {
            bool breach = false;
            server.ProcessDatagram(d, n, kClientAddress, now, breach);
        });
        toClient.DeliverDue(now, [&](const uint8_t* d, uint32_t n) {
            bool breach = false;
            client.ProcessDatagram(d, n, kServerAddress, now, breach);
        });
        toServer.SetNow(now);
        toClient.SetNow(now);
        ++run.passes;
        if (!skipWhenNotDue || server.IsUpdateDue(now))
            server.Update(serverOut, kClientAddress, kMtu, now);
        else
            ++run.skipped;
        client.Update(clientOut, kServerAddress, kMtu, now);
        uint8_t* data = nullptr;
        while (server.ReceiveMessage(data)) delete[] data;
        while (client.ReceiveMessage(data)) delete[] data;
    }
    run.server = std::move(serverOut.log);
    run.client = std::move(clientOut.log);
    run.serverDead = server.IsDead();
    return run;
}

// Where the two runs first part, for a readable failure.
std::string FirstDifference(const std::vector<Emitted>& a, const std::vector<Emitted>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (!(a[i] == b[i]))
            return "datagram " + std::to_string(i) + ": at " + std::to_string(a[i].time) + " (" +
                   std::to_string(a[i].bytes.size()) + " bytes) vs at " + std::to_string(b[i].time) + " (" +
                   std::to_string(b[i].bytes.size()) + " bytes)";
    return "counts " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
}

TEST(ChannelSkip, SkippingPassesThatAreNotDueChangesNothingSent) {
    LinkModel clean;
    LinkModel lossy;
    lossy.loss = 0.12;
    lossy.duplicate = 0.03;
    lossy.reorder = 0.1;
    const SkipCase cases[] = {
        // Mostly idle: long quiet spells where the credit reaches its cap between sends.
        {"quiet", clean, 40, 250000, 120, 12000000, 0},
        // Faster than the initial bandwidth: pacing holds sends back and the measurements
        // raise the bandwidth, so the credit is spent and re-earned at changing rates.
        {"bulk", clean, 1500, 2000, 1400, 8000000, 0},
        // Resends, lost acks and bandwidth cuts after lossy measurements.
        {"lossy", lossy, 200, 40000, 900, 10000000, 0},
        // Messages left awaiting acks on a link that goes silent: the dead-link deadline.
        {"dies", clean, 200, 20000, 300, 9000000, 3000000},
    };
    for (const SkipCase& c : cases) {
        SCOPED_TRACE(c.name);
        const LinkRun every = RunLink(c, false);
        const LinkRun skip = RunLink(c, true);
        ASSERT_FALSE(every.server.empty());
        EXPECT_TRUE(every.server == skip.server) << FirstDifference(every.server, skip.server);
        EXPECT_TRUE(every.client == skip.client) << FirstDifference(every.client, skip.client);
        EXPECT_EQ(every.serverDead, skip.serverDead);
        EXPECT_EQ(skip.serverDead, c.linkDiesAfterUs != 0);
        // Otherwise the comparison would prove nothing about skipping.
        EXPECT_GT(skip.skipped, 0u);
        if (c.intervalUs >= 250000) {
            EXPECT_GT(skip.skipped * 2, skip.passes);
        }
    }
}

}  // namespace
}  // namespace velt
