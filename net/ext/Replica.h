#pragma once
// An application object that a ReplicaManager keeps in step on other systems. The object writes
// and reads its own messages; the manager decides when each is due and routes what arrives.

#include <cstdint>

#include "net/BitStream.h"
#include "net/NetworkTypes.h"
#include "net/PlayerID.h"
#include "net/ext/NetworkIDGenerator.h"

namespace velt {

// What an object operation or a handler tells the manager.
enum ReplicaReturnResult : int32_t {
    REPLICA_PROCESS_LATER = 0,   // not now: try again on a later update
    REPLICA_DONE = 1,            // done: send what was written, or consume what was read
    REPLICA_CANCEL_PROCESS = 2,  // drop the request or the message
    REPLICA_REPEAT = 3,          // state writing only: send this and ask again at once
};

// Message identifiers of the replica manager.
enum ReplicaMessage : uint8_t {
    ID_REPLICA_CONSTRUCT = 63,      // [timestamp] 63, identifier-follows bit, [identifier], body
    ID_REPLICA_DESTRUCT = 64,       // 64, identifier, body
    ID_REPLICA_SCOPE = 65,          // 65, identifier, body
    ID_REPLICA_STATE = 66,          // [timestamp] 66, identifier, body
    ID_REPLICA_DOWNLOAD_DONE = 67,  // 67, body
};

class Replica : public NetworkIDGenerator {
public:
    using NetworkIDGenerator::NetworkIDGenerator;

    // The body of the construction message for participant; set *includeTimestamp to prefix
    // the message with the current time.
    virtual ReplicaReturnResult WriteConstruction(uint32_t currentTime, PlayerID participant, BitStream* out,
                                                  bool* includeTimestamp) = 0;
    // The body of the destruction message; the result is not used.
    virtual ReplicaReturnResult WriteDestruction(BitStream* out, PlayerID participant) = 0;
    virtual ReplicaReturnResult OnDestruction(BitStream* in, PlayerID sender) = 0;
    virtual ReplicaReturnResult WriteScopeChange(bool inScope, BitStream* out, uint32_t currentTime,
                                                 PlayerID participant) = 0;
    virtual ReplicaReturnResult OnScopeChange(BitStream* in, PlayerID sender) = 0;
    // The body of a state message. The object may change the priority and reliability it is
    // handed (1 and reliable ordered) and ask for a timestamp.
    virtual ReplicaReturnResult WriteState(bool* includeTimestamp, BitStream* out, uint32_t lastSendTime,
                                           PacketPriority* priority, MessageReliability* reliability,
                                           uint32_t currentTime, PlayerID participant) = 0;
    // timestamp is 0 when the message had none; lastReadTime is when the object last accepted
    // a state message (0 before the first).
    virtual ReplicaReturnResult ReadState(BitStream* in, uint32_t timestamp, uint32_t lastReadTime,
                                          PlayerID sender) = 0;
};

}  // namespace velt
