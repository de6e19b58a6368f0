// The connection graph plugin against a stand-in peer: its message layout, how it merges and
// relays, and what it refuses. Several real peers keeping one graph are in graph_mesh_test.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/StringCompressor.h"
#include "net/ext/ConnectionGraph.h"
#include "tests/ext/graph_fake_peer.h"

namespace velt {
namespace {

using test::FakePeer;
using test::HeldPacket;
using test::Loop;

const PlayerID kSelf = Loop(1, 1000);
const PlayerID kP = Loop(2, 2000);
const PlayerID kQ = Loop(3, 3000);
const PlayerID kX = Loop(9, 9000);
const PlayerID kY = Loop(8, 8000);

PlayerIdAndGroupId Node(PlayerID id, uint8_t group = 0) { return PlayerIdAndGroupId(id, group); }

void WritePassword(BitStream& out, const char* text) {
    StringCompressor::Instance()->EncodeString(text, 256, out);
}

BitStream& Update(BitStream& out, const std::vector<GraphEdge>& edges, const IgnoreList& ignore = {}) {
    UndirectedGraph graph;
    for (const GraphEdge& e : edges) graph.AddEdge(e.a, e.b, e.weight);
    out.Write(ID_GRAPH_UPDATE);
    WriteGraph(out, graph);
    WriteIgnoreList(out, ignore);
    return out;
}

class GraphTest : public ::testing::Test {
protected:
    GraphTest() : peer(kSelf) { peer.connected = {kP, kQ}; }

    PluginReceiveResult Offer(const BitStream& message, PlayerID sender, uint16_t slot = 0) {
        HeldPacket packet(message, sender, slot);
        return graph.Received(&peer, packet.get());
    }
    // sender asks for our graph and so becomes a participant.
    void Join(PlayerID sender) {
        BitStream request;
        request.Write(ID_GRAPH_REQUEST);
        WritePassword(request, nullptr);
        ASSERT_EQ(Offer(request, sender), PRR_DEALLOCATE);
        peer.TakeSent();
    }

    FakePeer peer;
    ConnectionGraph graph;
};

TEST_F(GraphTest, GraphMessageListsEachEdgeOnceUnderItsLowerEnd) {
    // The graph itself as a reply shows it: self (lowest address) and its two connections.
    graph.TrackConnection(&peer, kP, 0);
    peer.ping = -1;  // nothing measured: weight 0
    graph.TrackConnection(&peer, kQ, 0);
    BitStream request;
    request.Write(ID_GRAPH_REQUEST);
    WritePassword(request, "anything");  // we have no password: any will do
    Offer(request, kP);
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Id(), ID_GRAPH_REPLY);
    EXPECT_EQ(sent[0].priority, LOW_PRIORITY_LEVEL);
    EXPECT_EQ(sent[0].reliability, RELIABILITY_RELIABLE_ORDERED);
    EXPECT_EQ(sent[0].orderingChannel, 31);

