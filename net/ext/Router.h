#pragma once
// The router plugin: carries messages for systems this peer has no connection to. The sender
// computes a tree of shortest paths over the connection graph and sends one copy to each first
// hop; every hop forwards a copy to each of its children and hands the message to its own user
// only when it is itself a recipient. Attached to a peer, it becomes the peer's router, so that
// a send to a system without a connection is routed.

#include <cstdint>

#include "net/NetPeerInterface.h"
#include "net/OrderedList.h"
#include "net/PluginInterface.h"
#include "net/ext/AddressList.h"
#include "net/ext/RoutedMessage.h"
#include "net/ext/UndirectedGraph.h"

namespace velt {

// Routed messages refused, one counter per reason.
struct RouterRejections {
    uint32_t truncated = 0;
    uint32_t badHeader = 0;
    uint32_t badPayloadLength = 0;  // empty, or announced longer than the message
    uint32_t tooManyNodes = 0;
    uint32_t repeatedNode = 0;      // a loop in the tree
    uint32_t unassignedSource = 0;  // a source address nobody can have
    uint32_t filteredType = 0;      // payload type outside the allowed set
    uint32_t hopNotConnected = 0;   // a subtree for a system we have no connection to, not forwarded

    uint32_t Total() const {
        return truncated + badHeader + badPayloadLength + tooManyNodes + repeatedNode + unassignedSource +
               filteredType + hopNotConnected;
    }
};

class Router : public PluginInterface, public RouterInterface {
public:
    Router() = default;
    ~Router() override = default;
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // The graph to route on, normally that of a connection graph attached to the same peer; it
    // must outlive its use here. Without one nothing is routed.
    void UseGraph(UndirectedGraph* graph) { graph_ = graph; }
    // With the filter on, only payloads whose first byte is an allowed type are forwarded or
    // delivered.
    void SetTypeFilter(bool filter) { typeFilter_ = filter; }
    void AllowType(uint8_t messageId) { allowedTypes_.Insert(messageId, messageId); }
    void DisallowType(uint8_t messageId);

    // Sends bitLength bits of data to every recipient reachable over the graph. A message that
    // starts with a timestamp prefix keeps it. True when at least one copy went out.
    bool Multicast(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                   MessageReliability reliability, uint8_t orderingChannel, const AddressList& recipients);
    // The peer's send to a system it has no connection to. A routed message is never routed
    // again: its next hop went away, and routing it anew could only loop.
    bool Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
              MessageReliability reliability, uint8_t orderingChannel, PlayerID target) override;

    void Attached(NetPeerInterface* peer) override;
    void Detached(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;

    const RouterRejections& Rejections() const { return rejections_; }

private:
    // This system as the others see it: the address the first connected system reports.
    PlayerID OwnAddress() const;
    bool IsAllowedPayload(const uint8_t* payload, uint32_t payloadBits) const;
    void Refuse(RoutedReadResult result);
    void Forward(NetPeerInterface* peer, const Packet* packet, const RoutedMessage& message);
    static void Deliver(Packet* packet, const RoutedMessage& message);

    UndirectedGraph* graph_ = nullptr;  // not owned
    bool typeFilter_ = false;
    DataStructures::OrderedList<uint8_t, uint8_t> allowedTypes_;
    NetPeerInterface* peer_ = nullptr;  // not owned
    RouterRejections rejections_;
};

}  // namespace velt
