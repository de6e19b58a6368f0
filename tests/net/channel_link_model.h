#pragma once
// Two reliability channels joined by an in-memory link with a seeded model of loss, duplication,
// reordering and delay, driven in virtual time. Shared by the link test and the link benchmark.
// No sockets and no sleeping: the same seed gives the same run.

#include <cstdint>
#include <cstring>
#include <functional>
#include <queue>
#include <random>
#include <vector>

#include "net/ReliabilityChannel.h"

namespace velt::testlink {

struct LinkModel {
    double loss = 0;           // chance a datagram vanishes
    double duplicate = 0;      // chance a delivered datagram arrives twice
    double reorder = 0;        // chance a datagram is held back by up to reorderDelayUs more
    uint64_t delayUs = 20000;  // one-way delay
    uint64_t jitterUs = 2000;  // plus up to this much
    uint64_t reorderDelayUs = 30000;
};

// One direction of the link: what a channel's Update emits, delivered later to the other side.
class LossyPipe final : public DatagramSender {
public:
    LossyPipe(const LinkModel& model, uint32_t seed) : model_(model), rng_(seed) {}

    void SetModel(const LinkModel& model) { model_ = model; }
    void SetNow(uint64_t now) { now_ = now; }

    void SendDatagram(const uint8_t* data, uint32_t length) override {
        ++sent_;
        if (Chance(model_.loss)) {
            ++dropped_;
            return;
        }
        const int copies = Chance(model_.duplicate) ? 2 : 1;
        for (int c = 0; c < copies; ++c) {
            uint64_t at = now_ + model_.delayUs + Below(model_.jitterUs + 1);
            if (Chance(model_.reorder)) at += Below(model_.reorderDelayUs + 1);
            inFlight_.push(Flight{at, order_++, std::vector<uint8_t>(data, data + length)});
        }
    }

    // Hands every datagram due by now to deliver(data, length), in arrival order.
    template <class Deliver>
    void DeliverDue(uint64_t now, Deliver&& deliver) {
        while (!inFlight_.empty() && inFlight_.top().at <= now) {
            Flight f = inFlight_.top();
            inFlight_.pop();
            deliver(f.bytes.data(), uint32_t(f.bytes.size()));
        }
    }

    bool Empty() const { return inFlight_.empty(); }
    uint64_t Sent() const { return sent_; }
    uint64_t Dropped() const { return dropped_; }

private:
    struct Flight {
        uint64_t at;
        uint64_t order;
        std::vector<uint8_t> bytes;
        bool operator>(const Flight& o) const { return at != o.at ? at > o.at : order > o.order; }
    };
    // Portable draws from the raw engine output (the std distributions differ between libraries).
    bool Chance(double p) { return p > 0 && double(rng_()) / 4294967296.0 < p; }
    uint64_t Below(uint64_t n) { return n <= 1 ? 0 : uint64_t(rng_()) % n; }

    LinkModel model_;
    std::mt19937 rng_;
    uint64_t now_ = 0;
    uint64_t order_ = 0;
    uint64_t sent_ = 0;
    uint64_t dropped_ = 0;
    std::priority_queue<Flight, std::vector<Flight>, std::greater<Flight>> inFlight_;
};

// A server-role channel (side A) and a client-role channel (side B) on one link.
class LinkedPair {
public:
    static constexpr int32_t kMtu = 576;
    static constexpr uint64_t kStartUs = 1000000;

    LinkedPair(const LinkModel& model, uint32_t seed,
               const TransportSettings& settings = TransportSettings::Defaults())
        : server(WireRole::Server, kStartUs, settings),
          client(WireRole::Client, kStartUs, settings),
          toClient(model, seed * 2 + 1),
          toServer(model, seed * 2 + 2),
          now(kStartUs) {
        // Resends paced to the link's round trip, as the peer's pings would make them.
        const uint32_t rttMs = uint32_t((2 * (model.delayUs + model.jitterUs)) / 1000) + 1;
        server.SetPing(rttMs);
        client.SetPing(rttMs);
    }

    void SetModel(const LinkModel& model) {
        toClient.SetModel(model);
        toServer.SetModel(model);
    }

    // Advances virtual time by stepUs: delivers what arrived, runs both pacing steps, and hands
    // every delivered message to onServer / onClient (payload, bits). The callbacks own nothing.
    template <class OnServer, class OnClient>
    void Step(uint64_t stepUs, OnServer&& onServer, OnClient&& onClient) {
        now += stepUs;
        toServer.DeliverDue(now, [&](const uint8_t* d, uint32_t n) {
            bool breach = false;
            server.ProcessDatagram(d, n, kClientAddress, now, breach);
            if (breach) ++breaches;
        });
        toClient.DeliverDue(now, [&](const uint8_t* d, uint32_t n) {
            bool breach = false;
            client.ProcessDatagram(d, n, kServerAddress, now, breach);
            if (breach) ++breaches;
        });
        toServer.SetNow(now);
        toClient.SetNow(now);
        server.Update(toClient, kClientAddress, kMtu, now);
        client.Update(toServer, kServerAddress, kMtu, now);
        Drain(server, onServer);
        Drain(client, onClient);
    }

