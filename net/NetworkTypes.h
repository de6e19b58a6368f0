#pragma once

#include <atomic>
#include <cstdint>

#include "net/PlayerID.h"

namespace velt {

class NetPeer;

// Order in which a connection drains its four send queues.
enum PacketPriority : int32_t {
    SYSTEM_PRIORITY_LEVEL = 0,  // handshake replies, pings, accept and static-data messages
    HIGH_PRIORITY_LEVEL = 1,    // everything the game and the bot send; the disconnection notice
    MEDIUM_PRIORITY_LEVEL = 2,
    LOW_PRIORITY_LEVEL = 3,  // keep-alive
    NUMBER_OF_PRIORITIES = 4
};

// Delivery kind. The same number goes into the message header on the wire; 0..5 are never sent
// and are refused when a peer sends them.
enum MessageReliability : int32_t {
    RELIABILITY_UNRELIABLE = 6,
    RELIABILITY_UNRELIABLE_SEQUENCED = 7,
    RELIABILITY_RELIABLE = 8,
    RELIABILITY_RELIABLE_ORDERED = 9,
    RELIABILITY_RELIABLE_SEQUENCED = 10
};

// Ordering channels are numbered 0..31 (5 bits on the wire).
inline constexpr uint32_t NUMBER_OF_ORDERED_STREAMS = 32;

// How a message travels: the send queue it waits in, its delivery kind and its ordering channel.
struct Delivery {
    PacketPriority priority = HIGH_PRIORITY_LEVEL;
    MessageReliability reliability = RELIABILITY_RELIABLE;
    uint8_t orderingChannel = 0;
};

// The one argument of every RPC handler. It and the bytes behind payload live only for the
// duration of the call.
struct RpcCallParams {
    uint8_t* payload;      // argument bits, left-aligned from bit 7 of byte 0; null for no bits
    uint32_t payloadBits;  // number of argument bits
    PlayerID sender;       // caller's address
    NetPeer* recipient;    // the peer that received the call
};

using RpcHandler = void (*)(RpcCallParams* params);

// Identifier of a replicated object in the optional network library extensions: an owner
// address and an index. Whether the address takes part in comparisons is one process-wide
// switch, off at start.
struct NetworkID {
    PlayerID playerId;
    uint16_t localIndex;

    static bool IsPeerToPeerMode() { return peerToPeerMode().load(std::memory_order_relaxed); }
    static void SetPeerToPeerMode(bool on) { peerToPeerMode().store(on, std::memory_order_relaxed); }

    friend bool operator==(const NetworkID& a, const NetworkID& b) {
        if (IsPeerToPeerMode()) return a.playerId == b.playerId && a.localIndex == b.localIndex;
        return a.localIndex == b.localIndex;
    }
    friend bool operator!=(const NetworkID& a, const NetworkID& b) { return !(a == b); }
    friend bool operator<(const NetworkID& a, const NetworkID& b) {
        if (IsPeerToPeerMode()) {
            if (a.playerId != b.playerId) return a.playerId < b.playerId;
        }
        return a.localIndex < b.localIndex;
    }
    friend bool operator>(const NetworkID& a, const NetworkID& b) { return b < a; }

private:
    static std::atomic<bool>& peerToPeerMode() {
        static std::atomic<bool> flag{false};
        return flag;
    }
};

inline constexpr NetworkID UNASSIGNED_NETWORK_ID{UNASSIGNED_PLAYER_ID, 0xFFFFu};

}  // namespace velt
