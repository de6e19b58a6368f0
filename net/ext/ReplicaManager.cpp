// Participants, registrations, requests and the send side of the update.
#include "net/ext/ReplicaManager.h"

#include "net/Clock.h"
#include "net/MessageIdentifiers.h"
#include "net/ext/ReplicaWire.h"

namespace velt {

namespace {

// Request flags of one object on one participant.
constexpr uint8_t kConstruct = 0x01;
constexpr uint8_t kConstructAsCopy = 0x02;
constexpr uint8_t kScopeIn = 0x04;
constexpr uint8_t kScopeOut = 0x08;
constexpr uint8_t kSerialize = 0x10;

template <class Entry>
int CompareKeys(uintptr_t key, const Entry& entry) {
    const uintptr_t other =
        reinterpret_cast<uintptr_t>(static_cast<const NetworkIDGenerator*>(entry.replica));
    return key < other ? -1 : (key > other ? 1 : 0);
}

PacketPriority SanePriority(PacketPriority priority) {
    return priority >= SYSTEM_PRIORITY_LEVEL && priority < NUMBER_OF_PRIORITIES ? priority
                                                                                : HIGH_PRIORITY_LEVEL;
}

MessageReliability SaneReliability(MessageReliability reliability) {
    return reliability >= RELIABILITY_UNRELIABLE && reliability <= RELIABILITY_RELIABLE_SEQUENCED
               ? reliability
               : RELIABILITY_RELIABLE_ORDERED;
}

}  // namespace

// ---- keys and lookups ------------------------------------------------------------------------------

// Objects are keyed by the address of their identifier part, the same pointer the registry
// hands back, so an object found by identifier is matched without touching it.
ReplicaManager::ObjectKey ReplicaManager::KeyOf(const Replica* replica) {
    return reinterpret_cast<ObjectKey>(static_cast<const NetworkIDGenerator*>(replica));
}
int ReplicaManager::CompareRegistered(const ObjectKey& key, const RegisteredReplica& entry) {
    return CompareKeys(key, entry);
}
int ReplicaManager::CompareCommand(const ObjectKey& key, const ReplicaCommand& entry) {
    return CompareKeys(key, entry);
}
int ReplicaManager::CompareRemote(const ObjectKey& key, const RemoteObject& entry) {
    return CompareKeys(key, entry);
}
int ReplicaManager::CompareParticipant(const PlayerID& key, Participant* const& entry) {
    return key < entry->playerId ? -1 : (key == entry->playerId ? 0 : 1);
}

ReplicaManager::Participant::~Participant() {
    while (!deferred.IsEmpty()) delete deferred.Pop();
}

uint32_t ReplicaManager::UpdateClock::Now() {
    if (!read) {
        now = GetTimeMs();
        read = true;
    }
    return now;
}

ReplicaManager::Participant* ReplicaManager::FindParticipant(PlayerID playerId) const {
    Participant* participant = nullptr;
    return participants_.GetElementFromKey(playerId, participant) ? participant : nullptr;
}

ReplicaManager::RegisteredReplica* ReplicaManager::FindRegistered(ObjectKey key) {
    bool exists = false;
    const uint32_t index = replicas_.GetIndexFromKey(key, &exists);
    return exists ? &replicas_[index] : nullptr;
}

const ReplicaManager::RegisteredReplica* ReplicaManager::FindRegistered(ObjectKey key) const {
    bool exists = false;
    const uint32_t index = replicas_.GetIndexFromKey(key, &exists);
    return exists ? &replicas_[index] : nullptr;
}

ReplicaManager::ReplicaCommand* ReplicaManager::FindCommand(Participant* participant, ObjectKey key) {
    if (participant == nullptr) return nullptr;
    bool exists = false;
    const uint32_t index = participant->outgoing.GetIndexFromKey(key, &exists);
    return exists ? &participant->outgoing[index] : nullptr;
}

ReplicaManager::RemoteObject* ReplicaManager::FindRemote(Participant* participant, ObjectKey key) {
    if (participant == nullptr) return nullptr;
    bool exists = false;
    const uint32_t index = participant->remoteObjects.GetIndexFromKey(key, &exists);
    return exists ? &participant->remoteObjects[index] : nullptr;
}

std::vector<PlayerID> ReplicaManager::Addressed(PlayerID playerId, bool broadcast) const {
    std::vector<PlayerID> addressed;
    for (uint32_t i = 0; i < participants_.Size(); ++i) {
        const PlayerID id = participants_[i]->playerId;
        if (broadcast ? id != playerId : id == playerId) addressed.push_back(id);
    }
    return addressed;
}

// ---- participants and registrations -----------------------------------------------------------------

ReplicaManager::~ReplicaManager() { Clear(); }

void ReplicaManager::Detached(NetPeerInterface* peer) {
    if (peer_ == peer) peer_ = nullptr;
}

void ReplicaManager::AddParticipant(PlayerID playerId) {
    if (playerId == UNASSIGNED_PLAYER_ID || FindParticipant(playerId) != nullptr) return;
    auto* participant = new Participant();
    participant->playerId = playerId;
    if (autoConstruct_)
        for (uint32_t i = 0; i < replicas_.Size(); ++i)
            participant->outgoing.InsertAtEnd(ReplicaCommand{replicas_[i].replica, kConstruct});
    participants_.Insert(playerId, participant);
}

void ReplicaManager::RemoveParticipant(PlayerID playerId) {
    if (playerId == UNASSIGNED_PLAYER_ID) return;
    bool exists = false;
    const uint32_t index = participants_.GetIndexFromKey(playerId, &exists);
    if (!exists) return;
    Participant* participant = participants_[index];
    participants_.RemoveAtIndex(index);
    delete participant;
}

void ReplicaManager::Register(Replica* replica) {
    if (replica == nullptr) return;
    replicas_.Insert(KeyOf(replica), RegisteredReplica{replica, 0, kAllOperations});
}

void ReplicaManager::Unregister(Replica* replica) {
    if (replica == nullptr) return;
    const ObjectKey key = KeyOf(replica);
    bool exists = false;
    uint32_t index = replicas_.GetIndexFromKey(key, &exists);
    if (exists) replicas_.RemoveAtIndex(index);
    for (uint32_t i = 0; i < participants_.Size(); ++i) {
        Participant* participant = participants_[i];
        index = participant->outgoing.GetIndexFromKey(key, &exists);
        if (exists) participant->outgoing.RemoveAtIndex(index);
        index = participant->remoteObjects.GetIndexFromKey(key, &exists);
        if (exists) participant->remoteObjects.RemoveAtIndex(index);
    }
}

void ReplicaManager::AllowOperations(Replica* replica, uint8_t operations) {
    Register(replica);
    if (RegisteredReplica* registered = replica != nullptr ? FindRegistered(KeyOf(replica)) : nullptr)
        registered->allowed |= operations;
}

void ReplicaManager::DenyOperations(Replica* replica, uint8_t operations) {
    Register(replica);
    if (RegisteredReplica* registered = replica != nullptr ? FindRegistered(KeyOf(replica)) : nullptr)
        registered->allowed &= uint8_t(~operations);
}

bool ReplicaManager::IsConstructedAt(const Replica* replica, PlayerID playerId) const {
    return FindRemote(FindParticipant(playerId), KeyOf(replica)) != nullptr;
}

bool ReplicaManager::IsInScopeAt(const Replica* replica, PlayerID playerId) const {
    const RemoteObject* remote = FindRemote(FindParticipant(playerId), KeyOf(replica));
    return remote != nullptr && remote->inScope;
}

void ReplicaManager::Clear() {
    for (uint32_t i = 0; i < participants_.Size(); ++i) delete participants_[i];
    participants_.Clear();
    replicas_.Clear();
}

// ---- requests ----------------------------------------------------------------------------------------

void ReplicaManager::Request(Replica* replica, PlayerID playerId, bool broadcast, uint8_t set,
                             uint8_t clear) {
    Register(replica);
    const ObjectKey key = KeyOf(replica);
    for (PlayerID id : Addressed(playerId, broadcast)) {
        Participant* participant = FindParticipant(id);
        if (ReplicaCommand* command = FindCommand(participant, key)) {
            command->command = uint8_t((command->command & ~clear) | set);
        } else {
            participant->outgoing.Insert(key, ReplicaCommand{replica, set});
        }
    }
}

void ReplicaManager::Construct(Replica* replica, bool asCopy, PlayerID playerId, bool broadcast) {
    if (replica == nullptr) return;
    Register(replica);
    const ObjectKey key = KeyOf(replica);
    for (PlayerID id : Addressed(playerId, broadcast)) {
        Participant* participant = FindParticipant(id);
        if (FindRemote(participant, key) != nullptr) continue;
        if (ReplicaCommand* command = FindCommand(participant, key)) {
            command->command = uint8_t((command->command | kConstruct) & ~kConstructAsCopy);
        } else {
            participant->outgoing.Insert(key,
                                         ReplicaCommand{replica, asCopy ? kConstructAsCopy : kConstruct});
        }
    }
}

void ReplicaManager::SetScope(Replica* replica, bool inScope, PlayerID playerId, bool broadcast) {
    if (replica == nullptr) return;
    Request(replica, playerId, broadcast, inScope ? kScopeIn : kScopeOut, inScope ? kScopeOut : kScopeIn);
}

void ReplicaManager::SignalSerializeNeeded(Replica* replica, PlayerID playerId, bool broadcast) {
    if (replica == nullptr) return;
    Request(replica, playerId, broadcast, kSerialize, 0);
}

void ReplicaManager::Destruct(Replica* replica, PlayerID playerId, bool broadcast) {
    if (replica == nullptr) return;
    const ObjectKey key = KeyOf(replica);
    if (FindRegistered(key) == nullptr) return;
    for (PlayerID id : Addressed(playerId, broadcast)) {
        const RegisteredReplica* registered = FindRegistered(key);
        if (registered == nullptr) return;  // unregistered from inside WriteDestruction
        const NetworkID networkId = replica->GetId();
        if (peer_ != nullptr && networkId != UNASSIGNED_NETWORK_ID &&
            (registered->allowed & kSendDestruction)) {
            BitStream body;
            replica->WriteDestruction(&body, id);
            BitStream message;
            message.Write(uint8_t(ID_REPLICA_DESTRUCT));
            WriteNetworkID(message, networkId);
            message.WriteStream(body);
            SendMessage(peer_, message, id);
        }
        Participant* participant = FindParticipant(id);
        if (participant == nullptr) continue;
        bool exists = false;
        uint32_t index = participant->outgoing.GetIndexFromKey(key, &exists);
        if (exists) participant->outgoing.RemoveAtIndex(index);
        index = participant->remoteObjects.GetIndexFromKey(key, &exists);
        if (exists) participant->remoteObjects.RemoveAtIndex(index);
    }
    // Addressed participants no longer hold it: whoever still does was not addressed.
    for (uint32_t i = 0; i < participants_.Size(); ++i)
        if (FindCommand(participants_[i], key) != nullptr || FindRemote(participants_[i], key) != nullptr)
            return;
    bool exists = false;
    const uint32_t index = replicas_.GetIndexFromKey(key, &exists);
    if (exists) replicas_.RemoveAtIndex(index);
}

// ---- sending -------------------------------------------------------------------------------------------

void ReplicaManager::SendMessage(NetPeerInterface* peer, const BitStream& message, PlayerID target,
                                 PacketPriority priority, MessageReliability reliability) const {
    peer->Send(&message, SanePriority(priority), SaneReliability(reliability), orderingChannel_, target,
               false);
}

void ReplicaManager::Update(NetPeerInterface* peer) {
    for (const PlayerID remote : closed_.TakeAll()) RemoveParticipant(remote);
    if (participants_.Size() == 0 || peer == nullptr) return;
    UpdateClock clock;
    // Object operations may add or remove participants: walk a snapshot, look each one up again.
    std::vector<PlayerID> ids;
    for (uint32_t i = 0; i < participants_.Size(); ++i) ids.push_back(participants_[i]->playerId);
    for (PlayerID id : ids) {
        UpdateParticipant(peer, id, clock);
        ProcessDeferred(id);
    }
}

void ReplicaManager::UpdateParticipant(NetPeerInterface* peer, PlayerID playerId, UpdateClock& clock) {
    for (uint32_t i = 0;; ++i) {
        Participant* participant = FindParticipant(playerId);
        if (participant == nullptr) return;
        if (i >= participant->outgoing.Size()) break;
        Replica* replica = participant->outgoing[i].replica;
        ProcessRequest(peer, playerId, replica, clock);
        // The request list may have changed under the object's operations: carry on after
        // this request, wherever it is now (or after the place it had, when it is gone).
        participant = FindParticipant(playerId);
        if (participant == nullptr) return;
        bool exists = false;
        const uint32_t at = participant->outgoing.GetIndexFromKey(KeyOf(replica), &exists);
        i = exists ? at : at - 1;  // wraps to -1 before the first, and the loop's step brings it to 0
    }
    Participant* participant = FindParticipant(playerId);
    for (uint32_t i = participant->outgoing.Size(); i > 0; --i)
        if (participant->outgoing[i - 1].command == 0) participant->outgoing.RemoveAtIndex(i - 1);
}

void ReplicaManager::ProcessRequest(NetPeerInterface* peer, PlayerID playerId, Replica* replica,
                                    UpdateClock& clock) {
    const ObjectKey key = KeyOf(replica);
    // Every object operation may change the lists: the entries are looked up again after each.
    auto command = [&]() { return FindCommand(FindParticipant(playerId), key); };
    auto remote = [&]() { return FindRemote(FindParticipant(playerId), key); };
    auto allowed = [&](uint8_t operation) {
        const RegisteredReplica* registered = FindRegistered(key);
        return registered != nullptr && (registered->allowed & operation) != 0;
    };
    auto becomeRemote = [&]() {
        Participant* participant = FindParticipant(playerId);
        if (participant != nullptr && FindRemote(participant, key) == nullptr)
            participant->remoteObjects.Insert(key, RemoteObject{replica, initialScope_, 0});
    };

    ReplicaCommand* request = command();
    if (request == nullptr) return;
    if (request->command & kConstruct) {
        if (!allowed(kSendConstruction)) {
            request->command = 0;
        } else {
            BitStream body;
            bool timestamp = false;
            const ReplicaReturnResult result =
                replica->WriteConstruction(clock.Now(), playerId, &body, &timestamp);
            if (result == REPLICA_PROCESS_LATER) return;
            if ((request = command()) == nullptr) return;
            if (result == REPLICA_DONE) {
                const NetworkID networkId = replica->GetId();
                BitStream message;
                WriteTimestamp(message, timestamp, clock.Now());
                message.Write(uint8_t(ID_REPLICA_CONSTRUCT));
                message.Write(networkId != UNASSIGNED_NETWORK_ID);
                if (networkId != UNASSIGNED_NETWORK_ID) WriteNetworkID(message, networkId);
                message.WriteStream(body);
                SendMessage(peer, message, playerId);
                request->command &= uint8_t(~kConstruct);
                becomeRemote();
            } else {
                request->command = 0;
            }
        }
    } else if (request->command & kConstructAsCopy) {
        request->command &= uint8_t(~kConstructAsCopy);
        becomeRemote();
    }

    SendDownloadComplete(peer, playerId, clock);

    if (remote() == nullptr || (request = command()) == nullptr) return;
    if ((request->command & (kScopeIn | kScopeOut)) && replica->GetId() != UNASSIGNED_NETWORK_ID) {
        const bool wantIn = (request->command & kScopeIn) != 0;
        if (!allowed(kSendScopeChange)) {
            request->command &= uint8_t(~(kScopeIn | kScopeOut));
            remote()->inScope = wantIn;
        } else if (wantIn != remote()->inScope) {
            BitStream body;
            const ReplicaReturnResult result =
                replica->WriteScopeChange(wantIn, &body, clock.Now(), playerId);
            if ((request = command()) == nullptr || remote() == nullptr) return;
            if (result == REPLICA_DONE) {
                BitStream message;
                message.Write(uint8_t(ID_REPLICA_SCOPE));
                WriteNetworkID(message, replica->GetId());
                message.WriteStream(body);
                SendMessage(peer, message, playerId);
                remote()->inScope = wantIn;
                request->command = uint8_t((request->command | kSerialize) & ~(kScopeIn | kScopeOut));
            } else if (result == REPLICA_PROCESS_LATER) {
                if (!wantIn) return;
            } else {
                request->command &= uint8_t(~(kScopeIn | kScopeOut));
            }
        }
    }

    if ((request = command()) == nullptr || remote() == nullptr) return;
    if (!(request->command & kSerialize) || replica->GetId() == UNASSIGNED_NETWORK_ID) return;
    if (!remote()->inScope || !allowed(kSendState)) {
        request->command &= uint8_t(~kSerialize);
        return;
    }
    // An object that keeps asking to repeat gets the rest of its turn on the next update, so
    // one object can neither stall the update nor fill the send queue without end.
    for (uint32_t sent = 0; sent < kMaxStateMessagesPerUpdate; ++sent) {
        BitStream body;
        bool timestamp = false;
        PacketPriority priority = HIGH_PRIORITY_LEVEL;
        MessageReliability reliability = RELIABILITY_RELIABLE_ORDERED;
        const ReplicaReturnResult result = replica->WriteState(
            &timestamp, &body, remote()->lastSendTime, &priority, &reliability, clock.Now(), playerId);
        if ((request = command()) == nullptr || remote() == nullptr) return;
        if (result == REPLICA_PROCESS_LATER) return;
        if (result != REPLICA_DONE && result != REPLICA_REPEAT) {
            request->command &= uint8_t(~kSerialize);
            return;
        }
        remote()->lastSendTime = clock.Now();
        BitStream message;
        WriteTimestamp(message, timestamp, clock.Now());
        message.Write(uint8_t(ID_REPLICA_STATE));
        WriteNetworkID(message, replica->GetId());
        message.WriteStream(body);
        SendMessage(peer, message, playerId, priority, reliability);
        if (result == REPLICA_DONE) {
            request->command &= uint8_t(~kSerialize);
            return;
        }
    }
}

void ReplicaManager::SendDownloadComplete(NetPeerInterface* peer, PlayerID playerId, UpdateClock& clock) {
    Participant* participant = FindParticipant(playerId);
    if (participant == nullptr || !participant->downloadCompletePending) return;
    for (uint32_t i = 0; i < participant->outgoing.Size(); ++i)
        if (participant->outgoing[i].command & kConstruct) return;
    if (!downloadCompleteSender_) {
        participant->downloadCompletePending = false;
        return;
    }
    BitStream body;
    const ReplicaReturnResult result = downloadCompleteSender_(&body, clock.Now(), playerId, this);
    if ((participant = FindParticipant(playerId)) == nullptr || result == REPLICA_PROCESS_LATER) return;
    if (result == REPLICA_DONE) {
        BitStream message;
        message.Write(uint8_t(ID_REPLICA_DOWNLOAD_DONE));
        message.WriteStream(body);
        SendMessage(peer, message, playerId);
    }
    participant->downloadCompletePending = false;
}

}  // namespace velt