    bool LinkEmpty() const { return toClient.Empty() && toServer.Empty(); }

    static constexpr PlayerID kServerAddress{0x0100007Fu, 7777};
    static constexpr PlayerID kClientAddress{0x0200007Fu, 50000};

    ReliabilityChannel server;
    ReliabilityChannel client;
    LossyPipe toClient;
    LossyPipe toServer;
    uint64_t now;
    uint32_t breaches = 0;

private:
    template <class On>
    static void Drain(ReliabilityChannel& channel, On& on) {
        uint8_t* data = nullptr;
        while (uint32_t bits = channel.ReceiveMessage(data)) {
            on(data, bits);
            delete[] data;
        }
    }
};

// Messages that carry their own identity and a checkable body: [0xC8][u32 seq][u8 channel]
// then filler derived from seq, so a delivery can be matched to its send and checked whole.
inline std::vector<uint8_t> MakeMessage(uint32_t seq, uint8_t channel, uint32_t size) {
    if (size < 6) size = 6;
    std::vector<uint8_t> m(size);
    m[0] = 0xC8;
    for (int i = 0; i < 4; ++i) m[1 + i] = uint8_t(seq >> (8 * i));
    m[5] = channel;
    for (uint32_t i = 6; i < size; ++i) m[i] = uint8_t(seq * 31u + i * 7u);
    return m;
}

struct Delivered {
    uint32_t seq;
    uint8_t channel;
    bool intact;
};

inline Delivered ParseMessage(const uint8_t* data, uint32_t bits, const std::vector<uint32_t>& sizes) {
    Delivered d{0xFFFFFFFFu, 0, false};
    const uint32_t bytes = bits / 8;
    if (bits % 8 != 0 || bytes < 6 || data[0] != 0xC8) return d;
    d.seq = uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 24;
    d.channel = data[5];
    if (d.seq >= sizes.size() || sizes[d.seq] != bytes) return d;
    const std::vector<uint8_t> expect = MakeMessage(d.seq, d.channel, bytes);
    d.intact = std::memcmp(expect.data(), data, bytes) == 0;
    return d;
}

// One run of one delivery kind in both directions: the server side sends `messages` messages
// of random sizes (large ones split, since the client side accepts split messages), the client
// side sends a quarter as many small ones (the server refuses splits). Every delivery is checked
// against what the kind promises.
struct DirectionResult {
    uint32_t sent = 0;
    uint32_t delivered = 0;    // distinct messages delivered intact
    uint32_t duplicates = 0;   // a message delivered more than once
    uint32_t corrupt = 0;      // wrong bytes or unknown message
    uint32_t outOfOrder = 0;   // ordered: not the next of its channel; sequenced: not newer
    uint32_t missing = 0;      // reliable kinds: never delivered
    uint32_t lastMissing = 0;  // reliable sequenced: a channel's newest message never delivered
};

struct ScenarioResult {
    DirectionResult toClient;
    DirectionResult toServer;
    uint64_t datagrams = 0;
    uint64_t resends = 0;
    uint32_t breaches = 0;
    bool dead = false;
    bool finished = false;  // both sides idle and the link empty before the deadline
    uint64_t virtualUs = 0;
    double serverBandwidth = 0;
};

class DirectionCheck {
public:
    DirectionCheck(MessageReliability kind) : kind_(kind) {}