    BitStream in(sent[0].bytes.data(), uint32_t(sent[0].bytes.size()), false);
    in.SkipBits(8);
    char text[256];
    ASSERT_TRUE(StringCompressor::Instance()->DecodeString(text, 256, in));
    uint32_t nodes = 0;
    ASSERT_TRUE(in.ReadCompressed(nodes));
    EXPECT_EQ(nodes, 3u);
    const std::vector<std::pair<PlayerID, std::vector<PlayerID>>> expected = {
        {kSelf, {kP, kQ}}, {kP, {}}, {kQ, {}}};
    for (const auto& [node, above] : expected) {
        uint32_t address = 0;
        uint16_t port = 0, count = 0, weight = 0;
        uint8_t group = 0xFF;
        ASSERT_TRUE(in.Read(address) && in.Read(port) && in.Read(group));
        EXPECT_EQ((PlayerID{address, port}), node);
        EXPECT_EQ(group, 0);
        in.AlignReadToByte();
        ASSERT_TRUE(in.Read(count));
        ASSERT_EQ(count, above.size());
        for (const PlayerID& neighbour : above) {
            ASSERT_TRUE(in.Read(address) && in.Read(port) && in.Read(group) && in.Read(weight));
            EXPECT_EQ((PlayerID{address, port}), neighbour);
            EXPECT_EQ(weight, 0);
        }
    }
    EXPECT_EQ(in.GetNumberOfUnreadBits(), 0);
    EXPECT_TRUE(graph.IsParticipant(kP));
}

TEST_F(GraphTest, PasswordGuardsTheGraph) {
    graph.SetPassword("secret");
    for (const char* offered : {"secre", "secret!", "", "SECRET"}) {
        BitStream request;
        request.Write(ID_GRAPH_REQUEST);
        WritePassword(request, offered);
        Offer(request, kP);
        EXPECT_TRUE(peer.TakeSent().empty()) << offered;
    }
    EXPECT_EQ(graph.Rejections().wrongPassword, 4u);
    EXPECT_FALSE(graph.IsParticipant(kP));
    BitStream request;
    request.Write(ID_GRAPH_REQUEST);
    WritePassword(request, "secret");
    Offer(request, kP);
    EXPECT_EQ(peer.TakeSent().size(), 1u);
}

TEST_F(GraphTest, ReplyIsAnsweredMergedAndAnnounced) {
    BitStream reply;
    reply.Write(ID_GRAPH_REPLY);
    WritePassword(reply, nullptr);
    UndirectedGraph theirs;
    theirs.AddEdge(Node(kP), Node(kX), 7);
    WriteGraph(reply, theirs);
    EXPECT_EQ(Offer(reply, kP), PRR_DEALLOCATE);

    // Our own graph goes back, naming us as the one that has it.
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Id(), ID_GRAPH_UPDATE);
    EXPECT_EQ(sent[0].target, kP);
    EXPECT_TRUE(graph.IsParticipant(kP));
    EXPECT_TRUE(graph.GetGraph().HasEdge(Node(kP), Node(kX)));

    // P-X joins a system we reach to one we do not: the user (and the mesh) hear of it.
    ASSERT_EQ(peer.queued.size(), 1u);
    const Packet* notice = peer.queued[0];
    ASSERT_EQ(notice->length, kRemoteEdgeAddedBytes);
    EXPECT_EQ(notice->data[0], ID_REMOTE_EDGE_ADDED);
    EXPECT_EQ(notice->sender, UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(notice->playerIndex, 0xFFFF);
    EXPECT_EQ(notice->data[15] | notice->data[16] << 8, 7);
}

TEST_F(GraphTest, LostEdgeReachesTheUserAndTheOthersOnce) {
    Join(kP);
    Join(kQ);
    BitStream update;
    Offer(Update(update, {{Node(kP), Node(kX), 1}}), kP);
    peer.TakeSent();

    BitStream lost;
    lost.Write(ID_GRAPH_EDGE_LOST);
    WriteAddress(lost, kP);
    WriteAddress(lost, kX);
    WriteIgnoreList(lost, IgnoreList());
    HeldPacket packet(lost, kP);
    EXPECT_EQ(graph.Received(&peer, packet.get()), PRR_CONTINUE);
    EXPECT_EQ(packet.get()->data[0], ID_REMOTE_EDGE_LOST);
    EXPECT_FALSE(graph.GetGraph().HasEdge(Node(kP), Node(kX)));

    // Relayed to Q alone, listing everybody who now has it.
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target, kQ);
    BitStream in(sent[0].bytes.data(), uint32_t(sent[0].bytes.size()), false);
    in.SkipBits(8 + 96);
    IgnoreList told;
    ASSERT_EQ(ReadIgnoreList(in, told), GraphReadResult::Ok);
    EXPECT_EQ(told.Size(), 4u);
    for (const PlayerID& id : {kP, kX, kSelf, kQ}) EXPECT_TRUE(told.HasData(id));

    // Again: an edge we no longer know stops the flood.
    EXPECT_EQ(Offer(lost, kQ), PRR_DEALLOCATE);
    EXPECT_TRUE(peer.TakeSent().empty());
}

