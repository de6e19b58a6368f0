// Several real peers, each with its own socket on 127.0.0.x and its own network thread, driven
// from the test thread: the connection graph they keep in step, routing over it, the mesh that
// closes triangles, and a punch-through arranged by a facilitator.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/NetworkStatistics.h"
#include "net/ext/ConnectionGraph.h"
#include "net/ext/FullyConnectedMesh.h"
#include "net/ext/NatPunchthrough.h"
#include "net/ext/Router.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

constexpr uint8_t kUserMessage = 150;

enum Plugins : unsigned { kGraph = 1, kRouter = 2, kMesh = 4, kPunch = 8 };

// One system of the mesh: a library peer and the plugins it runs.
class System {
public:
    System(uint8_t octet, unsigned plugins) : address_("127.0.0." + std::to_string(octet)) {
        peer = CreateNetPeer();
        if (plugins & kGraph) Attach(graph = CreateConnectionGraph());
        if (plugins & kMesh) Attach(mesh = new FullyConnectedMesh());
        if (plugins & kRouter) {
            Attach(router = CreateRouter());
            if (graph != nullptr) router->UseGraph(graph->AccessGraph());
        }
        if (plugins & kPunch) Attach(punch = new NatPunchthrough());
        started = peer->Initialize(8, 0, 1, address_.c_str());
        peer->SetMaximumIncomingConnections(8);
        id = peer->GetInternalID();
    }
    ~System() {
        Stop(0);
        for (PluginInterface* plugin : attached_) peer->DetachPlugin(plugin);
        DestroyConnectionGraph(graph);
        DestroyRouter(router);
        delete mesh;
        delete punch;
        DestroyNetPeer(peer);
    }
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    void Stop(uint32_t blockMs) {
        if (peer->IsActive()) peer->Disconnect(blockMs, 0);
    }
    bool ConnectTo(const System& other) {
        return peer->Connect(other.address_.c_str(), other.id.port, nullptr, 0);
    }
    void Pump() { test::Drain(peer, got); }
    bool IsConnectedTo(const System& other) const {
        PlayerID list[8];
        uint16_t count = 8;
        peer->GetConnectionList(list, &count);
        for (uint16_t i = 0; i < count && i < 8; ++i)
            if (list[i] == other.id) return true;
        return false;
    }
    bool HasEdge(const System& a, const System& b) const {
        return graph->GetGraph().HasEdge(PlayerIdAndGroupId(a.id, 0), PlayerIdAndGroupId(b.id, 0));
    }
    // The edges of the graph this system holds, weights left out (each end measures its own).
    std::string GraphText() const {
        std::string text;
        const UndirectedGraph& g = graph->GetGraph();
        PlayerIdAndGroupId neighbour;
        uint16_t weight = 0;
        for (uint32_t i = 0; i < g.GetNodeCount(); ++i) {
            for (uint32_t e = 0; e < g.GetEdgeCount(i); ++e) {
                g.GetEdgeAtIndex(i, e, neighbour, weight);
                if (!(g.GetNodeAtIndex(i).playerId < neighbour.playerId)) continue;
                char from[PlayerID::kStringSize];
                char to[PlayerID::kStringSize];
                text += std::string(g.GetNodeAtIndex(i).playerId.ToString(true, from, sizeof from)) + "-" +
                        neighbour.playerId.ToString(true, to, sizeof to) + " ";
            }
        }
        return text;
    }
    bool Got(uint8_t messageId, PlayerID sender) const {
        for (const test::Received& r : got)
            if (r.id() == messageId && r.sender == sender) return true;
        return false;
    }

    NetPeerInterface* peer = nullptr;
    ConnectionGraph* graph = nullptr;
    Router* router = nullptr;
    FullyConnectedMesh* mesh = nullptr;
    NatPunchthrough* punch = nullptr;
    bool started = false;
    PlayerID id{};
    std::vector<test::Received> got;

private:
    void Attach(PluginInterface* plugin) {
        peer->AttachPlugin(plugin);
        attached_.push_back(plugin);
    }
    std::string address_;
    std::vector<PluginInterface*> attached_;
};

using Systems = std::vector<std::unique_ptr<System>>;

Systems Make(unsigned plugins, size_t count) {
    Systems systems;
    for (size_t i = 0; i < count; ++i) systems.push_back(std::make_unique<System>(uint8_t(2 + i), plugins));
    for (const auto& s : systems) EXPECT_TRUE(s->started);
    return systems;
}

// Pumps every running system until done() holds; false when the time runs out.
template <class Done>
bool PumpUntil(const Systems& systems, Done done, int timeoutMs = 15000) {
    return test::WaitFor(
        [&] {
            for (const auto& s : systems)
                if (s->peer->IsActive()) s->Pump();
            return done();
        },
        timeoutMs);
}

