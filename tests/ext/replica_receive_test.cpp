// The receive side of the replica manager, fed crafted packets: who may send, what a message
// may name, messages that wait for their object, and the bound on what waits.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "net/NetworkFactory.h"
#include "net/Packet.h"
#include "net/ext/ReplicaManager.h"
#include "net/ext/ReplicaWire.h"
#include "tests/ext/replica_test_objects.h"

namespace velt {
namespace {

using replicatest::EventLog;
using replicatest::Thing;

const PlayerID kAuthority{0x0100007F, 5000};
const PlayerID kStranger{0x0200007F, 5000};

// A received message of exactly bits bits.
struct Message {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
};

Message Build(uint8_t id, NetworkID target, int32_t value, bool withValue = true) {
    BitStream out;
    out.Write(id);
    if (id == ID_REPLICA_CONSTRUCT) {
        out.Write(target != UNASSIGNED_NETWORK_ID);
        if (target != UNASSIGNED_NETWORK_ID) WriteNetworkID(out, target);
    } else if (id != ID_REPLICA_DOWNLOAD_DONE) {
        WriteNetworkID(out, target);
    }
    if (withValue && id == ID_REPLICA_SCOPE)
        out.Write(true);
    else if (withValue)
        out.Write(value);
    return Message{std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed()),
                   uint32_t(out.GetNumberOfBitsUsed())};
}

NetworkID Id(uint16_t index) { return NetworkID{UNASSIGNED_PLAYER_ID, index}; }

class ReplicaReceive : public ::testing::Test {
protected:
    ReplicaReceive() {
        manager.AddParticipant(kAuthority);
        manager.SetConstructionHandler(
            [this](BitStream* in, uint32_t, NetworkID id, PlayerID, ReplicaManager* m) {
                ++constructionCalls;
                if (constructionResult != REPLICA_DONE) return constructionResult;
                int32_t value = 0;
                if (!in->Read(value)) return REPLICA_CANCEL_PROCESS;
                things.push_back(std::make_unique<Thing>(registry, false, log, value));
                things.back()->SetId(id);
                things.back()->manager = m;
                m->Register(things.back().get());
                log.Add(things.back()->Name() + " create " + std::to_string(value));
                return REPLICA_DONE;
            });
    }
    ~ReplicaReceive() override { DestroyNetPeer(peer); }
    PluginReceiveResult Deliver(const Message& message, PlayerID sender = kAuthority) {
        Packet* packet = NewPacket(uint32_t(message.bytes.size()));
        if (!message.bytes.empty()) std::memcpy(packet->data, message.bytes.data(), message.bytes.size());
        packet->bitLength = message.bits;
        packet->sender = sender;
        const PluginReceiveResult result = manager.Received(nullptr, packet);
        FreePacket(packet);
        return result;
    }

    NetworkIDRegistry registry;
    EventLog log;
    ReplicaManager manager{registry};
    NetPeerInterface* peer = CreateNetPeer();  // never started: Update has nothing to send anyway
    std::vector<std::unique_ptr<Thing>> things;
    ReplicaReturnResult constructionResult = REPLICA_DONE;
    int constructionCalls = 0;
};

TEST_F(ReplicaReceive, StrangersAndCutMessagesAreDroppedWhole) {
    EXPECT_EQ(Deliver(Build(ID_REPLICA_CONSTRUCT, Id(1), 5), kStranger), PRR_DEALLOCATE);
    EXPECT_EQ(manager.GetStatistics().fromNonParticipants, 1u);
    EXPECT_EQ(constructionCalls, 0);

    uint32_t malformed = 0;
    for (uint8_t id : {ID_REPLICA_CONSTRUCT, ID_REPLICA_DESTRUCT, ID_REPLICA_SCOPE, ID_REPLICA_STATE}) {
        const Message whole = Build(id, Id(1), 0, false);
        // Every cut inside the identifier fields; the bit that follows the id byte of a
        // construction message is one of them.
        for (uint32_t bits = 0; bits < whole.bits; ++bits) {
            Message cut{std::vector<uint8_t>(whole.bytes.begin(), whole.bytes.begin() + (bits + 7) / 8),
                        bits};
            EXPECT_EQ(Deliver(cut), bits == 0 ? PRR_CONTINUE : PRR_DEALLOCATE)
                << int(id) << " cut at " << bits;
            if (bits != 0) ++malformed;
        }
    }
    EXPECT_EQ(manager.GetStatistics().malformedMessages, malformed);
    EXPECT_EQ(constructionCalls, 0);
    EXPECT_TRUE(log.Snapshot().empty());
}

TEST_F(ReplicaReceive, OnlyRegisteredObjectsOfThisManagerAreCalled) {
    class Plain : public NetworkIDGenerator {
    public:
        using NetworkIDGenerator::NetworkIDGenerator;
        bool IsNetworkIDAuthority() const override { return false; }
    };
    Plain other(registry);  // found by identifier, not a replicated object at all
    other.SetId(Id(5));
    ReplicaManager elsewhere(registry);
    Thing foreign(registry, false, log);  // registered with another manager
    foreign.SetId(Id(6));
    elsewhere.Register(&foreign);
    Thing mine(registry, false, log);
    mine.SetId(Id(7));
    manager.Register(&mine);

    for (uint16_t index : {5, 6, 7, 8})
        for (uint8_t id : {ID_REPLICA_STATE, ID_REPLICA_SCOPE, ID_REPLICA_DESTRUCT})
            EXPECT_EQ(Deliver(Build(id, Id(index), 3)), PRR_DEALLOCATE);
    EXPECT_EQ(log.Snapshot(), (std::vector<std::string>{"obj7 state 3", "obj7 scope in", "obj7 destroy"}));
    // A construction for an identifier that is taken never reaches the handler.
    Deliver(Build(ID_REPLICA_CONSTRUCT, Id(5), 1));
    EXPECT_EQ(constructionCalls, 0);

    manager.DenyOperations(&mine, ReplicaManager::kAcceptState);
    Deliver(Build(ID_REPLICA_STATE, Id(7), 4));
    EXPECT_EQ(mine.value, 3) << "state refused by the operation flags";
}

TEST_F(ReplicaReceive, WaitingMessagesKeepArrivalOrder) {
    constructionResult = REPLICA_PROCESS_LATER;
    Deliver(Build(ID_REPLICA_CONSTRUCT, Id(3), 30));
    Deliver(Build(ID_REPLICA_STATE, Id(3), 31));  // would be dropped if applied before its object
    Deliver(Build(ID_REPLICA_STATE, Id(3), 32));
    EXPECT_EQ(constructionCalls, 1) << "later messages wait behind the first";
    manager.Update(peer);
    EXPECT_EQ(constructionCalls, 2) << "the head is tried again on each update";
    EXPECT_TRUE(log.Snapshot().empty());

    constructionResult = REPLICA_DONE;
    manager.Update(peer);
    EXPECT_EQ(log.Snapshot(), (std::vector<std::string>{"obj3 create 30", "obj3 state 31", "obj3 state 32"}));
    ASSERT_EQ(things.size(), 1u);
    const std::vector<uint32_t>& times = things[0]->lastReadTimes;
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0], 0u) << "no state was accepted before";

    // With nothing waiting, a message is applied as it arrives; one for an unknown object is
    // dropped rather than kept.
    Deliver(Build(ID_REPLICA_STATE, Id(3), 33));
    Deliver(Build(ID_REPLICA_STATE, Id(99), 1));
    EXPECT_EQ(things[0]->value, 33);
    manager.Update(peer);
    EXPECT_EQ(log.Count("obj"), 4u);
}

