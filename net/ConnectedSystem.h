#pragma once
// One connection slot of a peer: the remote address, the reliability channel, the ping history
// and the state of the connection.

#include <atomic>
#include <cstdint>
#include <memory>

#include "net/BitStream.h"
#include "net/Clock.h"
#include "net/PlayerID.h"
#include "net/ReliabilityChannel.h"
#include "net/RpcTable.h"
#include "net/TEABlockEncryptor.h"

namespace velt {

enum ConnectMode : int32_t {
    CM_NONE = 0,
    CM_DISCONNECT_ASAP = 1,              // close once nothing is left to send; the user is told
    CM_DISCONNECT_ASAP_SILENTLY = 2,     // the same, the user is not told (refused requests)
    CM_DISCONNECT_ON_NO_ACK = 3,         // the remote system closed; close once all is acknowledged
    CM_REQUESTED_CONNECTION = 4,         // this side sent its connection request
    CM_HANDLING_CONNECTION_REQUEST = 5,  // request accepted, waiting for the completion
    CM_UNVERIFIED_SENDER = 6,            // slot given on an open-connection request, no request yet
    CM_SET_KEY_ON_NEXT_BLOCK = 7,        // secure accept sent, the link key starts with the next block
    CM_CONNECTED = 8,
};

inline constexpr int kPingHistorySize = 5;
// Pings from this long on are never taken into the history.
inline constexpr uint16_t kMaxAcceptedPing = 1200;
// A ping entry or lowest ping that holds no measurement yet.
inline constexpr uint16_t kNoPing = 0xFFFF;

struct PingAndClockDifferential {
    uint16_t pingTime;
    int32_t clockDifferential;  // remote clock minus ours at the moment of the measurement
};

// Threads: the network thread owns the slot. isActive, connectMode and loggedOn may be read (and
// loggedOn written, by the join handler) from the main thread at any time; every other field is
// read or written only under the peer's lock.
struct alignas(64) ConnectedSystem {
    // Every pass reads the fields up to the channel for every active slot, most of which have
    // nothing to do: they fill the record's first cache line, the rest comes after.
    std::atomic<uint8_t> isActive{0};
    uint8_t weInitiated = 0;
    // Set to 1 by the game once the player has joined; a server kicks connections that never do.
    std::atomic<uint8_t> loggedOn{0};
    uint16_t lowestPing = kNoPing;
    std::atomic<int32_t> connectMode{CM_NONE};
    PlayerID playerId = UNASSIGNED_PLAYER_ID;
    NetTime nextPingTime = 0;
    // Drives the keep-alive; may lie in the future after one was sent.
    NetTime lastReliableSend = 0;
    NetTime connectionTime = 0;
    // Made with the slot array and kept across connections (reset on each assignment).
    std::unique_ptr<ReliabilityChannel> channel;

    // Our own address as the remote system reported seeing it.
    PlayerID externalId = UNASSIGNED_PLAYER_ID;
    PingAndClockDifferential pingHistory[kPingHistorySize] = {};
    int32_t pingWriteIndex = 0;
    BitStream staticData;
    uint8_t linkKey[16] = {};
    uint8_t hasLinkKey = 0;
    // Accepting side: the secure response went out; the next message must be its confirmation.
    uint8_t secureResponseSent = 0;
    // The channel points at it once the link key is switched on.
    TEABlockEncryptor cipher;
    // A datagram has deciphered with the link key: from then on one in the clear is tampering.
    uint8_t cipherConfirmed = 0;
    // Emptied on each assignment; nothing registers in it.
    RpcTable rpcTable;
    // Since when its messages waiting for the game have been over their share (queueOver set).
    NetTime queueOverSince = 0;
    bool queueOver = false;
};

// Files one ping answer into the slot's history: the measurement (now - sent, 0 when sent is not
// before now) is kept when the entry it would replace is 0, or when it is below three times that
// entry and below 1200 ms. remoteTime is the answering side's clock. Returns whether it was kept;
// the caller then tells the channel the new ping.
bool RecordPing(ConnectedSystem& slot, NetTime sent, NetTime remoteTime, NetTime now);

// Clock differential of the lowest-ping entry, scanning up to the first empty one (0 when none).
int32_t BestClockDifferential(const ConnectedSystem& slot);

}  // namespace velt