TEST_F(GraphTest, DroppedConnectionIsActedOnOutsideTheNetworkThread) {
    Join(kQ);
    graph.TrackConnection(&peer, kP, 0);
    peer.TakeSent();
    // A routed notice names whoever it likes: our edge to P stays.
    BitStream lost;
    lost.Write(uint8_t(ID_CONN_LOST));
    EXPECT_EQ(Offer(lost, kP, 0xFFFF), PRR_CONTINUE);
    EXPECT_EQ(graph.Rejections().notConnected, 1u);
    graph.ConnectionClosed(&peer, kP);
    EXPECT_TRUE(graph.GetGraph().HasEdge(Node(kP), Node(kSelf)));
    peer.connected = {kQ};
    graph.Update(&peer);
    EXPECT_FALSE(graph.GetGraph().HasEdge(Node(kP), Node(kSelf)));
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Id(), ID_GRAPH_EDGE_CLOSED);
}

TEST_F(GraphTest, LeftGroupsAreIgnored) {
    Join(kP);
    graph.JoinGroup(5);
    graph.LeaveGroup(0);
    BitStream update;
    Offer(Update(update, {{Node(kP, 5), Node(kX, 5), 1}, {Node(kP, 5), Node(kY, 0), 1}}), kP);
    EXPECT_TRUE(graph.GetGraph().HasEdge(Node(kP), Node(kX)));
    EXPECT_FALSE(graph.GetGraph().HasEdge(Node(kP), Node(kY)));
}

TEST_F(GraphTest, NobodyElseSpeaksForOurOwnConnections) {
    Join(kP);
    // A graph older than our closing of X: we are not connected to X, whatever it says.
    BitStream update;
    Offer(Update(update, {{Node(kSelf), Node(kX), 1}, {Node(kSelf), Node(kQ), 1}, {Node(kP), Node(kY), 1}}),
          kP);
    EXPECT_FALSE(graph.GetGraph().HasEdge(Node(kSelf), Node(kX)));
    EXPECT_TRUE(graph.GetGraph().HasEdge(Node(kSelf), Node(kQ)));
    EXPECT_TRUE(graph.GetGraph().HasEdge(Node(kP), Node(kY)));

    BitStream added;
    added.Write(ID_GRAPH_EDGE_ADDED);
    WriteNode(added, Node(kX));
    WriteNode(added, Node(kSelf));
    added.Write(uint16_t(1));
    WriteIgnoreList(added, IgnoreList());
    Offer(added, kP);
    EXPECT_FALSE(graph.GetGraph().HasEdge(Node(kSelf), Node(kX)));
}

TEST_F(GraphTest, PathsSeeSystemsThatJoinedAfterTheLastRoute) {
    Join(kP);
    graph.TrackConnection(&peer, kP, 0);
    std::vector<PlayerIdAndGroupId> path;
    ASSERT_TRUE(graph.AccessGraph()->ShortestPath(path, Node(kSelf), Node(kP), 0xFFFF));
    BitStream update;
    Offer(Update(update, {{Node(kP), Node(kX), 1}}), kP);
    ASSERT_TRUE(graph.AccessGraph()->ShortestPath(path, Node(kSelf), Node(kX), 0xFFFF));
    EXPECT_EQ(path, (std::vector<PlayerIdAndGroupId>{Node(kSelf), Node(kP), Node(kX)}));
}

// Raw graph bytes: count, then per node its address, padding, its neighbour count and them.
struct RawNode {
    PlayerID id;
    uint16_t count;
    std::vector<PlayerID> neighbours;
};
BitStream& RawUpdate(BitStream& out, uint32_t count, const std::vector<RawNode>& nodes) {
    out.Write(ID_GRAPH_UPDATE);
    out.WriteCompressed(count);
    for (const RawNode& node : nodes) {
        WriteNode(out, Node(node.id));
        out.AlignWriteToByte();
        out.Write(node.count);
        for (const PlayerID& n : node.neighbours) {
            WriteNode(out, Node(n));
            out.Write(uint16_t(1));
        }
    }
    return out;
}