// Nothing in flight: every message sent has been acknowledged. A system that leaves while a
// neighbour still waits for its acknowledgements is only noticed once that wait times out.
bool Quiet(const Systems& systems) {
    for (const auto& s : systems) {
        if (!s->peer->IsActive()) continue;
        PlayerID list[8];
        uint16_t count = 8;
        s->peer->GetConnectionList(list, &count);
        for (uint16_t i = 0; i < count && i < 8; ++i) {
            const NetworkStatistics* stats = s->peer->GetStatistics(list[i]);
            if (stats == nullptr) continue;
            uint32_t queued = stats->messagesWaitingForAck;
            for (uint32_t waiting : stats->messagesInSendBuffer) queued += waiting;
            if (queued != 0) return false;
        }
    }
    return true;
}

bool SameGraphEverywhere(const Systems& systems, uint32_t edges) {
    for (const auto& s : systems)
        if (s->graph->GetGraph().GetTotalEdgeCount() != edges || s->GraphText() != systems[0]->GraphText())
            return false;
    return true;
}

// Same graph everywhere and nothing in flight, twice over with a pause between: news that
// crossed on the way is in by then. (Flooding has no order: news of a closed connection that
// overtakes an older graph on another path is undone by it.)
bool Settle(const Systems& systems, uint32_t edges) {
    auto settled = [&] { return SameGraphEverywhere(systems, edges) && Quiet(systems); };
    if (!PumpUntil(systems, settled)) return false;
    PumpUntil(
        systems, [] { return false; }, 200);
    return PumpUntil(systems, settled);
}

bool SendTo(System& from, const System& to, uint8_t tag) {
    BitStream message;
    message.Write(kUserMessage);
    message.Write(tag);
    return from.peer->Send(&message, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, to.id, false);
}

bool GotTagFrom(const System& at, const System& from, uint8_t tag) {
    for (const test::Received& r : at.got)
        if (r.id() == kUserMessage && r.bytes.size() == 2 && r.bytes[1] == tag && r.sender == from.id &&
            r.playerIndex == 0xFFFF)
            return true;
    return false;
}

TEST(MeshPeers, FourPeersConvergeOnOneGraph) {
    Systems s = Make(kGraph, 4);
    System& a = *s[0];
    System& b = *s[1];
    System& c = *s[2];
    System& d = *s[3];
    // A tree first, each joining somebody who already knows the rest.
    ASSERT_TRUE(a.ConnectTo(b));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.HasEdge(a, b) && b.HasEdge(a, b); }));
    ASSERT_TRUE(c.ConnectTo(b));
    ASSERT_TRUE(d.ConnectTo(c));
    ASSERT_TRUE(PumpUntil(s, [&] { return SameGraphEverywhere(s, 3); }));
    // Closing a cycle reaches everybody too.
    ASSERT_TRUE(d.ConnectTo(a));
    ASSERT_TRUE(PumpUntil(s, [&] { return SameGraphEverywhere(s, 4); }));
    for (const auto& system : s)
        std::printf("%s sees: %s\n", system->id.ToString(), system->GraphText().c_str());
    EXPECT_TRUE(a.HasEdge(b, c));
    EXPECT_TRUE(b.HasEdge(d, c));
    EXPECT_TRUE(c.HasEdge(a, d));
    for (const auto& system : s) EXPECT_EQ(system->graph->Rejections().Total(), 0u);

    // A leaving system's edges leave every graph.
    ASSERT_TRUE(Settle(s, 4));
    b.Stop(200);
    const bool gone = PumpUntil(s, [&] {
        for (System* system : {&a, &c, &d})
            if (system->HasEdge(a, b) || system->HasEdge(b, c) || !system->HasEdge(c, d)) return false;
        return true;
    });
    for (const auto& system : s)
        std::printf("%s sees: %s\n", system->id.ToString(), system->GraphText().c_str());
    ASSERT_TRUE(gone);
}

