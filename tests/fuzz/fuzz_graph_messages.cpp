// libFuzzer: the messages that mesh peers exchange, as a hostile connected system would send
// them. The wire readers must either read a whole element or refuse it, and what they accept must
// write back into something they accept again; the plugins, fed a session of such messages,
// must keep their graph and records within their caps.
//
// Input: [u8 mode] then, for the readers, one message; for the plugins, a session of messages,
// each [u8 length][bytes], from a participant over its connection.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "net/ext/ConnectionGraph.h"
#include "net/ext/GraphWire.h"
#include "net/ext/NatPunchthrough.h"
#include "net/ext/RoutedMessage.h"
#include "net/ext/Router.h"
#include "tests/ext/graph_fake_peer.h"

namespace {

using namespace velt;

const PlayerID kSelf = test::Loop(1, 1000);
const PlayerID kSender = test::Loop(2, 2000);
const PlayerID kOther = test::Loop(3, 3000);

void CheckGraphReader(const uint8_t* data, size_t size) {
    BitStream in(data, uint32_t(size), false);
    std::vector<GraphEdge> edges;
    IgnoreList ignore;
    if (ReadGraph(in, edges) != GraphReadResult::Ok) {
        if (!edges.empty()) __builtin_trap();
        return;
    }
    (void)ReadIgnoreList(in, ignore);
    if (ignore.Size() > kMaxIgnoreListEntries) __builtin_trap();

    UndirectedGraph graph;
    for (const GraphEdge& edge : edges)
        if (!graph.AddEdge(edge.a, edge.b, edge.weight)) __builtin_trap();  // the reader kept within the cap
    BitStream again;
    WriteGraph(again, graph);
    std::vector<GraphEdge> reread;
    if (ReadGraph(again, reread) != GraphReadResult::Ok) __builtin_trap();
    if (reread.size() != graph.GetTotalEdgeCount()) __builtin_trap();
    // A path visits each node once and follows edges of the graph.
    if (!edges.empty() && !(edges.front().a == edges.back().b)) {
        std::vector<PlayerIdAndGroupId> path;
        graph.ShortestPath(path, edges.front().a, edges.back().b, 0xFFFF);
        if (path.size() > graph.GetNodeCount()) __builtin_trap();
        for (size_t i = 0; i + 1 < path.size(); ++i)
            if (!graph.HasEdge(path[i], path[i + 1])) __builtin_trap();
    }
}

void CheckRoutedReader(const uint8_t* data, size_t size) {
    RoutedMessage message;
    if (ReadRoutedMessage(data, uint32_t(size * 8), message) != RoutedReadResult::Ok) return;
    if (message.payloadBits == 0 || uint64_t(message.payloadByteOffset) * 8 + message.payloadBits > size * 8)
        __builtin_trap();
    size_t nodes = 1;
    for (const auto& subtree : message.subtrees) nodes += subtree.size();
    if (nodes > UndirectedGraph::kMaxNodes) __builtin_trap();
}

// Splits the rest of the input into messages and offers each to the plugin as if received.
template <class Offer>
void Session(const uint8_t* data, size_t size, Offer offer) {
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++];
        const size_t take = length < size - at ? length : size - at;
        if (take == 0) continue;
        test::HeldPacket packet(std::vector<uint8_t>(data + at, data + at + take), kSender);
        offer(packet.get());
        at += take;
    }
}

void RunGraph(const uint8_t* data, size_t size) {
    test::FakePeer peer(kSelf);
    peer.connected = {kSender, kOther};
    ConnectionGraph graph;
    BitStream request;
    request.Write(ID_GRAPH_REQUEST);
    StringCompressor::Instance()->EncodeString(nullptr, 256, request);
    test::HeldPacket join(request, kSender);
    graph.Received(&peer, join.get());
    graph.TrackConnection(&peer, kOther, 0);
    Session(data, size, [&](Packet* packet) { graph.Received(&peer, packet); });
    graph.ConnectionClosed(&peer, kSender);
    peer.connected = {kOther};
    graph.Update(&peer);
    if (graph.GetNodeCount() > UndirectedGraph::kMaxNodes) __builtin_trap();
}

void RunRouter(const uint8_t* data, size_t size) {
    test::FakePeer peer(kSelf);
    peer.connected = {kSender, kOther};
    Router router;
    UndirectedGraph graph;
    router.Attached(&peer);
    router.UseGraph(&graph);
    Session(data, size, [&](Packet* packet) {
        const uint32_t before = packet->length;
        if (router.Received(&peer, packet) == PRR_CONTINUE && packet->length > before) __builtin_trap();
    });
    if (peer.sent.size() > 2 * size) __builtin_trap();
    router.Detached(&peer);
}

void RunPunch(const uint8_t* data, size_t size) {
    test::FakePeer peer(kSelf);
    peer.connected = {kSender, kOther};
    NatPunchthrough punch;
    punch.Attached(&peer);
    Session(data, size, [&](Packet* packet) {
        punch.Received(&peer, packet);
        punch.Update(&peer);
    });
    if (punch.GetRecordCount() > NatPunchthrough::kMaxRecords) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    switch (mode % 5) {
        case 0: CheckGraphReader(data, size); break;
        case 1: CheckRoutedReader(data, size); break;
        case 2: RunGraph(data, size); break;
        case 3: RunRouter(data, size); break;
        default: RunPunch(data, size); break;
    }
    return 0;
}
