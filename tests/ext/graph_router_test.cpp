// The router against a stand-in peer: what it sends for a target without a connection, what a
// hop forwards and delivers, and the routed messages it refuses. Routing between real peers is
// in graph_mesh_test.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/ext/GraphWire.h"
#include "net/ext/Router.h"
#include "tests/ext/graph_fake_peer.h"

namespace velt {
namespace {

using test::FakePeer;
using test::HeldPacket;
using test::Loop;

const PlayerID kA = Loop(1, 1000);
const PlayerID kB = Loop(2, 2000);
const PlayerID kC = Loop(3, 3000);
const PlayerID kD = Loop(4, 4000);
const PlayerID kE = Loop(5, 5000);

PlayerIdAndGroupId Node(PlayerID id) { return PlayerIdAndGroupId(id, 0); }

const std::vector<uint8_t> kPayload = {200, 1, 2, 3};

class RouterTest : public ::testing::Test {
protected:
    explicit RouterTest(PlayerID self = kA) : peer(self) {
        router.Attached(&peer);
        router.UseGraph(&graph);
    }
    ~RouterTest() override { router.Detached(&peer); }

    bool SendTo(PlayerID target, const std::vector<uint8_t>& data = kPayload) {
        return router.Send(data.data(), uint32_t(data.size() * 8), HIGH_PRIORITY_LEVEL,
                           RELIABILITY_RELIABLE_ORDERED, 4, target);
    }

    FakePeer peer;
    UndirectedGraph graph;
    Router router;
};

TEST_F(RouterTest, SendsOneCopyToEachFirstHop) {
    // A - B - C and A - D - E; A reaches C only through B.
    const std::vector<std::pair<PlayerID, PlayerID>> edges = {{kA, kB}, {kB, kC}, {kA, kD}, {kD, kE}};
    for (const auto& [a, b] : edges) graph.AddEdge(Node(a), Node(b), 1);
    peer.connected = {kB, kD};
    AddressList recipients;
    recipients.Add(kC);
    recipients.Add(kE);
    ASSERT_TRUE(router.Multicast(kPayload.data(), 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 4,
                                 recipients));
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    for (const test::SentMessage& copy : sent) {
        const PlayerID far = copy.target == kB ? kC : kE;
        EXPECT_EQ(copy.reliability, RELIABILITY_RELIABLE_ORDERED);
        EXPECT_EQ(copy.orderingChannel, 4);

        // The layout, field by field.
        BitStream in(copy.bytes.data(), uint32_t(copy.bytes.size()), false);
        in.SetWriteCursor(int32_t(copy.bits));
        uint8_t id = 0, priority = 0, reliability = 0, channel = 0;
        uint32_t bits = 0;
        ASSERT_TRUE(in.Read(id) && in.ReadCompressed(priority) && in.ReadCompressed(reliability) &&
                    in.ReadCompressed(channel) && in.Read(bits));
        EXPECT_EQ(id, ID_ROUTED);
        EXPECT_EQ(priority, HIGH_PRIORITY_LEVEL);
        EXPECT_EQ(reliability, RELIABILITY_RELIABLE_ORDERED);
        EXPECT_EQ(channel, 4);
        EXPECT_EQ(bits, 32u);
        in.AlignReadToByte();
        std::vector<uint8_t> payload(4);
        ASSERT_TRUE(in.ReadBytes(payload.data(), 4));
        EXPECT_EQ(payload, kPayload);
        PlayerID source{}, node{};
        bool recipient = true;
        uint16_t children = 0;
        ASSERT_TRUE(ReadAddress(in, source));
        EXPECT_EQ(source, kA);
        for (const auto& [expectedNode, expectedRecipient, expectedChildren] :
             {std::tuple{copy.target, false, 1}, std::tuple{far, true, 0}}) {
            ASSERT_TRUE(in.ReadOneBit(recipient) && ReadAddress(in, node) && in.ReadCompressed(children));
            EXPECT_EQ(node, expectedNode);
            EXPECT_EQ(recipient, expectedRecipient);
            EXPECT_EQ(children, expectedChildren);
        }
        EXPECT_LT(in.GetNumberOfUnreadBits(), 8);
    }
}

TEST_F(RouterTest, TimestampPrefixStaysInFront) {
    graph.AddEdge(Node(kA), Node(kB), 1);
    graph.AddEdge(Node(kB), Node(kC), 1);
    peer.connected = {kB};
    const std::vector<uint8_t> timed = {ID_TIMESTAMPED, 1, 2, 3, 4, 200, 9};
    ASSERT_TRUE(SendTo(kC, timed));
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    RoutedMessage message;
    ASSERT_EQ(ReadRoutedMessage(sent[0].bytes.data(), sent[0].bits, message), RoutedReadResult::Ok);
    EXPECT_TRUE(message.timestamped);
    EXPECT_EQ(message.time, 0x04030201u);
    EXPECT_EQ(message.payloadBits, 16u);
    EXPECT_EQ(sent[0].bytes[message.payloadByteOffset], 200);
}

TEST_F(RouterTest, RootIsAnyConnectedSlotNotJustTheFirst) {
    graph.AddEdge(Node(kA), Node(kB), 1);
    graph.AddEdge(Node(kB), Node(kC), 1);
    peer.connected = {UNASSIGNED_PLAYER_ID, kB};  // slot 0 has closed
    EXPECT_TRUE(SendTo(kC));
    EXPECT_EQ(peer.TakeSent().size(), 1u);
}

TEST_F(RouterTest, RefusesWhatItCannotOrMustNotRoute) {
    graph.AddEdge(Node(kA), Node(kB), 1);
    graph.AddEdge(Node(kB), Node(kC), 1);
    graph.AddEdge(Node(kD), Node(kE), 1);
    peer.connected = {kB};
    struct Case {
        const char* name;
        std::function<bool()> send;
    };
    const std::vector<Case> cases = {
        {"unreachable target", [&] { return SendTo(kE); }},
        {"no target", [&] { return SendTo(UNASSIGNED_PLAYER_ID); }},
        {"already a routed message",
         [&] {
             return SendTo(kC, {ID_ROUTED, 1, 2});
         }},
        {"already routed, with a time",
         [&] {
             return SendTo(kC, {ID_TIMESTAMPED, 1, 2, 3, 4, ID_ROUTED});
         }},
        {"a time and nothing else",
         [&] {
             return SendTo(kC, {ID_TIMESTAMPED, 1, 2, 3, 4});
         }},
        {"no connection to start from",
         [&] {
             peer.connected.clear();
             const bool sent = SendTo(kC);
             peer.connected = {kB};
             return sent;
         }},
        {"no graph",
         [&] {
             router.UseGraph(nullptr);
             const bool sent = SendTo(kC);
             router.UseGraph(&graph);
             return sent;
         }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.send()) << c.name;
        EXPECT_TRUE(peer.TakeSent().empty()) << c.name;
    }
    EXPECT_TRUE(SendTo(kC));
}

// A hop's view: B receives what A sent, to forward and perhaps to keep.
class HopTest : public RouterTest {
protected:
    HopTest() : RouterTest(kB) { peer.connected = {kA, kC, kD}; }

