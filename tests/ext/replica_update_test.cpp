// The send side of the replica manager, on one system: which participants a request reaches,
// how object results steer the requests, and objects that change the manager from inside its
// update. The peer is never started, so what would be sent goes nowhere; the manager's
// bookkeeping and the calls it makes on the objects tell what happened.

#include <gtest/gtest.h>

#include <memory>

#include "net/NetworkFactory.h"
#include "net/ext/ReplicaManager.h"
#include "tests/ext/replica_test_objects.h"

namespace velt {
namespace {

using replicatest::EventLog;
using replicatest::Thing;

const PlayerID P1{0x0100007F, 1001}, P2{0x0100007F, 1002}, P3{0x0100007F, 1003};

class ReplicaUpdate : public ::testing::Test {
protected:
    ReplicaUpdate() {
        for (PlayerID id : {P1, P2, P3}) manager.AddParticipant(id);
    }
    ~ReplicaUpdate() override { DestroyNetPeer(peer); }
    Thing& Make() {
        things.push_back(std::make_unique<Thing>(registry, true, log, int32_t(things.size())));
        things.back()->manager = &manager;
        return *things.back();
    }
    void Update() { manager.Update(peer); }

    NetworkIDRegistry registry;
    EventLog log;
    NetPeerInterface* peer = CreateNetPeer();
    ReplicaManager manager{registry};
    std::vector<std::unique_ptr<Thing>> things;
};

TEST_F(ReplicaUpdate, BroadcastSkipsTheGivenSystemAndADirectRequestReachesOnlyIt) {
    Thing& a = Make();
    Thing& b = Make();
    manager.Construct(&a, false, P2, true);
    manager.Construct(&b, false, P2, false);
    manager.Construct(&b, false, UNASSIGNED_PLAYER_ID, false);  // nobody
    manager.AddParticipant(UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(manager.GetParticipantCount(), 3u);
    Update();
    EXPECT_TRUE(manager.IsConstructedAt(&a, P1));
    EXPECT_FALSE(manager.IsConstructedAt(&a, P2));
    EXPECT_TRUE(manager.IsConstructedAt(&a, P3));
    EXPECT_FALSE(manager.IsConstructedAt(&b, P1));
    EXPECT_TRUE(manager.IsConstructedAt(&b, P2));
    EXPECT_EQ(a.writeConstructionCalls, 2);
    EXPECT_EQ(manager.ReplicaCount(), 2u);
}

TEST_F(ReplicaUpdate, ConstructionLaterIsRetriedAndHoldsBackDownloadComplete) {
    int downloads = 0;
    manager.SetDownloadCompleteHandlers(
        [&](BitStream*, uint32_t, PlayerID, ReplicaManager*) {
            ++downloads;
            return REPLICA_DONE;
        },
        nullptr);
    Thing& a = Make();
    a.constructionResult = REPLICA_PROCESS_LATER;
    manager.Construct(&a, false, P1, false);
    Update();
    Update();
    EXPECT_EQ(a.writeConstructionCalls, 2);
    EXPECT_FALSE(manager.IsConstructedAt(&a, P1));
    EXPECT_EQ(downloads, 0) << "held back while a construction is pending; P2 and P3 have no requests";
    a.constructionResult = REPLICA_DONE;
    Update();
    Update();
    EXPECT_TRUE(manager.IsConstructedAt(&a, P1));
    EXPECT_EQ(downloads, 1);

    Thing& b = Make();
    b.constructionResult = REPLICA_CANCEL_PROCESS;
    manager.Construct(&b, false, P2, false);
    Update();
    Update();
    EXPECT_FALSE(manager.IsConstructedAt(&b, P2));
    EXPECT_EQ(b.writeConstructionCalls, 1) << "a cancelled request is dropped";
}

TEST_F(ReplicaUpdate, StateWaitsForScopeAndAScopeInSendsOne) {
    Thing& a = Make();
    manager.Construct(&a, false, P1, false);
    manager.SignalSerializeNeeded(&a, P1, false);
    Update();
    EXPECT_TRUE(manager.IsConstructedAt(&a, P1));
    EXPECT_FALSE(manager.IsInScopeAt(&a, P1));
    EXPECT_EQ(a.writeStateCalls, 0);
    manager.SignalSerializeNeeded(&a, P1, false);
    Update();
    EXPECT_EQ(a.writeStateCalls, 0) << "out of scope: the request is dropped";

    manager.SetScope(&a, true, P1, false);
    Update();
    EXPECT_TRUE(manager.IsInScopeAt(&a, P1));
    EXPECT_EQ(a.writeScopeCalls, 1);
    EXPECT_EQ(a.writeStateCalls, 1);

    a.repeatsLeft = 2;
    manager.SignalSerializeNeeded(&a, P1, false);
    Update();
    EXPECT_EQ(a.writeStateCalls, 4) << "two repeats, then done";
    a.stateResult = REPLICA_PROCESS_LATER;
    manager.SignalSerializeNeeded(&a, P1, false);
    Update();
    Update();
    EXPECT_EQ(a.writeStateCalls, 6) << "kept and asked again";
    a.stateResult = REPLICA_REPEAT;  // never done: each update sends a bounded run
    Update();
    EXPECT_EQ(a.writeStateCalls, 6 + int(ReplicaManager::kMaxStateMessagesPerUpdate));
    Update();
    EXPECT_EQ(a.writeStateCalls, 6 + 2 * int(ReplicaManager::kMaxStateMessagesPerUpdate));
}

TEST_F(ReplicaUpdate, InitialScopeInLetsStateFlowAtOnce) {
    manager.SetInitialScope(true);
    Thing& a = Make();
    manager.Construct(&a, false, P3, false);
    manager.SignalSerializeNeeded(&a, P3, false);
    Update();
    EXPECT_TRUE(manager.IsInScopeAt(&a, P3));
    EXPECT_EQ(a.writeScopeCalls, 0);
    EXPECT_EQ(a.writeStateCalls, 1);
}

TEST_F(ReplicaUpdate, DestructUnregistersOnlyWhenNobodyElseHoldsTheObject) {
    Thing& a = Make();
    manager.Construct(&a, false, UNASSIGNED_PLAYER_ID, true);
    Update();
    manager.Destruct(&a, P1, false);
    EXPECT_FALSE(manager.IsConstructedAt(&a, P1));
    EXPECT_TRUE(manager.IsConstructedAt(&a, P2));
    EXPECT_EQ(manager.ReplicaCount(), 1u);
    manager.Destruct(&a, P1, true);
    EXPECT_EQ(manager.ReplicaCount(), 0u);

    Thing& pending = Make();
    manager.Construct(&pending, false, P3, false);  // a request, not yet constructed
    manager.Destruct(&pending, P1, false);
    EXPECT_EQ(manager.ReplicaCount(), 1u) << "P3 still has a request for it";
}

TEST_F(ReplicaUpdate, OperationFlagsAndCopies) {
    Thing& silent = Make();
    manager.DenyOperations(&silent, ReplicaManager::kSendConstruction | ReplicaManager::kSendScopeChange);
    manager.Construct(&silent, false, P1, false);
    Update();
    EXPECT_FALSE(manager.IsConstructedAt(&silent, P1));
    EXPECT_EQ(silent.writeConstructionCalls, 0);

    manager.Construct(&silent, true, P2, false);
    manager.SetScope(&silent, true, P2, false);
    Update();
    EXPECT_TRUE(manager.IsConstructedAt(&silent, P2)) << "a copy needs no message";
    EXPECT_TRUE(manager.IsInScopeAt(&silent, P2)) << "scope is set without a message";
    EXPECT_EQ(silent.writeScopeCalls, 0);

    manager.AllowOperations(&silent, ReplicaManager::kSendScopeChange);
    manager.SetScope(&silent, false, P2, false);
    Update();
    EXPECT_EQ(silent.writeScopeCalls, 1);
    EXPECT_FALSE(manager.IsInScopeAt(&silent, P2));
}

TEST_F(ReplicaUpdate, AutoConstructAndRemovedParticipants) {
    manager.SetAutoConstruct(true);
    Thing& a = Make();
    Thing& b = Make();
    manager.Register(&a);
    manager.Register(&b);
    const PlayerID late{0x0100007F, 2000};
    manager.AddParticipant(late);
    Update();
    EXPECT_TRUE(manager.IsConstructedAt(&a, late));
    EXPECT_TRUE(manager.IsConstructedAt(&b, late));
    EXPECT_FALSE(manager.IsConstructedAt(&a, P1));
    manager.RemoveParticipant(late);
    EXPECT_FALSE(manager.IsConstructedAt(&a, late));
    manager.Unregister(&a);
    EXPECT_EQ(manager.ReplicaCount(), 1u);
}

// Objects may change the manager from inside its update: nothing they remove is touched again.
TEST_F(ReplicaUpdate, ObjectsThatChangeTheManagerDuringUpdate) {
    Thing& leaving = Make();
    Thing& dropping = Make();
    Thing& plain = Make();
    leaving.unregisterInWriteState = true;
    dropping.removeParticipantInWriteState = true;
    manager.SetInitialScope(true);
    for (Thing* thing : {&leaving, &dropping, &plain}) {
        manager.Construct(thing, false, UNASSIGNED_PLAYER_ID, true);
        manager.SignalSerializeNeeded(thing, UNASSIGNED_PLAYER_ID, true);
    }
    manager.SetDownloadCompleteHandlers(
        [](BitStream*, uint32_t, PlayerID participant, ReplicaManager* m) {
            m->RemoveParticipant(participant == P3 ? P3 : UNASSIGNED_PLAYER_ID);
            return REPLICA_DONE;
        },
        nullptr);
    Update();
    Update();
    EXPECT_EQ(manager.ReplicaCount(), 2u) << "leaving unregistered itself";
    EXPECT_FALSE(manager.IsConstructedAt(&leaving, P1));
    EXPECT_LE(manager.GetParticipantCount(), 2u);
}

}  // namespace
}  // namespace velt
