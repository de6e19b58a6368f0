#pragma once
// The replica manager plugin: keeps registered objects in step on the systems that take part
// (participants). Requests to construct, destroy, change the scope of, or re-send the state of
// an object are recorded per participant and object; each Update asks the objects to write
// the messages that are due and sends them. Received messages go to the object their
// identifier names, or to the application's handlers, or wait while the object is not ready.
//
// Everything runs on the thread that calls the peer's receive: object operations and handlers
// may call back into the manager.

#include <cstdint>
#include <functional>
#include <vector>

#include "net/NetPeerInterface.h"
#include "net/OrderedList.h"
#include "net/PlayerID.h"
#include "net/PluginInterface.h"
#include "net/Queue.h"
#include "net/ext/ClosedConnectionInbox.h"
#include "net/ext/NetworkIDGenerator.h"
#include "net/ext/Replica.h"

namespace velt {

class ReplicaManager : public PluginInterface {
public:
    // Operation flags of a registered object: what it accepts and what it sends.
    static constexpr uint8_t kAcceptDestruction = 0x01;
    static constexpr uint8_t kAcceptState = 0x02;
    static constexpr uint8_t kAcceptScopeChange = 0x04;
    static constexpr uint8_t kSendConstruction = 0x08;
    static constexpr uint8_t kSendDestruction = 0x10;
    static constexpr uint8_t kSendScopeChange = 0x20;
    static constexpr uint8_t kSendState = 0x40;
    static constexpr uint8_t kAllOperations = 0xFF;

    // Received messages one participant may have waiting for their objects. Beyond either
    // bound a further message is dropped.
    static constexpr uint32_t kMaxDeferredMessages = 256;
    static constexpr uint32_t kMaxDeferredBytes = 1u << 20;
    // State messages one object may send to one participant in one update by asking to repeat.
    static constexpr uint32_t kMaxStateMessagesPerUpdate = 64;

    using ConstructionHandler = std::function<ReplicaReturnResult(
        BitStream* in, uint32_t timestamp, NetworkID networkId, PlayerID sender, ReplicaManager* manager)>;
    using DownloadCompleteSender = std::function<ReplicaReturnResult(
        BitStream* out, uint32_t currentTime, PlayerID participant, ReplicaManager* manager)>;
    using DownloadCompleteReceiver =
        std::function<ReplicaReturnResult(BitStream* in, PlayerID sender, ReplicaManager* manager)>;

    // Messages dropped, by reason.
    struct Statistics {
        uint32_t malformedMessages = 0;      // too short for their identifier fields
        uint32_t fromNonParticipants = 0;    // sender is not a participant
        uint32_t deferredQueueOverflow = 0;  // had to wait, and the sender's queue was full
    };

    // Objects are looked up by identifier in registry, the program's one unless given.
    explicit ReplicaManager(NetworkIDRegistry& registry = ProcessNetworkIDRegistry()) : registry_(registry) {}
    ~ReplicaManager() override;
    ReplicaManager(const ReplicaManager&) = delete;
    ReplicaManager& operator=(const ReplicaManager&) = delete;

    // ---- settings --------------------------------------------------------------------------
    // Every newly connected system becomes a participant.
    void SetAutoParticipate(bool autoParticipate) { autoParticipate_ = autoParticipate; }
    // The scope an object has on a participant right after its construction there.
    void SetInitialScope(bool inScope) { initialScope_ = inScope; }
    // A new participant gets a construction request for every registered object.
    void SetAutoConstruct(bool autoConstruct) { autoConstruct_ = autoConstruct; }
    void SetOrderingChannel(uint8_t channel) { orderingChannel_ = channel; }
    void SetConstructionHandler(ConstructionHandler handler) { constructionHandler_ = std::move(handler); }
    void SetDownloadCompleteHandlers(DownloadCompleteSender sender, DownloadCompleteReceiver receiver) {
        downloadCompleteSender_ = std::move(sender);
        downloadCompleteReceiver_ = std::move(receiver);
    }

    // ---- participants ----------------------------------------------------------------------
    // Nothing for UNASSIGNED_PLAYER_ID or a participant already there.
    void AddParticipant(PlayerID playerId);
    // Drops the participant with its requests, remote objects and waiting messages.
    void RemoveParticipant(PlayerID playerId);

    // ---- requests (broadcast: every participant but playerId; else playerId alone) ------------
    // asCopy: the object exists there already; no message is sent.
    void Construct(Replica* replica, bool asCopy, PlayerID playerId, bool broadcast);
    // At once: sends the destruction message (when the object is named and may send it) and
    // forgets the object on the addressed participants; unregisters it when no participant
    // holds it any more.
    void Destruct(Replica* replica, PlayerID playerId, bool broadcast);
    void SetScope(Replica* replica, bool inScope, PlayerID playerId, bool broadcast);
    void SignalSerializeNeeded(Replica* replica, PlayerID playerId, bool broadcast);

