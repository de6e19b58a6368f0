// Sends addressed by slot index: who receives them, that the wire carries exactly what the same
// sends addressed by address carry, and that a slot's next connection is never taken for the one
// a message was meant for.

#include <gtest/gtest.h>

#include <map>

#include "net/BitStream.h"
#include "peer_test_util.h"

namespace velt {
namespace {

using peertest::Drain;
using peertest::Got;
using peertest::Loopback;
using peertest::PeerPair;
using peertest::SentDatagram;
using peertest::Tap;

constexpr Delivery kOrdered{HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 2};
constexpr uint8_t kGameId = 201;

// A two-byte game message [201][tag].
struct GameMessage : BitStream {
    explicit GameMessage(uint8_t tag) {
        Write(kGameId);
        Write(tag);
    }
};

// The tags of the game messages a client received, in order.
std::vector<uint8_t> Tags(const std::vector<Got>& got) {
    std::vector<uint8_t> tags;
    for (const Got& g : got)
        if (g.Id() == kGameId && g.bytes.size() == 2) tags.push_back(g.bytes[1]);
    return tags;
}

struct Calls {
    std::vector<std::vector<uint8_t>> parameters;
    static void Record(RpcCallParams* params) {
        const uint32_t bytes = (params->payloadBits + 7) / 8;
        instance->parameters.emplace_back(params->payload, params->payload + bytes);
    }
    static inline Calls* instance = nullptr;
};

// Three clients connected in slots 0..2 of a four-slot server.
struct ThreeClients : PeerPair {
    ThreeClients() : PeerPair(4, nullptr, 3) {
        for (size_t i = 0; i < 3; ++i) connected = Connect(i) && connected;
        for (size_t i = 0; i < 3; ++i)
            connected = server.GetIndexFromPlayerID(ClientId(i)) == int32_t(i) && connected;
    }
    bool connected = true;
};

TEST(SlotSends, ReachTheListedConnectedSlotsOnly) {
    ThreeClients pair;
    ASSERT_TRUE(pair.ok && pair.connected);
    // Slot 3 is given to a sender that has not asked for a connection yet.
    pair.server.Settings().SetConnCookies(0);
    const uint8_t open[3] = {ID_CONN_INCOMING, 0, 0};
    pair.server.HandleDatagram(Loopback(3), 3333, open, 3);
    ASSERT_EQ(pair.server.GetSlotPlayerID(3), (PlayerID{Loopback(3), 3333}));
    Tap tap;
    pair.server.SetRawSendTap(Tap::Record, &tap);

    const uint16_t listed[] = {2, 0, 3, 9};
    EXPECT_TRUE(pair.server.SendToSlots(listed, GameMessage(1), kOrdered));
    EXPECT_TRUE(pair.server.SendToSlot(1, GameMessage(2), kOrdered));
    const uint16_t nobody[] = {3, 9};
    EXPECT_FALSE(pair.server.SendToSlots(nobody, GameMessage(3), kOrdered));
    EXPECT_FALSE(pair.server.SendToSlot(0, BitStream(), kOrdered));
    EXPECT_TRUE(pair.server.Broadcast(GameMessage(4), kOrdered, 1));
    for (int i = 0; i < 20; ++i) pair.Round();

    EXPECT_EQ(Tags(pair.clientGot[0]), (std::vector<uint8_t>{1, 4}));
    EXPECT_EQ(Tags(pair.clientGot[1]), (std::vector<uint8_t>{2}));
    EXPECT_EQ(Tags(pair.clientGot[2]), (std::vector<uint8_t>{1, 4}));
    for (const SentDatagram& d : tap.sent) EXPECT_NE(d.to.port, 3333) << "data went to an unverified slot";
}

TEST(SlotSends, CallsRunOncePerSlotAndKickClosesTheSlot) {
    ThreeClients pair;
    ASSERT_TRUE(pair.ok && pair.connected);
    Calls calls;
    Calls::instance = &calls;
    const uint8_t rpcId = 77;
    for (auto& client : pair.clients) client->RegisterRpc(&rpcId, Calls::Record);

    BitStream parameters;
    parameters.Write(uint32_t(0xA1B2C3D4));
    const uint16_t listed[] = {0, 2};
    EXPECT_TRUE(pair.server.RpcToSlots(rpcId, &parameters, listed, kOrdered));
    EXPECT_TRUE(pair.server.RpcToSlot(1, nullptr, 1, kOrdered));  // no handler for id 1: dropped there
    for (int i = 0; i < 20; ++i) pair.Round();
    // At once, unlike the queued sends: anything still queued for the slot stays unsent.
    pair.server.KickSlot(2);
    EXPECT_FALSE(pair.server.SendToSlot(2, GameMessage(5), kOrdered))
        << "a kicked slot is no longer connected";
    ASSERT_TRUE(pair.RoundsUntil([&] {
        return PeerPair::Has(pair.clientGot[2], ID_CONN_CLOSED) &&
               PeerPair::Has(pair.serverGot, ID_CONN_CLOSED);
    }));

    ASSERT_EQ(calls.parameters.size(), 2u);
    for (const auto& p : calls.parameters) EXPECT_EQ(p, (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId(2)), -1);
    EXPECT_FALSE(pair.server.SendToSlot(2, GameMessage(5), kOrdered));
    Calls::instance = nullptr;
}

// The same sends once by address and once by slot: every datagram the server sends afterwards is
// the same, byte for byte.
TEST(SlotSends, PutTheSameDatagramsOnTheWireAsSendsByAddress) {
    const uint8_t rpcId = 50;
    std::map<int, std::vector<std::vector<uint8_t>>> wire[2];
    for (int bySlot = 0; bySlot < 2; ++bySlot) {
        ThreeClients pair;
        ASSERT_TRUE(pair.ok && pair.connected);
        Tap tap;
        pair.server.SetRawSendTap(Tap::Record, &tap);
        BitStream parameters;
        parameters.Write(uint16_t(0x1234));
        for (uint8_t round = 0; round < 5; ++round) {
            const GameMessage message(round);
            if (bySlot != 0) {
                const uint16_t slots[] = {0, 2};
                ASSERT_TRUE(pair.server.SendToSlots(slots, message, kOrdered));
                ASSERT_TRUE(pair.server.RpcToSlots(rpcId, &parameters, slots, kOrdered));
                ASSERT_TRUE(pair.server.SendToSlot(1, message, kOrdered));
            } else {
                for (size_t i : {0, 2}) {
                    ASSERT_TRUE(pair.server.Send(&message, kOrdered.priority, kOrdered.reliability,
                                                 kOrdered.orderingChannel, pair.ClientId(i), false));
                    ASSERT_TRUE(pair.server.Rpc(&rpcId, &parameters, kOrdered.priority, kOrdered.reliability,
                                                kOrdered.orderingChannel, pair.ClientId(i), false, false,
                                                UNASSIGNED_NETWORK_ID, nullptr));
                }
                ASSERT_TRUE(pair.server.Send(&message, kOrdered.priority, kOrdered.reliability,
                                             kOrdered.orderingChannel, pair.ClientId(1), false));
            }
            pair.Round();
        }
        for (int i = 0; i < 20; ++i) pair.Round();
        for (const SentDatagram& d : tap.sent)
            for (int c = 0; c < 3; ++c)
                if (d.to == pair.ClientId(size_t(c))) wire[bySlot][c].push_back(d.bytes);
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_FALSE(wire[0][c].empty());
        EXPECT_EQ(wire[0][c], wire[1][c]) << "client " << c;
    }
}

TEST(SlotSends, ASlotCountsTheConnectionsItIsGiven) {
    SlotTable table;
    MutexLock lock(table.peerLock);
    ChannelSetup setup;
    setup.settings = &TransportSettings::Defaults();
    table.Create(2, setup);
    const uint32_t before = table.Generation(0);
    ASSERT_EQ(table.Assign(PlayerID{Loopback(), 1000}, CM_CONNECTED, SlotDefaults{}, 0, 0), 0);
    const uint32_t first = table.Generation(0);
    EXPECT_NE(first, before);
    table.Release(0, 0);
    EXPECT_EQ(table.Generation(0), first) << "closing alone changes nothing";
    ASSERT_EQ(table.Assign(PlayerID{Loopback(), 1001}, CM_CONNECTED, SlotDefaults{}, 0, 0), 0);
    EXPECT_NE(table.Generation(0), first);
    EXPECT_EQ(table.Generation(1), before);
    table.Destroy(0);
}

}  // namespace
}  // namespace velt