TEST_F(GraphTest, HostileMessagesChangeAndRelayNothing) {
    Join(kP);
    Join(kQ);
    BitStream seed;
    Offer(Update(seed, {{Node(kP), Node(kX), 1}}), kP);
    peer.TakeSent();
    peer.FreeQueued();
    const uint32_t edgesBefore = graph.GetGraph().GetTotalEdgeCount();

    std::vector<RawNode> many;
    for (uint32_t i = 0; i < 200; ++i) many.push_back({Loop(10, uint16_t(i)), 1, {Loop(11, uint16_t(i))}});
    IgnoreList longList;
    for (uint16_t i = 0; i < 600; ++i) AddToIgnoreList(longList, Loop(12, i));

    using R = ConnectionGraphRejections;
    struct Case {
        const char* name;
        std::function<void(BitStream&)> build;
        PlayerID sender;
        uint16_t slot;
        uint32_t R::*counter;
    };
    auto goodUpdate = [](BitStream& out) { Update(out, {{Node(kQ), Node(kY), 1}}); };
    const std::vector<Case> cases = {
        {"routed, claims a participant", goodUpdate, kP, 0xFFFF, &R::notConnected},
        {"connected, not a participant", goodUpdate, Loop(4, 4000), 2, &R::notParticipant},
        {"node count beyond the cap", [](BitStream& out) { RawUpdate(out, 100000, {}); }, kP, 0,
         &R::tooManyNodes},
        {"neighbour count beyond the cap",
         [](BitStream& out) {
             RawUpdate(out, 1, {{kY, 60000, {}}});
         },
         kP, 0, &R::tooManyNodes},
        {"more distinct systems than a graph holds", [&many](BitStream& out) { RawUpdate(out, 200, many); },
         kP, 0, &R::tooManyNodes},
        {"graph cut off in a neighbour",
         [](BitStream& out) {
             RawUpdate(out, 2, {{kY, 2, {kX}}});
         },
         kP, 0, &R::truncated},
        {"good graph, ignore list cut off",
         [&goodUpdate](BitStream& out) {
             goodUpdate(out);
             out.SetWriteCursor(out.GetNumberOfBitsUsed() - 16);
             out.Write(uint16_t(3));  // three entries announced, none follow
         },
         kP, 0, &R::truncated},
        {"good graph, ignore list too long",
         [&longList](BitStream& out) {
             Update(out, {{Node(kQ), Node(kY), 1}}, longList);
         },
         kP, 0, &R::ignoreListTooLong},
        {"edge added, second node cut off",
         [](BitStream& out) {
             out.Write(ID_GRAPH_EDGE_ADDED);
             WriteNode(out, Node(kY));
             out.Write(uint16_t(1));
         },
         kP, 0, &R::truncated},
    };

    for (const Case& c : cases) {
        BitStream message;
        c.build(message);
        const uint32_t before = graph.Rejections().*c.counter;
        EXPECT_EQ(Offer(message, c.sender, c.slot), PRR_DEALLOCATE) << c.name;
        EXPECT_EQ(graph.Rejections().*c.counter, before + 1) << c.name;
        EXPECT_EQ(graph.GetGraph().GetTotalEdgeCount(), edgesBefore) << c.name;
        EXPECT_TRUE(peer.TakeSent().empty()) << c.name;
        EXPECT_TRUE(peer.queued.empty()) << c.name;
    }
    EXPECT_EQ(graph.Rejections().Total(), cases.size());
}

TEST_F(GraphTest, GraphStopsGrowingAtItsCap) {
    Join(kP);
    for (uint16_t batch = 0; batch < 3; ++batch) {
        std::vector<GraphEdge> edges;
        for (uint16_t i = 0; i < 100; ++i)
            edges.push_back({Node(kP), Node(Loop(20, uint16_t(batch * 100 + i))), 1});
        BitStream update;
        Offer(Update(update, edges), kP);
    }
    EXPECT_EQ(graph.GetNodeCount(), UndirectedGraph::kMaxNodes);
    EXPECT_GT(graph.Rejections().graphFull, 0u);
}

}  // namespace
}  // namespace velt