    void Sent(uint32_t seq, uint8_t channel, uint32_t size) {
        sizes_.push_back(size);
        channels_.push_back(channel);
        seen_.push_back(0);
        perChannel_[channel].push_back(seq);
    }
    void Delivered(const uint8_t* data, uint32_t bits, DirectionResult& r) {
        const testlink::Delivered d = ParseMessage(data, bits, sizes_);
        if (!d.intact || d.channel != channels_[d.seq]) {
            ++r.corrupt;
            return;
        }
        if (seen_[d.seq]++ > 0) {
            ++r.duplicates;
            return;
        }
        ++r.delivered;
        if (kind_ == RELIABILITY_RELIABLE_ORDERED) {
            auto& next = nextOrdered_[d.channel];
            if (next >= perChannel_[d.channel].size() || perChannel_[d.channel][next] != d.seq)
                ++r.outOfOrder;
            ++next;
        } else if (kind_ == RELIABILITY_UNRELIABLE_SEQUENCED || kind_ == RELIABILITY_RELIABLE_SEQUENCED) {
            if (lastSequenced_[d.channel] >= int64_t(d.seq)) ++r.outOfOrder;
            lastSequenced_[d.channel] = d.seq;
        }
    }
    void Finish(DirectionResult& r) const {
        r.sent = uint32_t(sizes_.size());
        const bool reliable = kind_ == RELIABILITY_RELIABLE || kind_ == RELIABILITY_RELIABLE_ORDERED;
        for (uint32_t s = 0; s < seen_.size(); ++s)
            if (reliable && seen_[s] == 0) ++r.missing;
        if (kind_ == RELIABILITY_RELIABLE_SEQUENCED)
            for (uint32_t c = 0; c < 32; ++c)
                if (!perChannel_[c].empty() && seen_[perChannel_[c].back()] == 0) ++r.lastMissing;
    }

private:
    MessageReliability kind_;
    std::vector<uint32_t> sizes_;
    std::vector<uint8_t> channels_;
    std::vector<uint32_t> seen_;
    std::vector<uint32_t> perChannel_[32];
    size_t nextOrdered_[32] = {};
    int64_t lastSequenced_[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                  -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

inline bool SideIdle(const ReliabilityChannel& c) {
    const NetworkStatistics s = c.GetStatistics(true);
    for (uint32_t n : s.messagesInSendBuffer)
        if (n) return false;
    return !c.AreMessagesAwaitingAck() && !c.AreAcksWaiting();
}

struct ScenarioOptions {
    MessageReliability kind = RELIABILITY_RELIABLE_ORDERED;
    LinkModel model;
    uint32_t messages = 200;
    uint32_t maxBytes = 1600;          // largest message; above about 540 bytes it is split
    uint32_t largePercent = 15;        // share of messages drawn from 121..maxBytes bytes
    uint64_t serverIntervalUs = 2000;  // one message every this long from the server side
    uint64_t clientIntervalUs = 10000;
    uint64_t stepUs = 2000;
    uint64_t deadlineUs = 600000000;
    uint32_t seed = 1;
};

inline ScenarioResult RunScenario(const ScenarioOptions& o) {
    ScenarioResult result;
    LinkedPair link(o.model, o.seed);
    DirectionCheck toClient(o.kind), toServer(o.kind);
    std::mt19937 rng(o.seed * 7919u + 17u);
    auto below = [&](uint32_t n) { return uint32_t(rng() % n); };
    const bool channels = o.kind != RELIABILITY_UNRELIABLE && o.kind != RELIABILITY_RELIABLE;
    const uint32_t clientMessages = o.messages / 4 + 1;
    uint32_t serverSeq = 0, clientSeq = 0;
    uint64_t nextServerSend = link.now, nextClientSend = link.now;
    const uint64_t deadline = link.now + o.deadlineUs;

    while (link.now < deadline) {
        while (serverSeq < o.messages && nextServerSend <= link.now) {
            const bool large = below(100) < o.largePercent;
            const uint32_t size = large ? 121 + below(o.maxBytes - 120) : 6 + below(115);
            const uint8_t channel = channels ? uint8_t(below(4)) : 0;
            std::vector<uint8_t> m = MakeMessage(serverSeq, channel, size);
            toClient.Sent(serverSeq, channel, size);
            link.server.Send(m.data(), size * 8, HIGH_PRIORITY_LEVEL, o.kind, channel, true, LinkedPair::kMtu,
                             link.now);
            ++serverSeq;
            nextServerSend += o.serverIntervalUs;
        }
        while (clientSeq < clientMessages && nextClientSend <= link.now) {
            const uint32_t size = 6 + below(95);
            const uint8_t channel = channels ? uint8_t(below(4)) : 0;
            std::vector<uint8_t> m = MakeMessage(clientSeq, channel, size);
            toServer.Sent(clientSeq, channel, size);
            link.client.Send(m.data(), size * 8, HIGH_PRIORITY_LEVEL, o.kind, channel, true, LinkedPair::kMtu,
                             link.now);
            ++clientSeq;
            nextClientSend += o.clientIntervalUs;
        }
        link.Step(
            o.stepUs, [&](const uint8_t* d, uint32_t bits) { toServer.Delivered(d, bits, result.toServer); },
            [&](const uint8_t* d, uint32_t bits) { toClient.Delivered(d, bits, result.toClient); });
        if (link.server.IsDead() || link.client.IsDead()) {
            result.dead = true;
            break;
        }
        if (serverSeq == o.messages && clientSeq == clientMessages && SideIdle(link.server) &&
            SideIdle(link.client) && link.LinkEmpty()) {
            result.finished = true;
            break;
        }
    }
    toClient.Finish(result.toClient);
    toServer.Finish(result.toServer);
    const NetworkStatistics a = link.server.GetStatistics(true), b = link.client.GetStatistics(true);
    result.datagrams = uint64_t(a.packetsSent) + b.packetsSent;
    result.resends = uint64_t(a.messagesResent) + b.messagesResent;
    result.breaches = link.breaches;
    result.virtualUs = link.now - LinkedPair::kStartUs;
    result.serverBandwidth = a.bitsPerSecond;
    return result;
}

}  // namespace velt::testlink
