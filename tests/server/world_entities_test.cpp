// Global 3D text labels, pickups and actors: their pools, the messages they write, their steps of
// the streaming pass, and the two client reports about them (a pickup walked into, an actor hurt).

#include <set>
#include <string>
#include <vector>

#include "net/StringCompressor.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

struct DecodedLabel {
    uint16_t id = 0;
    uint32_t colour = 0;
    float x = 0, y = 0, z = 0, drawDistance = 0;
    uint8_t testLOS = 0;
    uint16_t attachedPlayer = 0, attachedVehicle = 0;
    std::string text;
};

DecodedLabel DecodeLabel(const FakeNetServer::Message& m) {
    Reader r(m);
    DecodedLabel l;
    l.id = r.Get<uint16_t>();
    l.colour = r.Get<uint32_t>();
    l.x = r.Get<float>();
    l.y = r.Get<float>();
    l.z = r.Get<float>();
    l.drawDistance = r.Get<float>();
    l.testLOS = r.Get<uint8_t>();
    l.attachedPlayer = r.Get<uint16_t>();
    l.attachedVehicle = r.Get<uint16_t>();
    std::vector<char> text(70000);
    EXPECT_TRUE(StringCompressor::Instance()->DecodeString(text.data(), int32_t(text.size()), r.bs));
    l.text = text.data();
    EXPECT_LT(r.Left(), 8);
    return l;
}

class WorldEntitiesTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        settings_.streamDistance = 100.0f;
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
        StartProtocol();
        // No map-marker packet may slip in between the messages these tests read.
        game_->world.playerMarkerMode = 0;
    }

    TextLabelPool& labels() { return *game_->GetTextLabelPool(); }
    PickupPool& pickups() { return *game_->GetPickupPool(); }
    ActorPool& actors() { return *game_->GetActorPool(); }

    // The world's messages sent since the last clear, in order, as "rpc>slot" (rpc ids 36 label,
    // 58 label gone, 95 pickup, 63 pickup gone, 171 actor, 172 actor gone, 173 animation, ...).
    std::vector<std::string> WorldRpcs() const {
        static const std::set<uint8_t> kWorld = {
            RPC_TextLabelCreate, RPC_TextLabelDelete, RPC_PickupCreate,        RPC_PickupDestroy,
            RPC_ActorStreamIn,   RPC_ActorStreamOut,  RPC_ActorAnimationApply, RPC_ActorAnimationClear,
            RPC_ActorHealthSet,  RPC_ActorPosSet};
        std::vector<std::string> out;
        for (const FakeNetServer::Message& m : net_->sent) {
            if (!m.isRpc || kWorld.count(m.rpcId) == 0) continue;
            EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
            EXPECT_EQ(m.channel, 2);
            out.push_back(std::to_string(m.rpcId) + ">" +
                          std::to_string(net_->GetIndexFromPlayerID(m.target)));
        }
        return out;
    }
    void Clear() {
        net_->sent.clear();
        scripts_.Clear();
    }
    void MoveTo(uint16_t id, float x, float y, float z = 10.0f) {
        player(id)->UpdatePosition(x, y, z, false);
        player(id)->StreamingPass();
    }
};

using Seq = std::vector<std::string>;

// ---- labels ---------------------------------------------------------------------------------------

TEST_F(WorldEntitiesTest, LabelShowsAtOnceToPlayersInPlayWithinItsDrawDistance) {
    JoinAt(0, "Near", 0.0f, 30.0f, 10.0f);
    JoinAt(1, "Far", 0.0f, 30.5f, 10.0f);
    Join(2, "NoState");
    JoinAt(3, "Watching", 0.0f, 0.0f, 10.0f);
    player(3)->SetState(PLAYER_STATE_SPECTATING);
    JoinAt(4, "OtherWorld", 1.0f, 1.0f, 10.0f);
    pool()->SetVirtualWorld(4, 5);
    Clear();

    const uint16_t id = labels().Create("{FF0000}Hello", 0x11223344, {0.0f, 0.0f, 10.0f}, 30.0f, 0, 1);
    ASSERT_EQ(id, 0);
    // The world is left to the player's next pass, which takes it out again.
    EXPECT_EQ(WorldRpcs(), (Seq{"36>0", "36>4"}));
    const DecodedLabel l = DecodeLabel(RpcsTo(0, RPC_TextLabelCreate).at(0));
    EXPECT_EQ(l.id, 0);
    EXPECT_EQ(l.colour, 0x11223344u);
    EXPECT_EQ((std::vector<float>{l.x, l.y, l.z, l.drawDistance}),
              (std::vector<float>{0.0f, 0.0f, 10.0f, 30.0f}));
    EXPECT_EQ(l.testLOS, 1);
    EXPECT_EQ(l.attachedPlayer, 0xFFFF);
    EXPECT_EQ(l.attachedVehicle, 0xFFFF);
    EXPECT_EQ(l.text, "{FF0000}Hello");
    Clear();
    player(4)->StreamingPass();
    EXPECT_EQ(WorldRpcs(), (Seq{"58>4"}));
}