TEST_F(ReplicaReceive, WaitingQueueIsBoundedInCountAndBytes) {
    constructionResult = REPLICA_PROCESS_LATER;
    for (int i = 0; i < 300; ++i) Deliver(Build(ID_REPLICA_CONSTRUCT, UNASSIGNED_NETWORK_ID, i));
    EXPECT_EQ(manager.GetStatistics().deferredQueueOverflow, 300u - ReplicaManager::kMaxDeferredMessages);
    EXPECT_EQ(constructionCalls, 1);
    manager.RemoveParticipant(kAuthority);  // frees what waits

    manager.AddParticipant(kAuthority);
    const uint32_t overflowBefore = manager.GetStatistics().deferredQueueOverflow;
    BitStream big;
    big.Write(uint8_t(ID_REPLICA_CONSTRUCT));
    big.Write(false);
    std::vector<uint8_t> payload(8000, 0x5A);
    big.WriteBytes(payload.data(), int32_t(payload.size()));
    const Message message{std::vector<uint8_t>(big.GetData(), big.GetData() + big.GetNumberOfBytesUsed()),
                          uint32_t(big.GetNumberOfBitsUsed())};
    for (int i = 0; i < 300; ++i) Deliver(message);
    const uint32_t kept = ReplicaManager::kMaxDeferredBytes / 8000;
    EXPECT_EQ(manager.GetStatistics().deferredQueueOverflow - overflowBefore, 300u - kept);
}

TEST_F(ReplicaReceive, NoticesAndOtherMessages) {
    const uint8_t shortTimestamped[] = {ID_TIMESTAMPED, 1, 2, 3, 4};
    EXPECT_EQ(Deliver(Message{std::vector<uint8_t>(shortTimestamped, shortTimestamped + 5), 40}),
              PRR_DEALLOCATE);
    EXPECT_EQ(Deliver(Build(ID_REPLICA_DOWNLOAD_DONE, UNASSIGNED_NETWORK_ID, 0)), PRR_DEALLOCATE)
        << "consumed even without a receiver";
    EXPECT_EQ(Deliver(Message{{200, 1, 2}, 24}), PRR_CONTINUE);

    // A timestamped state message hands its time to the object.
    Thing mine(registry, false, log);
    mine.SetId(Id(2));
    manager.Register(&mine);
    Message stamped = Build(ID_REPLICA_STATE, Id(2), 9);
    const uint8_t prefix[] = {ID_TIMESTAMPED, 0x78, 0x56, 0x34, 0x12};
    stamped.bytes.insert(stamped.bytes.begin(), prefix, prefix + 5);
    stamped.bits += 40;
    EXPECT_EQ(Deliver(stamped), PRR_DEALLOCATE);
    EXPECT_EQ(mine.lastTimestamp, 0x12345678u);
    EXPECT_EQ(mine.value, 9);

    manager.SetAutoParticipate(true);
    const PlayerID newcomer{0x0300007F, 6000};
    for (uint8_t id : {ID_CONN_HANDSHAKE_DONE, ID_CONN_ACCEPTED}) {
        EXPECT_EQ(Deliver(Message{{id}, 8}, newcomer), PRR_CONTINUE);
        EXPECT_EQ(manager.GetParticipantCount(), 2u);
    }
    EXPECT_EQ(Deliver(Message{{ID_CONN_LOST}, 8}, newcomer), PRR_CONTINUE);
    EXPECT_EQ(manager.GetParticipantCount(), 1u);
    manager.ConnectionClosed(nullptr, kAuthority);  // as from the network thread
    EXPECT_EQ(manager.GetParticipantCount(), 1u) << "acted on at the next update";
    manager.Update(peer);
    EXPECT_EQ(manager.GetParticipantCount(), 0u);
}

}  // namespace
}  // namespace velt