    struct Tree {
        bool recipient;
        PlayerID id;
        std::vector<Tree> children;
    };
    static void WriteTree(BitStream& out, const Tree& tree) {
        WriteRoutedNode(out, RoutedNode{tree.recipient, tree.id, uint16_t(tree.children.size())});
        for (const Tree& child : tree.children) WriteTree(out, child);
    }
    static BitStream& Routed(BitStream& out, const Tree& tree, PlayerID source = kA,
                             const std::vector<uint8_t>& payload = kPayload) {
        WriteRoutedHeader(out, nullptr, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 2, payload.data(),
                          uint32_t(payload.size() * 8));
        WriteAddress(out, source);
        WriteTree(out, tree);
        return out;
    }
};

TEST_F(HopTest, ForwardsEachSubtreeAndDeliversWhenARecipient) {
    BitStream message;
    Routed(message, {true, kB, {{true, kC, {}}, {false, kD, {{true, kE, {}}}}}});
    HeldPacket packet(message, kA);
    EXPECT_EQ(router.Received(&peer, packet.get()), PRR_CONTINUE);
    EXPECT_EQ(packet.Bytes(), kPayload);
    EXPECT_EQ(packet.get()->bitLength, 32u);
    EXPECT_EQ(packet.get()->sender, kA);
    EXPECT_EQ(packet.get()->playerIndex, 0xFFFF);

    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    const std::vector<std::pair<PlayerID, size_t>> expected = {{kC, 0}, {kD, 1}};
    for (size_t i = 0; i < sent.size(); ++i) {
        RoutedMessage forwarded;
        ASSERT_EQ(ReadRoutedMessage(sent[i].bytes.data(), sent[i].bits, forwarded), RoutedReadResult::Ok);
        EXPECT_EQ(sent[i].target, expected[i].first);
        EXPECT_EQ(forwarded.self.address, expected[i].first);
        EXPECT_EQ(forwarded.subtrees.size(), expected[i].second);
        EXPECT_EQ(forwarded.source, kA);  // the one who started it, not us
        EXPECT_EQ(forwarded.reliability, RELIABILITY_RELIABLE);
    }
}

TEST_F(HopTest, ForwardsWithoutDeliveringWhenNotARecipient) {
    BitStream message;
    Routed(message, {false, kB, {{true, kC, {}}}});
    HeldPacket packet(message, kA);
    EXPECT_EQ(router.Received(&peer, packet.get()), PRR_DEALLOCATE);
    EXPECT_EQ(peer.TakeSent().size(), 1u);
}

TEST_F(HopTest, TypeFilterDropsOtherPayloads) {
    router.SetTypeFilter(true);
    router.AllowType(201);
    BitStream message;
    Routed(message, {true, kB, {{true, kC, {}}}});
    HeldPacket refused(message, kA);
    EXPECT_EQ(router.Received(&peer, refused.get()), PRR_DEALLOCATE);
    EXPECT_TRUE(peer.TakeSent().empty());
    EXPECT_EQ(router.Rejections().filteredType, 1u);

    router.AllowType(200);
    HeldPacket allowed(message, kA);
    EXPECT_EQ(router.Received(&peer, allowed.get()), PRR_CONTINUE);
}

TEST_F(HopTest, HostileMessagesAreDroppedWhole) {
    using R = RouterRejections;
    const Tree good{true, kB, {{true, kC, {}}}};
    Tree wide{true, kB, {}};
    for (uint16_t i = 0; i < 300; ++i) wide.children.push_back({true, Loop(40, i), {}});
    struct Case {
        const char* name;
        std::function<void(BitStream&)> build;
        uint32_t R::*counter;
    };
    const std::vector<Case> cases = {
        {"payload longer than the message",
         [&](BitStream& out) {
             Routed(out, good);
             const int32_t used = out.GetNumberOfBitsUsed();
             out.SetWriteCursor(8 + 15);  // the length field, after the id and three small values
             out.Write(uint32_t(1) << 20);
             out.SetWriteCursor(used);
         },
         &R::badPayloadLength},
        {"payload length beyond any message",
         [&](BitStream& out) {
             Routed(out, good);
             out.SetWriteCursor(8 + 15);
             out.Write(uint32_t(0xFFFFFFFF));
         },
         &R::badPayloadLength},
        {"empty payload", [&](BitStream& out) { Routed(out, good, kA, {}); }, &R::badPayloadLength},
        {"subtree cut off",
         [&](BitStream& out) {
             Routed(out, Tree{true, kB, {{true, kC, {}}}});
             out.SetWriteCursor(out.GetNumberOfBitsUsed() - 20);
         },
         &R::truncated},
        {"more subtrees announced than sent",
         [&](BitStream& out) {
             WriteRoutedHeader(out, nullptr, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 2, kPayload.data(),
                               32);
             WriteAddress(out, kA);
             WriteRoutedNode(out, RoutedNode{true, kB, 2});
             WriteRoutedNode(out, RoutedNode{true, kC, 0});
         },
         &R::truncated},
        {"a loop back through this hop",
         [&](BitStream& out) {
             Routed(out, {true, kB, {{true, kC, {{true, kB, {}}}}}});
         },
         &R::repeatedNode},
        {"the same hop twice",
         [&](BitStream& out) {
             Routed(out, {true, kB, {{true, kC, {}}, {true, kC, {}}}});
         },
         &R::repeatedNode},
        {"more nodes than a graph holds", [&](BitStream& out) { Routed(out, wide); }, &R::tooManyNodes},
        {"priority out of range",
         [&](BitStream& out) {
             WriteRoutedHeader(out, nullptr, PacketPriority(9), RELIABILITY_RELIABLE, 2, kPayload.data(), 32);
             WriteAddress(out, kA);
             WriteTree(out, good);
         },
         &R::badHeader},
        {"reliability out of range",
         [&](BitStream& out) {
             WriteRoutedHeader(out, nullptr, HIGH_PRIORITY_LEVEL, MessageReliability(0), 2, kPayload.data(),
                               32);
             WriteAddress(out, kA);
             WriteTree(out, good);
         },
         &R::badHeader},
        {"source nobody can have", [&](BitStream& out) { Routed(out, good, UNASSIGNED_PLAYER_ID); },
         &R::unassignedSource},
    };
    for (const Case& c : cases) {
        BitStream message;
        c.build(message);
        HeldPacket packet(message, kA);
        const uint32_t before = router.Rejections().*c.counter;
        EXPECT_EQ(router.Received(&peer, packet.get()), PRR_DEALLOCATE) << c.name;
        EXPECT_EQ(router.Rejections().*c.counter, before + 1) << c.name;
        EXPECT_TRUE(peer.TakeSent().empty()) << c.name;
    }
    EXPECT_EQ(router.Rejections().Total(), cases.size());

    // A subtree for a system we have no connection to is not forwarded; the rest is.
    BitStream message;
    Routed(message, {false, kB, {{true, kE, {}}, {true, kC, {}}}});
    HeldPacket packet(message, kA);
    EXPECT_EQ(router.Received(&peer, packet.get()), PRR_DEALLOCATE);
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target, kC);
    EXPECT_EQ(router.Rejections().hopNotConnected, 1u);
}

}  // namespace
}  // namespace velt