TEST_F(WorldEntitiesTest, LabelIdsAreReusedAndThe1025thIsRefused) {
    for (int i = 0; i < kMaxLabels; ++i) ASSERT_EQ(labels().Create("", 0, {}, 10.0f, 0, 0), i);
    EXPECT_EQ(labels().Create("x", 0, {}, 10.0f, 0, 0), kNoLabel);
    EXPECT_EQ(labels().Delete(5), 1);
    EXPECT_EQ(labels().Delete(5), 0);
    EXPECT_EQ(labels().Delete(1024), 0);
    EXPECT_EQ(labels().Create("again", 0, {}, 10.0f, 0, 0), 5);
}

TEST_F(WorldEntitiesTest, LabelTextsOfAnyLengthTravelWholeUpToWhatTheLengthFieldCarries) {
    JoinAt(0, "Reader", 0.0f, 0.0f);
    std::string every;
    for (int c = 1; c < 256; ++c) every.push_back(char(c));
    std::string prose;
    while (prose.size() < 6000) prose += "the quick brown fox jumps over the lazy dog ";
    struct Case {
        const char* what;
        std::string text;
        bool whole;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"every byte value", every, true},
        {"6000 characters of prose", prose, true},
        // Its code would overflow the 16-bit bit count: the longest prefix that fits travels.
        {"20000 rare bytes", std::string(20000, '\x01'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        const uint16_t id = labels().Create(c.text.c_str(), 0, {0.0f, 0.0f, 10.0f}, 5.0f, 0, 0);
        EXPECT_EQ(labels().Get(id)->text.size(), c.text.size());  // kept whole
        auto sent = RpcsTo(0, RPC_TextLabelCreate);
        ASSERT_EQ(sent.size(), 1u);
        const std::string got = DecodeLabel(sent[0]).text;
        EXPECT_TRUE(c.whole ? got == c.text : (got.size() > 1000 && c.text.compare(0, got.size(), got) == 0))
            << got.size() << " of " << c.text.size();
        labels().Delete(id);
    }
}

TEST_F(WorldEntitiesTest, DeleteAndUpdateReachExactlyThePlayersWhoHaveTheLabel) {
    JoinAt(0, "Holder", 0.0f, 0.0f);
    JoinAt(1, "Away", 500.0f, 0.0f);
    const uint16_t id = labels().Create("old", 0x01020304, {0.0f, 0.0f, 10.0f}, 20.0f, 0, 0);
    Clear();

    labels().UpdateText(id, 0xAABBCCDD, "new text");
    EXPECT_EQ(WorldRpcs(), (Seq{"58>0", "36>0"}));
    const DecodedLabel l = DecodeLabel(RpcsTo(0, RPC_TextLabelCreate).at(0));
    EXPECT_EQ(l.text, "new text");
    EXPECT_EQ(l.colour, 0xAABBCCDDu);

    Clear();
    labels().UpdateText(7, 0, "nobody");  // not in use
    EXPECT_EQ(labels().Delete(id), 1);
    EXPECT_EQ(WorldRpcs(), (Seq{"58>0"}));
    EXPECT_FALSE(player(0)->IsLabelStreamedIn(id));
    EXPECT_EQ(labels().Create("reused", 0, {900.0f, 0.0f, 0.0f}, 1.0f, 0, 0), id);
}

TEST_F(WorldEntitiesTest, AFreeLabelIsSeenInItsWorldWithinItsDrawDistanceInThreeDimensions) {
    JoinAt(0, "Viewer", 500.0f, 500.0f);
    const uint16_t id = labels().Create("here", 0, {0.0f, 0.0f, 0.0f}, 30.0f, 2, 0);
    struct Case {
        const char* what;
        float x, y, z;
        int32_t world;
        bool shown;
    };
    const Case cases[] = {
        {"straight above at the draw distance", 0.0f, 0.0f, 30.0f, 2, true},
        {"higher than the draw distance", 0.0f, 0.0f, 30.01f, 2, false},
        {"in another world", 0.0f, 0.0f, 1.0f, 0, false},
        {"aside, inside", 18.0f, 24.0f, 0.0f, 2, true},
        {"aside, outside", 18.0f, 24.1f, 0.0f, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pool()->SetVirtualWorld(0, c.world);
        MoveTo(0, c.x, c.y, c.z);
        EXPECT_EQ(player(0)->IsLabelStreamedIn(id), c.shown);
    }
}

TEST_F(WorldEntitiesTest, AnAttachedLabelFollowsWhatItIsAttachedTo) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    JoinAt(1, "Carrier", 50.0f, 0.0f);
    JoinAt(2, "FarAway", 900.0f, 900.0f);
    const uint16_t vehicle = game_->GetVehiclePool()->New(411, {0.0f, 0.0f, 10.0f}, 0.0f, 1, 1, -1);
    // Far from everybody where it stands.
    const uint16_t id = labels().Create("tag", 0, {5000.0f, 5000.0f, 0.0f}, 10.0f, 0, 0);
    player(0)->StreamingPass();
    ASSERT_TRUE(player(0)->IsPlayerStreamedIn(1));
    ASSERT_FALSE(player(0)->IsLabelStreamedIn(id));

    EXPECT_EQ(labels().AttachToPlayer(id, 3, {0.0f, 0.0f, 1.0f}), 0);  // not connected
    EXPECT_EQ(labels().AttachToPlayer(id, 1000, {}), 0);
    EXPECT_EQ(labels().AttachToVehicle(id, 1999, {}), 0);  // no such vehicle
    EXPECT_EQ(labels().AttachToPlayer(9, 1, {}), 0);       // no such label
    EXPECT_EQ(labels().Get(id)->attachedPlayer, kLabelNotAttached);

    Clear();
    EXPECT_EQ(labels().AttachToPlayer(id, 1, {0.0f, 0.0f, 1.5f}), 1);
    EXPECT_TRUE(WorldRpcs().empty());  // nobody had it to be told again
    for (uint16_t viewer : {0, 1, 2}) player(viewer)->StreamingPass();
    // Shown where the carrier is streamed in, never to the carrier himself.
    EXPECT_EQ(WorldRpcs(), (Seq{"36>0"}));
    EXPECT_EQ(DecodeLabel(RpcsTo(0, RPC_TextLabelCreate).at(0)).attachedPlayer, 1);

    // A vehicle attachment besides keeps the player's, which still decides; both are sent again.
    Clear();
    EXPECT_EQ(labels().AttachToVehicle(id, vehicle, {0.0f, 0.0f, 2.0f}), 1);
    EXPECT_EQ(WorldRpcs(), (Seq{"58>0", "36>0"}));
    const DecodedLabel l = DecodeLabel(RpcsTo(0, RPC_TextLabelCreate).at(0));
    EXPECT_EQ((std::vector<uint32_t>{l.attachedPlayer, l.attachedVehicle}),
              (std::vector<uint32_t>{1, vehicle}));
    EXPECT_EQ(l.z, 2.0f);
    MoveTo(1, 500.0f, 0.0f);
    Clear();
    player(0)->StreamingPass();
    EXPECT_EQ(WorldRpcs(), (Seq{"58>0"}));
}

// ---- pickups --------------------------------------------------------------------------------------

TEST_F(WorldEntitiesTest, PickupsStreamByGroundDistanceInTheirWorldOrInEvery) {
    JoinAt(0, "Walker", 1000.0f, 1000.0f);
    ASSERT_EQ(pickups().Create(1239, 2, {0.0f, 0.0f, 10.0f}, 0), 0);
    ASSERT_EQ(pickups().Create(1240, 3, {0.0f, 0.0f, 5000.0f}, kEveryWorld), 1);  // high above
    ASSERT_EQ(pickups().Create(1241, 4, {0.0f, 0.0f, 10.0f}, 3), 2);
    struct Case {
        const char* what;
        float y;
        int32_t world;
        std::vector<bool> streamed;
    };
    const Case cases[] = {
        {"at the stream distance, world 0", 100.0f, 0, {true, true, false}},
        {"in world 3", 100.0f, 3, {false, true, true}},
        {"in world 77", 10.0f, 77, {false, true, false}},
        {"just beyond", 100.01f, 3, {false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pool()->SetVirtualWorld(0, c.world);
        MoveTo(0, 0.0f, c.y);
        for (uint16_t id = 0; id < 3; ++id)
            EXPECT_EQ(player(0)->IsPickupStreamedIn(id), c.streamed[id]) << id;
    }

    Clear();
    pool()->SetVirtualWorld(0, 0);
    MoveTo(0, 1.0f, 1.0f);
    EXPECT_EQ(WorldRpcs(), (Seq{"95>0", "95>0"}));
    const FakeNetServer::Message in = RpcsTo(0, RPC_PickupCreate).at(1);
    const std::vector<uint8_t> expected = {
        1, 0, 0, 0, 0xD8, 4, 0, 0, 3, 0,    0,    0,
        0, 0, 0, 0, 0,    0, 0, 0, 0, 0x40, 0x9C, 0x45};  // id 1, 1240, type 3, 0, 0, 5000
    EXPECT_EQ(in.bytes, expected);
    EXPECT_EQ(in.bits, 24 * 8);
}

TEST_F(WorldEntitiesTest, DestroyingAPickupTellsOnlyItsHoldersAndLowersTheHighestId) {
    JoinAt(0, "Holder", 0.0f, 0.0f);
    JoinAt(1, "Elsewhere", 0.0f, 0.0f);
    pool()->SetVirtualWorld(1, 4);
    for (int i = 0; i < 4; ++i) pickups().Create(1239, 2, {1.0f, 1.0f, 1.0f}, 0);
    player(0)->StreamingPass();
    player(1)->StreamingPass();
    EXPECT_EQ(pickups().GetUpperIndex(), 3);

    Clear();
    EXPECT_EQ(pickups().Destroy(3), 1);
    EXPECT_EQ(WorldRpcs(), (Seq{"63>0"}));
    EXPECT_EQ(RpcsTo(0, RPC_PickupDestroy).at(0).bytes, (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(pickups().GetUpperIndex(), 2);
    for (int32_t bad : {3, -1, 4096, 1 << 16}) EXPECT_EQ(pickups().Destroy(bad), 0) << bad;
    for (int32_t id : {0, 1, 2}) pickups().Destroy(id);
    EXPECT_EQ(pickups().GetUpperIndex(), 0);

    for (int i = 0; i < kMaxPickups; ++i) ASSERT_EQ(pickups().Create(1, 1, {}, 0), i);
    EXPECT_EQ(pickups().Create(1, 1, {}, 0), kNoPickup);
}

TEST_F(WorldEntitiesTest, ADeathTakesEveryPickupAwayUntilTheNextPass) {
    JoinAt(0, "Dying", 0.0f, 0.0f);
    pickups().Create(1239, 2, {1.0f, 1.0f, 1.0f}, 0);
    pickups().Create(1239, 2, {2.0f, 2.0f, 1.0f}, 0);
    player(0)->StreamingPass();
    Clear();
    player(0)->Die(0, kNoPlayer);
    EXPECT_EQ(WorldRpcs(), (Seq{"63>0", "63>0"}));
    Clear();
    player(0)->StreamingPass();
    EXPECT_EQ(WorldRpcs(), (Seq{"95>0", "95>0"}));
}

// ---- actors ---------------------------------------------------------------------------------------

TEST_F(WorldEntitiesTest, ALateStreamerGetsTheActorAndOnlyAKeptAnimation) {
    scripts_.filterScriptPublics["fs"]["OnActorStreamIn"] = 1;
    JoinAt(0, "Late", 900.0f, 900.0f);
    ASSERT_EQ(actors().Create(121, {1.0f, 2.0f, 3.0f}, 90.0f), 0);
    ASSERT_EQ(actors().Create(20001, {1.0f, 2.0f, 3.0f}, 0.0f), 1);  // a custom skin nobody knows
    ASSERT_EQ(actors().Create(7, {1.0f, 2.0f, 3.0f}, 0.0f), 2);
    actors().GetAt(0)->ApplyAnimation("PED", "WALK_player", 4.1f, true, false, true, false, 250);
    actors().GetAt(1)->ApplyAnimation("PED", "IDLE_chat", 4.1f, false, false, false, false, 0);
    actors().GetAt(2)->ApplyAnimation("PED", "KO_shot_front", 4.1f, false, false, false, true, 0);
    Clear();

    MoveTo(0, 0.0f, 0.0f);
    EXPECT_EQ(WorldRpcs(), (Seq{"171>0", "173>0", "171>0", "171>0", "173>0"}));
    EXPECT_EQ(CallsNamed("OnActorStreamIn"),
              (std::vector<std::string>{"fs:OnActorStreamIn(0,0)", "fs:OnActorStreamIn(1,0)",
                                        "fs:OnActorStreamIn(2,0)"}));
    auto in = RpcsTo(0, RPC_ActorStreamIn);
    // id, model, custom model, x, y, z, angle, health, invulnerable: 31 bytes.
    const std::vector<uint8_t> block0 = {0, 0,    121,  0,    0, 0, 0,    0,    0, 0,    0,
                                         0, 0x80, 0x3F, 0,    0, 0, 0x40, 0,    0, 0x40, 0x40,
                                         0, 0,    0xB4, 0x42, 0, 0, 0xC8, 0x42, 1};
    EXPECT_EQ(in.at(0).bytes, block0);
    EXPECT_EQ(in.at(0).bits, 31 * 8);
    Reader custom(in.at(1));
    EXPECT_EQ(custom.Get<uint16_t>(), 1);
    EXPECT_EQ(custom.Get<int32_t>(), 0);
    EXPECT_EQ(custom.Get<int32_t>(), 0);

    Reader anim(RpcsTo(0, RPC_ActorAnimationApply).at(0));
    EXPECT_EQ(anim.Get<uint16_t>(), 0);
    EXPECT_EQ(anim.Text(anim.Get<uint8_t>()), "PED");
    EXPECT_EQ(anim.Text(anim.Get<uint8_t>()), "WALK_player");
    EXPECT_EQ(anim.Get<float>(), 4.1f);
    EXPECT_EQ((std::vector<bool>{anim.Get<bool>(), anim.Get<bool>(), anim.Get<bool>(), anim.Get<bool>()}),
              (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(anim.Get<int32_t>(), 250);
    EXPECT_EQ(anim.Left(), 0);
}

TEST_F(WorldEntitiesTest, ActorChangesReachItsStreamersAndTheKeptAnimationFollowsTheLastOne) {
    JoinAt(0, "Streamer", 0.0f, 0.0f);
    JoinAt(1, "Away", 900.0f, 0.0f);
    const uint16_t id = actors().Create(50, {0.0f, 0.0f, 0.0f}, 0.0f);
    player(0)->StreamingPass();
    Actor* actor = actors().GetAt(id);
    Clear();

    actor->SetHealth(42.5f);
    actor->ApplyAnimation("PED", std::string(100, 'n').c_str(), 1.0f, true, false, false, false, 0);
    EXPECT_EQ(WorldRpcs(), (Seq{"178>0", "173>0"}));
    Reader health(RpcsTo(0, RPC_ActorHealthSet).at(0));
    EXPECT_EQ(health.Get<uint16_t>(), id);
    EXPECT_EQ(health.Get<float>(), 42.5f);
    Reader anim(RpcsTo(0, RPC_ActorAnimationApply).at(0));
    anim.Get<uint16_t>();
    anim.Text(anim.Get<uint8_t>());
    EXPECT_EQ(anim.Get<uint8_t>(), kMaxActorAnimationName);  // cut

    // A one-off animation replaces the kept one; clearing drops it too.
    actor->ApplyAnimation("PED", "shrug", 1.0f, false, false, false, false, 0);
    EXPECT_FALSE(actor->HasKeptAnimation());
    actor->ApplyAnimation("PED", "sit", 1.0f, true, false, false, false, 0);
    Clear();
    actor->ClearAnimations();
    EXPECT_EQ(WorldRpcs(), (Seq{"174>0"}));
    EXPECT_FALSE(actor->HasKeptAnimation());
    Clear();
    MoveTo(1, 0.0f, 0.0f);
    EXPECT_EQ(WorldRpcs(), (Seq{"171>1"}));
}

TEST_F(WorldEntitiesTest, ActorsStreamByGroundDistanceInTheirWorldUpTo51) {
    JoinAt(0, "Viewer", 0.0f, 0.0f, 10.0f);
    for (int i = 0; i < 60; ++i) actors().Create(1, {60.0f, 80.0f, 3000.0f}, 0.0f);
    player(0)->StreamingPass();
    EXPECT_TRUE(player(0)->IsActorStreamedIn(50));
    EXPECT_FALSE(player(0)->IsActorStreamedIn(51));

    actors().SetVirtualWorld(0, 9);
    actors().GetAt(1)->SetPosition({60.0f, 80.01f, 0.0f});
    player(0)->StreamingPass();
    EXPECT_FALSE(player(0)->IsActorStreamedIn(0));
    EXPECT_FALSE(player(0)->IsActorStreamedIn(1));
    // The two freed places go to the first two waiting.
    EXPECT_TRUE(player(0)->IsActorStreamedIn(52));
    EXPECT_FALSE(player(0)->IsActorStreamedIn(53));
    // Below the cap again, a download still holds every stream-in back.
    actors().Destroy(2);
    actors().SetVirtualWorld(0, 0);
    player(0)->SetDownloading(true);
    player(0)->StreamingPass();
    EXPECT_FALSE(player(0)->IsActorStreamedIn(0));
    player(0)->SetDownloading(false);
    player(0)->StreamingPass();
    EXPECT_TRUE(player(0)->IsActorStreamedIn(0));
}

TEST_F(WorldEntitiesTest, DestroyingAnActorStreamsItOutEverywhereEvenWhenAScriptDestroysItAgain) {
    scripts_.gameModePublics["OnActorStreamOut"] = 1;
    JoinAt(0, "A", 0.0f, 0.0f);
    JoinAt(1, "B", 0.0f, 0.0f);
    JoinAt(2, "Far", 900.0f, 0.0f);
    actors().Create(1, {}, 0.0f);
    const uint16_t id = actors().Create(1, {}, 0.0f);
    for (uint16_t p : {0, 1, 2}) player(p)->StreamingPass();
    std::vector<int> nested;
    std::vector<uint16_t> created;
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name != "OnActorStreamOut") return;
        nested.push_back(actors().Destroy(id));
        created.push_back(actors().Create(2, {}, 0.0f));
    };
    Clear();

    EXPECT_EQ(actors().Destroy(id), 1);
    EXPECT_EQ(WorldRpcs(), (Seq{"172>0", "172>1"}));
    EXPECT_EQ(CallsNamed("OnActorStreamOut"),
              (std::vector<std::string>{"gm:OnActorStreamOut(1,0)", "gm:OnActorStreamOut(1,1)"}));
    EXPECT_EQ(nested, (std::vector<int>{0, 0}));
    // Actors the scripts made meanwhile took other ids and are still there.
    EXPECT_EQ(created, (std::vector<uint16_t>{2, 3}));
    EXPECT_FALSE(actors().Exists(id));
    EXPECT_TRUE(actors().Exists(3));
    EXPECT_EQ(actors().GetUpperIndex(), 3);
    scripts_.onRun = nullptr;
    for (uint16_t other : {3, 2, 0}) actors().Destroy(other);
    EXPECT_EQ(actors().GetUpperIndex(), 0);
    EXPECT_EQ(actors().Create(5, {}, 0.0f), 0);
}

// ---- the pass -------------------------------------------------------------------------------------

TEST_F(WorldEntitiesTest, OnePassBringsLabelsThenPickupsThenActorsAndTakesThemAwayInTheSameOrder) {
    JoinAt(0, "Walker", 500.0f, 0.0f);
    actors().Create(1, {2.0f, 0.0f, 10.0f}, 0.0f);
    pickups().Create(1239, 2, {1.0f, 0.0f, 10.0f}, 0);
    labels().Create("sign", 0, {0.0f, 0.0f, 10.0f}, 50.0f, 0, 0);
    Clear();
    MoveTo(0, 0.0f, 0.0f);
    EXPECT_EQ(WorldRpcs(), (Seq{"36>0", "95>0", "171>0"}));
    Clear();
    MoveTo(0, 500.0f, 0.0f);
    EXPECT_EQ(WorldRpcs(), (Seq{"58>0", "63>0", "172>0"}));
}

// ---- client reports -------------------------------------------------------------------------------

Payload PickupReport(int32_t pickup) {
    BitStream bs;
    bs.Write(pickup);
    return PayloadOf(bs);
}

TEST_F(WorldEntitiesTest, APickupReportReachesTheScriptsOnlyForAPickupInUse) {
    scripts_.gameModePublics["OnPlayerPickUpPickup"] = 1;
    scripts_.filterScriptPublics["fs"]["OnPlayerPickUpPickup"] = 1;
    JoinAt(0, "Picker", 0.0f, 0.0f);
    for (int i = 0; i < 4; ++i) pickups().Create(1239, 2, {}, 0);
    pickups().Destroy(2);
    Payload cut = PickupReport(3);
    cut.bits = 24;
    struct Case {
        const char* what;
        Payload payload;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"a pickup in use: gamemode first",
         PickupReport(3),
         {"gm:OnPlayerPickUpPickup(0,3)", "fs:OnPlayerPickUpPickup(0,3)"}},
        {"a freed pickup", PickupReport(2), {}},
        {"negative", PickupReport(-1), {}},
        {"past the pool", PickupReport(4096), {}},
        {"no wrap to a lower id", PickupReport(65536 + 3), {}},
        {"cut short", cut, {}},
        {"empty", Payload{}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.Clear();
        CallRpc(RPC_PickupPickedUp, 0, c.payload);
        EXPECT_EQ(CallsNamed("OnPlayerPickUpPickup"), c.calls);
    }
    // Not between gamemodes, and not from a slot without a player.
    scripts_.Clear();
    CallRpc(RPC_PickupPickedUp, 5, PickupReport(3));
    game_->EndGameMode();
    CallRpc(RPC_PickupPickedUp, 0, PickupReport(3));
    EXPECT_TRUE(CallsNamed("OnPlayerPickUpPickup").empty());
}

Payload ActorDamageReport(bool lead, uint16_t actor, float amount, int32_t weapon, int32_t bodyPart) {
    BitStream bs;
    bs.Write(lead);
    bs.Write(actor);
    bs.Write(amount);
    bs.Write(weapon);
    bs.Write(bodyPart);
    return PayloadOf(bs);
}

TEST_F(WorldEntitiesTest, AnActorDamageReportReachesTheScriptsOnlyForAnExistingActor) {
    scripts_.gameModePublics["OnPlayerGiveDamageActor"] = 0;
    scripts_.filterScriptPublics["fs"]["OnPlayerGiveDamageActor"] = 1;
    JoinAt(0, "Shooter", 0.0f, 0.0f);
    actors().Create(1, {}, 0.0f);
    actors().Create(1, {}, 0.0f);
    Payload cut = ActorDamageReport(false, 1, 5.0f, 24, 3);
    cut.bits -= 1;
    struct Case {
        const char* what;
        Payload payload;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        // A filterscript that handles it does not keep it from the gamemode.
        {"an actor, the leading bit clear",
         ActorDamageReport(false, 1, 5.0f, 24, 3),
         {"fs:OnPlayerGiveDamageActor(0,1,f,24,3)", "gm:OnPlayerGiveDamageActor(0,1,f,24,3)"}},
        {"the leading bit set",
         ActorDamageReport(true, 0, 5.0f, 24, 3),
         {"fs:OnPlayerGiveDamageActor(0,0,f,24,3)", "gm:OnPlayerGiveDamageActor(0,0,f,24,3)"}},
        {"no such actor", ActorDamageReport(false, 2, 5.0f, 24, 3), {}},
        {"past the pool", ActorDamageReport(false, 1000, 5.0f, 24, 3), {}},
        {"cut short", cut, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.Clear();
        CallRpc(RPC_ActorDamage, 0, c.payload);
        EXPECT_EQ(CallsNamed("OnPlayerGiveDamageActor"), c.calls);
    }
    scripts_.Clear();
    CallRpc(RPC_ActorDamage, 0, ActorDamageReport(false, 1, 12.5f, 24, 3));
    ASSERT_FALSE(scripts_.calls.empty());
    EXPECT_EQ(std::get<float>(scripts_.calls.back().args.at(2)), 12.5f);
}

}  // namespace
}  // namespace velt::test
