// The receive side of the replica manager: messages from participants, applied at once or kept
// until their object is ready.
#include <memory>

#include "net/Clock.h"
#include "net/MessageIdentifiers.h"
#include "net/ext/ReplicaManager.h"
#include "net/ext/ReplicaWire.h"

namespace velt {

void ReplicaManager::Disconnecting(NetPeerInterface* peer) {
    (void)peer;
    Clear();
}

void ReplicaManager::ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
    (void)peer;
    closed_.Push(remote);
}

PluginReceiveResult ReplicaManager::Received(NetPeerInterface* peer, Packet* packet) {
    (void)peer;
    if (packet == nullptr || packet->length == 0) return PRR_CONTINUE;
    const bool timestamped = packet->data[0] == ID_TIMESTAMPED;
    if (timestamped && packet->length < kTimestampPrefixBytes + 1) return PRR_DEALLOCATE;
    const uint8_t id = packet->data[timestamped ? kTimestampPrefixBytes : 0];
    switch (id) {
        case ID_CONN_HANDSHAKE_DONE:
        case ID_CONN_ACCEPTED:
            if (autoParticipate_) AddParticipant(packet->sender);
            return PRR_CONTINUE;
        case ID_CONN_CLOSED:
        case ID_CONN_LOST: RemoveParticipant(packet->sender); return PRR_CONTINUE;
        case ID_REPLICA_CONSTRUCT:
        case ID_REPLICA_DESTRUCT:
        case ID_REPLICA_SCOPE:
        case ID_REPLICA_STATE: break;
        case ID_REPLICA_DOWNLOAD_DONE:
            if (!downloadCompleteReceiver_) return PRR_DEALLOCATE;
            break;
        default: return PRR_CONTINUE;
    }

    BitStream in(packet->data, packet->length, false);
    if (packet->bitLength < packet->length * 8u) in.SetWriteCursor(int32_t(packet->bitLength));
    auto command = std::make_unique<ReceivedCommand>();
    command->sender = packet->sender;
    command->networkId = UNASSIGNED_NETWORK_ID;
    command->timestamp = 0;
    bool ok = !timestamped || (in.SkipBits(8), in.Read(command->timestamp));
    ok = ok && in.Read(command->messageId);
    if (ok && id == ID_REPLICA_CONSTRUCT) {
        bool identified = false;
        ok = in.ReadOneBit(identified) && (!identified || ReadNetworkID(in, command->networkId));
    } else if (ok && id != ID_REPLICA_DOWNLOAD_DONE) {
        ok = ReadNetworkID(in, command->networkId);
    }
    if (!ok) {
        ++statistics_.malformedMessages;
        return PRR_DEALLOCATE;
    }
    Participant* participant = FindParticipant(packet->sender);
    if (participant == nullptr) {
        ++statistics_.fromNonParticipants;
        return PRR_DEALLOCATE;
    }
    command->payloadBits = uint32_t(in.GetNumberOfUnreadBits());
    command->payload.resize((command->payloadBits + 7u) / 8u);
    if (command->payloadBits > 0)
        (void)in.ReadRawBits(command->payload.data(), int32_t(command->payloadBits), false);

    // Messages of one participant are applied in arrival order: behind any that wait.
    if (!participant->deferred.IsEmpty()) {
        Defer(participant, command.release());
        return PRR_DEALLOCATE;
    }
    if (Apply(*command) == REPLICA_PROCESS_LATER) {
        participant = FindParticipant(packet->sender);
        if (participant != nullptr) Defer(participant, command.release());
    }
    return PRR_DEALLOCATE;
}

void ReplicaManager::Defer(Participant* participant, ReceivedCommand* command) {
    const uint32_t bytes = uint32_t(command->payload.size());
    // The first message always fits, so one participant's order is never broken by the bound
    // alone; behind it the queue holds a bounded number of bytes.
    if (!participant->deferred.IsEmpty() &&
        (participant->deferred.Size() >= kMaxDeferredMessages ||
         participant->deferredBytes + uint64_t(bytes) > kMaxDeferredBytes)) {
        ++statistics_.deferredQueueOverflow;
        delete command;
        return;
    }
    participant->deferred.Push(command);
    participant->deferredBytes += bytes;
}

void ReplicaManager::ProcessDeferred(PlayerID playerId) {
    for (;;) {
        Participant* participant = FindParticipant(playerId);
        if (participant == nullptr || participant->deferred.IsEmpty()) return;
        std::unique_ptr<ReceivedCommand> command(participant->deferred.Pop());
        participant->deferredBytes -= uint32_t(command->payload.size());
        const ReplicaReturnResult result = Apply(*command);
        if (result != REPLICA_PROCESS_LATER) continue;
        participant = FindParticipant(playerId);
        if (participant == nullptr) return;
        participant->deferredBytes += uint32_t(command->payload.size());
        participant->deferred.PushAtHead(command.release());
        return;
    }
}

ReplicaReturnResult ReplicaManager::Apply(const ReceivedCommand& command) {
    BitStream in(command.payload.data(), uint32_t(command.payload.size()), false);
    in.SetWriteCursor(int32_t(command.payloadBits));
    // The registry may name an object of another kind, or one of another manager: only the
    // address is compared until it is known to be one of ours.
    NetworkIDGenerator* found = registry_.FindBaseObject(command.networkId);
    const ObjectKey key = reinterpret_cast<ObjectKey>(found);
    const RegisteredReplica* registered = found != nullptr ? FindRegistered(key) : nullptr;
    if (found != nullptr && registered == nullptr) return REPLICA_CANCEL_PROCESS;
    auto accepts = [&](uint8_t operation) {
        return registered != nullptr && (registered->allowed & operation);
    };

    ReplicaReturnResult result = REPLICA_CANCEL_PROCESS;
    switch (command.messageId) {
        case ID_REPLICA_CONSTRUCT:
            if (found != nullptr || !constructionHandler_) return REPLICA_CANCEL_PROCESS;
            result = constructionHandler_(&in, command.timestamp, command.networkId, command.sender, this);
            break;
        case ID_REPLICA_DESTRUCT:
            if (!accepts(kAcceptDestruction)) return REPLICA_CANCEL_PROCESS;
            result = registered->replica->OnDestruction(&in, command.sender);
            break;
        case ID_REPLICA_SCOPE:
            if (!accepts(kAcceptScopeChange)) return REPLICA_CANCEL_PROCESS;
            result = registered->replica->OnScopeChange(&in, command.sender);
            break;
        case ID_REPLICA_STATE:
            if (!accepts(kAcceptState)) return REPLICA_CANCEL_PROCESS;
            result = registered->replica->ReadState(&in, command.timestamp, registered->lastReadTime,
                                                    command.sender);
            if (result == REPLICA_DONE)
                if (RegisteredReplica* still = FindRegistered(key)) still->lastReadTime = GetTimeMs();
            break;
        case ID_REPLICA_DOWNLOAD_DONE:
            if (!downloadCompleteReceiver_) return REPLICA_CANCEL_PROCESS;
            result = downloadCompleteReceiver_(&in, command.sender, this);
            break;
        default: return REPLICA_CANCEL_PROCESS;
    }
    // Anything but the four results is the application's mistake; dropping the message is the
    // one answer that cannot loop.
    return result >= REPLICA_PROCESS_LATER && result <= REPLICA_REPEAT ? result : REPLICA_CANCEL_PROCESS;
}

}  // namespace velt