TEST(MeshPeers, RoutedMessageArrivesFromItsSourceAndFindsAnotherWay) {
    Systems s = Make(kGraph | kRouter, 4);
    System& a = *s[0];
    System& b = *s[1];
    System& c = *s[2];
    System& d = *s[3];
    ASSERT_TRUE(a.ConnectTo(b));
    ASSERT_TRUE(c.ConnectTo(b));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.HasEdge(b, c) && c.HasEdge(a, b); }));
    ASSERT_FALSE(a.IsConnectedTo(c));

    ASSERT_TRUE(SendTo(a, c, 1));
    ASSERT_TRUE(PumpUntil(s, [&] { return GotTagFrom(c, a, 1); }));
    EXPECT_FALSE(b.Got(kUserMessage, a.id));  // B only passed it on

    // A second way through D, then B goes.
    ASSERT_TRUE(a.ConnectTo(d));
    ASSERT_TRUE(c.ConnectTo(d));
    ASSERT_TRUE(Settle(s, 4));
    b.Stop(200);
    ASSERT_TRUE(PumpUntil(s, [&] { return !a.HasEdge(a, b) && !a.HasEdge(b, c); }));
    ASSERT_TRUE(SendTo(a, c, 2));
    ASSERT_TRUE(PumpUntil(s, [&] { return GotTagFrom(c, a, 2); }));

    // With D gone as well no way is left, and the send says so.
    ASSERT_TRUE(PumpUntil(s, [&] { return Quiet(s); }));
    d.Stop(200);
    ASSERT_TRUE(PumpUntil(s, [&] { return !a.HasEdge(a, d); }));
    EXPECT_FALSE(SendTo(a, c, 3));
    for (const auto& system : s) EXPECT_EQ(system->router->Rejections().Total(), 0u);
}

TEST(MeshPeers, MeshConnectsTheTwoEndsOfAPath) {
    Systems s = Make(kGraph | kMesh, 3);
    System& a = *s[0];
    System& b = *s[1];
    System& c = *s[2];
    ASSERT_TRUE(a.ConnectTo(b));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.IsConnectedTo(b) && b.IsConnectedTo(a); }));
    ASSERT_TRUE(c.ConnectTo(b));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.IsConnectedTo(c) && c.IsConnectedTo(a); }));
    ASSERT_TRUE(PumpUntil(s, [&] { return SameGraphEverywhere(s, 3); }));
    for (const auto& system : s) EXPECT_EQ(system->mesh->GetRejectedNoticeCount(), 0u);
}

TEST(MeshPeers, MeshIgnoresEdgeNoticesFromOtherSystems) {
    Systems s = Make(kGraph | kMesh, 3);
    System& a = *s[0];
    System& b = *s[1];
    System& c = *s[2];
    ASSERT_TRUE(a.ConnectTo(b));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.IsConnectedTo(b) && b.HasEdge(a, b); }));
    // B claims an edge to C, in the notice's own form: A must not dial C on B's word.
    BitStream notice;
    notice.Write(ID_REMOTE_EDGE_ADDED);
    WriteNode(notice, PlayerIdAndGroupId(b.id, 0));
    WriteNode(notice, PlayerIdAndGroupId(c.id, 0));
    notice.Write(uint16_t(0));
    ASSERT_TRUE(b.peer->Send(&notice, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, a.id, false));
    ASSERT_TRUE(PumpUntil(s, [&] { return a.Got(ID_REMOTE_EDGE_ADDED, b.id); }));
    EXPECT_EQ(a.mesh->GetRejectedNoticeCount(), 1u);
    PumpUntil(
        s, [] { return false; }, 300);
    EXPECT_FALSE(a.IsConnectedTo(c));
    EXPECT_FALSE(c.IsConnectedTo(a));
}

TEST(MeshPeers, PunchThroughAFacilitator) {
    Systems s = Make(kPunch, 3);
    System& requester = *s[0];
    System& facilitator = *s[1];
    System& target = *s[2];
    ASSERT_TRUE(requester.ConnectTo(facilitator));
    ASSERT_TRUE(target.ConnectTo(facilitator));
    ASSERT_TRUE(PumpUntil(
        s, [&] { return requester.IsConnectedTo(facilitator) && target.IsConnectedTo(facilitator); }));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(requester.punch->RequestPunch(target.id, nullptr, 0, facilitator.id));
    ASSERT_TRUE(
        PumpUntil(s, [&] { return requester.IsConnectedTo(target) && target.IsConnectedTo(requester); }));
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // Five ping rounds 100 ms apart come first, whatever the pings.
    EXPECT_GE(elapsed.count(), 500);
    std::printf("punch-through connected after %lld ms\n", static_cast<long long>(elapsed.count()));
    for (const auto& system : s) {
        EXPECT_EQ(system->punch->GetRecordCount(), 0u);
        EXPECT_EQ(system->punch->Rejections().Total(), 0u);
    }

    // A target the facilitator does not know is reported back to the user.
    const PlayerID stranger{target.id.binaryAddress, uint16_t(target.id.port ^ 1)};
    ASSERT_TRUE(requester.punch->RequestPunch(stranger, nullptr, 0, facilitator.id));
    ASSERT_TRUE(PumpUntil(s, [&] { return requester.Got(ID_PUNCH_TARGET_NOT_CONNECTED, facilitator.id); }));
    EXPECT_EQ(requester.punch->GetRecordCount(), 0u);
}

}  // namespace
}  // namespace velt