    // ---- registration ----------------------------------------------------------------------
    // Objects must be unregistered (or destroyed through Destruct) before they are deleted.
    void Register(Replica* replica);
    void Unregister(Replica* replica);
    void AllowOperations(Replica* replica, uint8_t operations);
    void DenyOperations(Replica* replica, uint8_t operations);

    bool IsConstructedAt(const Replica* replica, PlayerID playerId) const;
    bool IsInScopeAt(const Replica* replica, PlayerID playerId) const;
    uint32_t ReplicaCount() const { return replicas_.Size(); }
    Replica* ReplicaAt(uint32_t index) const {
        return index < replicas_.Size() ? replicas_[index].replica : nullptr;
    }
    uint32_t GetParticipantCount() const { return participants_.Size(); }
    // Older name of ReplicaCount.
    uint32_t GetObjectCount() const { return ReplicaCount(); }
    const Statistics& GetStatistics() const { return statistics_; }

    // Forgets every participant (with its waiting messages) and every registration.
    void Clear();

    // ---- plugin --------------------------------------------------------------------------------
    void Attached(NetPeerInterface* peer) override { peer_ = peer; }
    void Detached(NetPeerInterface* peer) override;
    // Sends every message that is due, then applies the messages that were waiting.
    void Update(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;
    void Disconnecting(NetPeerInterface* peer) override;
    void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) override;

private:
    struct RegisteredReplica {
        Replica* replica;
        uint32_t lastReadTime;
        uint8_t allowed;
    };
    struct ReplicaCommand {
        Replica* replica;
        uint8_t command;
    };
    struct RemoteObject {
        Replica* replica;
        bool inScope;
        uint32_t lastSendTime;
    };
    struct ReceivedCommand {
        PlayerID sender;
        NetworkID networkId;
        uint8_t messageId;
        uint32_t timestamp;
        std::vector<uint8_t> payload;  // the rest of the message, from its first bit
        uint32_t payloadBits;
    };
    using ObjectKey = uintptr_t;
    static ObjectKey KeyOf(const Replica* replica);
    static int CompareRegistered(const ObjectKey& key, const RegisteredReplica& entry);
    static int CompareCommand(const ObjectKey& key, const ReplicaCommand& entry);
    static int CompareRemote(const ObjectKey& key, const RemoteObject& entry);

    struct Participant {
        PlayerID playerId;
        bool downloadCompletePending = true;
        DataStructures::OrderedList<ObjectKey, ReplicaCommand, CompareCommand> outgoing;
        DataStructures::OrderedList<ObjectKey, RemoteObject, CompareRemote> remoteObjects;
        DataStructures::Queue<ReceivedCommand*> deferred;
        uint32_t deferredBytes = 0;
        ~Participant();
    };
    static int CompareParticipant(const PlayerID& key, Participant* const& entry);

    // Lazily read, then fixed for one update.
    struct UpdateClock {
        bool read = false;
        uint32_t now = 0;
        uint32_t Now();
    };

    Participant* FindParticipant(PlayerID playerId) const;
    RegisteredReplica* FindRegistered(ObjectKey key);
    const RegisteredReplica* FindRegistered(ObjectKey key) const;
    static ReplicaCommand* FindCommand(Participant* participant, ObjectKey key);
    static RemoteObject* FindRemote(Participant* participant, ObjectKey key);
    std::vector<PlayerID> Addressed(PlayerID playerId, bool broadcast) const;
    // Adds a request with flags set (and clear cleared) on every addressed participant.
    void Request(Replica* replica, PlayerID playerId, bool broadcast, uint8_t set, uint8_t clear);

    void UpdateParticipant(NetPeerInterface* peer, PlayerID playerId, UpdateClock& clock);
    void ProcessRequest(NetPeerInterface* peer, PlayerID playerId, Replica* replica, UpdateClock& clock);
    void SendDownloadComplete(NetPeerInterface* peer, PlayerID playerId, UpdateClock& clock);
    void ProcessDeferred(PlayerID playerId);
    void Defer(Participant* participant, ReceivedCommand* command);
    ReplicaReturnResult Apply(const ReceivedCommand& command);

    void SendMessage(NetPeerInterface* peer, const BitStream& message, PlayerID target,
                     PacketPriority priority = HIGH_PRIORITY_LEVEL,
                     MessageReliability reliability = RELIABILITY_RELIABLE_ORDERED) const;

    NetworkIDRegistry& registry_;
    DataStructures::OrderedList<ObjectKey, RegisteredReplica, CompareRegistered> replicas_;
    DataStructures::OrderedList<PlayerID, Participant*, CompareParticipant> participants_;
    ConstructionHandler constructionHandler_;
    DownloadCompleteSender downloadCompleteSender_;
    DownloadCompleteReceiver downloadCompleteReceiver_;
    uint8_t orderingChannel_ = 0;
    bool autoParticipate_ = false;
    bool initialScope_ = false;
    bool autoConstruct_ = false;
    NetPeerInterface* peer_ = nullptr;
    ClosedConnectionInbox closed_;
    Statistics statistics_;
};

}  // namespace velt
