// The Player and the sending operations: delivery kind, channel and audience of every send, the
// GameInit layout, the stores of a player's own records and how they are relayed, chat radius,
// clock, spawn and death, attached objects and recording.

#include <cmath>
#include <cstring>

#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecordsRelay.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

using ::testing::ElementsAre;

// Writes bits most significant first and multi-byte values little-endian, byte by byte: the
// message layout spelled out independently of BitStream.
class BitWriter {
public:
    void Bit(bool b) {
        if (bits_ % 8 == 0) bytes.push_back(0);
        if (b) bytes.back() |= uint8_t(0x80u >> (bits_ % 8));
        ++bits_;
    }
    void Byte(uint8_t v) {
        for (int i = 7; i >= 0; --i) Bit((v >> i) & 1);
    }
    void U16(uint16_t v) {
        Byte(uint8_t(v));
        Byte(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) Byte(uint8_t(v >> (8 * i)));
    }
    void F32(float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        U32(v);
    }
    std::vector<uint8_t> bytes;
    int bits() const { return bits_; }

private:
    int bits_ = 0;
};

class PlayerTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        scripts_.gameModePublics = {{"OnPlayerKeyStateChange", 1},
                                    {"OnPlayerStateChange", 1},
                                    {"OnPlayerDeath", 1},
                                    {"OnPlayerStreamIn", 1},
                                    {"OnPlayerStreamOut", 1}};
        scripts_.filterScriptFiles = {"admin"};
        scripts_.filterScriptPublics["admin"] = scripts_.gameModePublics;
        console_->SetStringVariable("filterscripts", "admin");
        Start();
    }

    // Puts a player on foot at a place, as its client would report it.
    void PlaceOnFoot(uint16_t id, float x, float y, float z) {
        OnFootSyncRecord r;
        r.position = {x, y, z};
        r.rotation = {1, 0, 0, 0};
        r.health = 100;
        player(id)->StoreOnFootSync(r);
        player(id)->SetPendingRelay(RELAY_NONE);
    }
};

TEST_F(PlayerTest, SendsPickDeliveryKindChannelAndAudience) {
    Join(0, "Alice");
    Join(1, "Bob");
    Join(2, "Carl");
    player(1)->StreamInPlayer(0);
    net_->sent.clear();
    BitStream bs;
    bs.Write(uint8_t(9));

    game_->SendRpcToPlayer(RPC_ClientMessage, &bs, 1000, RpcChannel::ClientMessage);
    game_->SendRpcToPlayer(RPC_ClientMessage, &bs, 5, RpcChannel::ClientMessage);
    EXPECT_TRUE(net_->sent.empty());

    struct Case {
        std::function<void()> send;
        std::vector<uint16_t> receivers;
        MessageReliability reliability;
        uint8_t channel;
        bool rpc;
    } cases[] = {
        {[&] { game_->SendRpcToPlayer(RPC_ClientMessage, &bs, 1, RpcChannel::ClientMessage); },
         {1},
         RELIABILITY_RELIABLE,
         3,
         true},
        {[&] { game_->SendRpcToPlayer(RPC_ClientMessage, &bs, 1, RpcChannel::Request); },
         {1},
         RELIABILITY_RELIABLE_ORDERED,
         0,
         true},
        {[&] { game_->SendRpcToAll(RPC_ClientMessage, &bs, 1, RpcChannel::ClientMessage); },
         {0, 2},
         RELIABILITY_RELIABLE,
         3,
         true},
        {[&] { game_->SendRpcToAll(RPC_ClientMessage, &bs, kNoPlayer, RpcChannel::World); },
         {0, 1, 2},
         RELIABILITY_RELIABLE_ORDERED,
         2,
         true},
        // Streamers always get reliable ordered, even on channel 3.
        {[&] {
             game_->SendRpcToPlayersStreamingPlayer(RPC_ClientMessage, &bs, 0, RpcChannel::ClientMessage);
         },
         {1},
         RELIABILITY_RELIABLE_ORDERED,
         3,
         true},
        {[&] { game_->SendPacketToPlayer(&bs, 2); }, {2}, RELIABILITY_UNRELIABLE_SEQUENCED, 1, false},
        {[&] { game_->SendPacketToPlayerStreamers(&bs, 0, false); },
         {1},
         RELIABILITY_UNRELIABLE_SEQUENCED,
         1,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.receivers.size() * 10 + c.channel);
        net_->sent.clear();
        c.send();
        ASSERT_EQ(net_->sent.size(), c.receivers.size());
        for (size_t i = 0; i < c.receivers.size(); ++i) {
            const auto& m = net_->sent[i];
            EXPECT_EQ(m.target, FakeNetServer::AddressOf(c.receivers[i]));
            EXPECT_EQ(m.isRpc, c.rpc);
            EXPECT_EQ(m.reliability, c.reliability);
            EXPECT_EQ(m.channel, c.channel);
            EXPECT_EQ(m.priority, HIGH_PRIORITY_LEVEL);
            EXPECT_FALSE(m.broadcast);
            EXPECT_EQ(m.bytes, (std::vector<uint8_t>{9}));
        }
    }

    net_->sent.clear();
    game_->SendPacketToAll(&bs);
    ASSERT_EQ(net_->sent.size(), 1u);
    EXPECT_TRUE(net_->sent[0].broadcast);
    EXPECT_EQ(net_->sent[0].target, UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(net_->sent[0].reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
}

TEST_F(PlayerTest, GameInitCarriesTheWorldSettingsInOrder) {
    Join(7, "Alice");
    WorldSettings& w = game_->world;
    w.usePlayerPedAnims = 1;
    w.limitGlobalChatRadius = 1;
    w.globalChatRadius = 25.5f;
    w.stuntBonus = 0;
    w.nameTagDrawDistance = 42.0f;
    w.nameTagLineOfSight = 0;
    w.manualVehicleEngineAndLights = 1;
    w.playerMarkerMode = 2;
    w.worldTimeHour = 21;
    w.weather = 9;
    w.gravity = 0.01f;
    w.deathDropAmount = -5;
    w.vehicleFriendlyFire = 1;
    settings_.onFootRate = 40;
    settings_.lagCompMode = 0;
    game_->AddPlayerClass(SpawnInfo{});
    console_->SetStringVariable("hostname", "Srv");
    net_->sent.clear();
    game_->SendGameInit(7);

    BitWriter e;
    e.Bit(0);  // reserved
    e.Bit(1);  // ped anims
    e.Bit(0);  // interior weapons
    e.Bit(1);  // chat radius limit
    e.F32(25.5f);
    e.Bit(0);  // stunt bonus
    e.F32(42.0f);
    e.Bit(0);  // interior enter/exits disabled
    e.Bit(0);  // name tag line of sight
    e.Bit(1);  // manual engines
    e.U32(1);  // classes
    e.U16(7);  // the receiver's own id
    e.Bit(1);  // name tags
    e.U32(2);
    e.Byte(21);
    e.Byte(9);
    e.F32(0.01f);
    e.Bit(0);  // lan mode
    e.U32(uint32_t(-5));
    e.Bit(0);
    e.U32(40);
    e.U32(30);
    e.U32(30);
    e.U32(2);
    e.U32(0);
    e.Byte(3);
    for (char ch : std::string("Srv")) e.Byte(uint8_t(ch));
    for (int i = 0; i < 212; ++i) e.Byte(0);
    e.U32(1);

    std::vector<FakeNetServer::Message> init = net_->Rpcs(RPC_GameInit);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].target, FakeNetServer::AddressOf(7));
    EXPECT_EQ(init[0].channel, 2);
    EXPECT_EQ(init[0].bits, e.bits());
    EXPECT_EQ(init[0].bytes, e.bytes);

    // Without a hostname the length byte is 0 and the model counts follow at once.
    console_->RemoveVariable("hostname");
    net_->sent.clear();
    game_->SendGameInit(7);
    init = net_->Rpcs(RPC_GameInit);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].bits, e.bits() - 3 * 8);
}

TEST_F(PlayerTest, OnFootRecordIsRelayedOnceToEachStreamerWithFarOnesThinned) {
    Join(0, "Alice");
    Join(1, "Near");
    Join(2, "Far");
    PlaceOnFoot(1, 249.9f, 0, 0);
    PlaceOnFoot(2, 250.0f, 0, 0);
    player(1)->StreamInPlayer(0);
    player(2)->StreamInPlayer(0);

    OnFootSyncRecord record;
    record.position = {0, 0, 3};
    record.rotation = {1, 0, 0, 0};
    record.health = 100;
    record.keys = 4;
    for (int coin : {1, 2}) {
        SCOPED_TRACE(coin);
        game_->SetRelayRandom([coin] { return coin; });
        player(0)->StoreOnFootSync(record);
        net_->sent.clear();
        game_->Process(0.0f);
        std::vector<FakeNetServer::Message> relayed;
        for (const auto& m : net_->sent)
            if (!m.isRpc) relayed.push_back(m);
        // An odd coin skips the far receiver; the near one always gets it.
        ASSERT_EQ(relayed.size(), coin == 1 ? 1u : 2u);
        EXPECT_EQ(relayed[0].target, FakeNetServer::AddressOf(1));
        if (coin == 2) {
            EXPECT_EQ(relayed[1].bytes, relayed[0].bytes);
        }
        EXPECT_EQ(relayed[0].reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
        EXPECT_EQ(relayed[0].channel, 1);
        Reader r(relayed[0]);
        uint16_t who = 0;
        OnFootSyncRecord back;
        ASSERT_TRUE(ReadOnFootRelay(r.bs, who, back));
        EXPECT_EQ(who, 0);
        EXPECT_EQ(back.keys, 4);
        EXPECT_EQ(player(0)->GetPendingRelay(), RELAY_NONE);
    }
}

// The receivers of a relay follow who streams the sender: after a stream-out, after a receiver
// left, and when the sender's own slot is taken by a newcomer who streams nobody.
TEST_F(PlayerTest, RelaysReachExactlyThePlayersStreamingTheSender) {
    for (uint16_t id : {0, 1, 2, 3}) {
        Join(id, "P");
        PlaceOnFoot(id, float(id), 0, 0);
    }
    game_->SetRelayRandom([] { return 0; });
    const auto receivers = [&](uint16_t sender) {
        OnFootSyncRecord record;
        record.position = {float(sender), 0, 3};
        record.rotation = {1, 0, 0, 0};
        record.health = 100;
        player(sender)->StoreOnFootSync(record);
        net_->sent.clear();
        game_->Process(0.0f);
        std::vector<PlayerID> out;
        for (const auto& m : net_->sent)
            if (!m.isRpc) out.push_back(m.target);
        return out;
    };
    for (uint16_t viewer : {3, 1, 2}) player(viewer)->StreamInPlayer(0);
    EXPECT_THAT(receivers(0), ElementsAre(FakeNetServer::AddressOf(1), FakeNetServer::AddressOf(2),
                                          FakeNetServer::AddressOf(3)));
    player(2)->StreamOutPlayer(0);
    player(2)->StreamInPlayer(0);
    player(2)->StreamOutPlayer(0);
    ASSERT_EQ(pool()->Disconnect(3, 0), 1);
    EXPECT_THAT(receivers(0), ElementsAre(FakeNetServer::AddressOf(1)));

    // Player 0 streamed player 1 in, then left; the newcomer on his slot sees nobody yet.
    player(0)->StreamInPlayer(1);
    ASSERT_EQ(pool()->Disconnect(0, 0), 1);
    pool()->ReleaseRetired();
    Join(0, "Newcomer");
    PlaceOnFoot(0, 0, 0, 0);
    EXPECT_TRUE(receivers(1).empty());
    player(0)->StreamInPlayer(1);
    EXPECT_THAT(receivers(1), ElementsAre(FakeNetServer::AddressOf(0)));
}

TEST_F(PlayerTest, OnFootStoreKeepsWeaponKeysStateAndSurfingStraight) {
    Join(3, "Alice");
    scripts_.Clear();
    OnFootSyncRecord r;
    r.rotation = {1, 0, 0, 0};
    r.weaponId = 24;
    r.keys = 4;
    player(3)->StoreOnFootSync(r);
    EXPECT_EQ(player(3)->GetArmedWeapon(), 24);
    EXPECT_THAT(Calls(), ElementsAre("gm:OnPlayerKeyStateChange(3,4,0)", "fs:OnPlayerKeyStateChange(3,4,0)",
                                     "fs:OnPlayerStateChange(3,1,0)", "gm:OnPlayerStateChange(3,1,0)"));

    // The same keys again raise nothing; a change of the weapon byte's key bits does.
    scripts_.Clear();
    player(3)->StoreOnFootSync(r);
    EXPECT_TRUE(scripts_.calls.empty());
    r.additionalKeys = 3;
    player(3)->StoreOnFootSync(r);
    EXPECT_THAT(Calls(), ElementsAre("gm:OnPlayerKeyStateChange(3,262148,4)",
                                     "fs:OnPlayerKeyStateChange(3,262148,4)"));

    // A weapon without a slot: the record keeps only its key bits, the armed weapon stays.
    r.weaponId = 20;
    r.additionalKeys = 1;
    player(3)->StoreOnFootSync(r);
    EXPECT_EQ(player(3)->GetOnFootSync().weaponId, 0);
    EXPECT_EQ(player(3)->GetOnFootSync().additionalKeys, 1);
    EXPECT_EQ(player(3)->GetArmedWeapon(), 24);

    // Surfing on a global object that does not exist is no surfing at all; a vehicle id stays.
    r.surfingId = 2500;
    r.surfingOffset = {1, 2, 3};
    player(3)->StoreOnFootSync(r);
    EXPECT_EQ(player(3)->GetOnFootSync().surfingId, 0xFFFF);
    EXPECT_EQ(player(3)->GetOnFootSync().surfingOffset.z, 0.0f);
    r.surfingId = 5;
    player(3)->StoreOnFootSync(r);
    EXPECT_EQ(player(3)->GetOnFootSync().surfingId, 5);

    // The facing angle follows the rotation: atan2(-up.x, up.y), here with up = (1, 0, 0).
    r.rotation = {std::sqrt(0.5f), 0, 0, std::sqrt(0.5f)};
    player(3)->StoreOnFootSync(r);
    EXPECT_NEAR(player(3)->GetFacingAngle(), 270.0f, 0.01f);
}

TEST_F(PlayerTest, FrozenPlayersAreRelayedWithoutKeys) {
    Join(0, "Alice");
    Join(1, "Bob");
    player(1)->StreamInPlayer(0);
    OnFootSyncRecord r;
    r.rotation = {1, 0, 0, 0};
    r.lrKeys = 0xFF80;
    r.udKeys = 128;
    r.keys = 4;
    player(0)->SetControllable(false);
    player(0)->StoreOnFootSync(r);
    net_->sent.clear();
    game_->Process(0.0f);
    ASSERT_EQ(net_->sent.size(), 1u);
    Reader reader(net_->sent[0]);
    uint16_t who = 0;
    OnFootSyncRecord back;
    ASSERT_TRUE(ReadOnFootRelay(reader.bs, who, back));
    EXPECT_EQ(back.lrKeys, 0);
    EXPECT_EQ(back.udKeys, 0);
    EXPECT_EQ(back.keys, 0);
    EXPECT_EQ(player(0)->GetOnFootSync().keys, 0);
}

TEST_F(PlayerTest, DriverRecordForAVehicleNotStreamedInCancelsTheRelay) {
    Join(0, "Alice");
    OnFootSyncRecord onFoot;
    onFoot.rotation = {1, 0, 0, 0};
    player(0)->StoreOnFootSync(onFoot);
    ASSERT_EQ(player(0)->GetPendingRelay(), RELAY_ONFOOT);
    InCarSyncRecord driver;
    driver.vehicleId = 5;
    driver.position = {100, 100, 100};
    player(0)->StoreInCarSync(driver);
    EXPECT_EQ(player(0)->GetPendingRelay(), RELAY_NONE);
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_ONFOOT);
    EXPECT_EQ(player(0)->GetInCarSync().vehicleId, 0);
    EXPECT_EQ(player(0)->GetPosition().x, 0.0f);
}

TEST_F(PlayerTest, AimIsRelayedOnlyForADirectionFromInsideTheWorld) {
    Join(0, "Alice");
    struct Case {
        Vector3 front;
        Vector3 camera;
        bool pending;
    } cases[] = {
        {{0, 1, 0}, {0, 0, 0}, true},      {{0, 0, 0}, {0, 0, 0}, false},
        {{1, 1, 0}, {0, 0, 0}, false},  // squared length 2
        {{0, 1, 0}, {20000, 0, 0}, false}, {{NAN, 0, 0}, {0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        AimSyncRecord aim;
        aim.cameraFront = c.front;
        aim.cameraPosition = c.camera;
        player(0)->StoreAimSync(aim);
        EXPECT_EQ(player(0)->IsAimPending(), c.pending) << c.front.x << "," << c.front.y;
        player(0)->SendSync();
    }
}

TEST_F(PlayerTest, ChatWithinARadiusReachesTheNearAndAlwaysTheSender) {
    Join(0, "Alice");
    Join(1, "Near");
    Join(2, "Far");
    PlaceOnFoot(0, 0, 0, 0);
    PlaceOnFoot(1, 0, 9, 0);
    PlaceOnFoot(2, 0, 0, 50);
    game_->world.limitGlobalChatRadius = 1;
    game_->world.globalChatRadius = 10.0f;
    net_->sent.clear();
    player(0)->BroadcastChat("hi", 2);
    std::vector<FakeNetServer::Message> chat = net_->Rpcs(RPC_ChatText);
    ASSERT_EQ(chat.size(), 2u);
    EXPECT_EQ(chat[0].target, FakeNetServer::AddressOf(1));
    EXPECT_EQ(chat[1].target, FakeNetServer::AddressOf(0));
    EXPECT_EQ(chat[0].bytes, (std::vector<uint8_t>{0, 0, 2, 'h', 'i'}));
    EXPECT_EQ(chat[0].channel, 3);
    EXPECT_EQ(chat[0].reliability, RELIABILITY_RELIABLE);

    game_->world.limitGlobalChatRadius = 0;
    net_->sent.clear();
    player(0)->BroadcastChat("hi", 2);
    EXPECT_EQ(net_->Rpcs(RPC_ChatText).size(), 3u);
}

TEST_F(PlayerTest, ClockResyncWrapsTheDayAndSendsWholeMinutes) {
    Join(0, "Alice");
    PlaceOnFoot(0, 0, 0, 0);
    player(0)->ToggleClock(true);
    struct Case {
        uint8_t hour, minute;
        float extra;
        std::vector<uint8_t> sent;
    } cases[] = {
        {25, 0, 0.0f, {1, 0}},     // 1500 minutes: the day wraps first
        {23, 59, 0.9f, {23, 59}},  // 1439.9 is still 23:59
    };
    for (const Case& c : cases) {
        player(0)->SetTime(c.hour, c.minute);
        net_->sent.clear();
        player(0)->Tick(c.extra);
        std::vector<FakeNetServer::Message> time = net_->Rpcs(RPC_PlayerTimeSet);
        ASSERT_EQ(time.size(), 1u);
        EXPECT_EQ(time[0].bytes, c.sent);
    }
    // Not due again until 300 game minutes later.
    net_->sent.clear();
    player(0)->Tick(299.0f);
    EXPECT_TRUE(net_->Rpcs(RPC_PlayerTimeSet).empty());
}

TEST_F(PlayerTest, WeaponSlots) {
    const std::pair<int, int> slots[] = {
        {0, 0},   {1, 0},   {2, 1},  {9, 1},   {10, 10}, {15, 10}, {16, 8},   {18, 8},
        {19, -1}, {21, -1}, {22, 2}, {24, 2},  {25, 3},  {27, 3},  {28, 4},   {29, 4},
        {32, 4},  {30, 5},  {31, 5}, {33, 6},  {34, 6},  {35, 7},  {38, 7},   {39, 8},
        {40, 12}, {41, 9},  {43, 9}, {44, 11}, {46, 11}, {47, -1}, {255, -1}, {-1, -1},
    };
    for (auto [weapon, slot] : slots) EXPECT_EQ(Player::GetWeaponSlot(weapon), slot) << weapon;
}

TEST_F(PlayerTest, SpawnStreamsOutAndDeathIsAnnouncedAndLogged) {
    Join(0, "Alice");
    Join(1, "Bob");
    player(1)->StreamInPlayer(0);
    SpawnInfo spawn;
    spawn.position = {10, 20, 30};
    player(0)->Spawn();  // no spawn info yet: nothing happens
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_NONE);

    player(0)->SetSpawnInfo(spawn);
    net_->sent.clear();
    scripts_.Clear();
    player(0)->Spawn();
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_SPAWNED);
    EXPECT_EQ(player(0)->GetPosition().y, 20.0f);
    EXPECT_FALSE(player(1)->IsPlayerStreamedIn(0));
    EXPECT_EQ(player(1)->StreamedPlayerCount(), 0);
    std::vector<FakeNetServer::Message> out = net_->Rpcs(RPC_PlayerStreamOut);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].target, FakeNetServer::AddressOf(1));
    EXPECT_EQ(out[0].bytes, (std::vector<uint8_t>{0, 0}));
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerStreamOut(0,1)", "gm:OnPlayerStreamOut(0,1)",
                                     "fs:OnPlayerStateChange(0,8,0)", "gm:OnPlayerStateChange(0,8,0)"));

    net_->sent.clear();
    scripts_.Clear();
    player(0)->Die(24, 1);
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerStateChange(0,7,8)", "gm:OnPlayerStateChange(0,7,8)",
                                     "fs:OnPlayerDeath(0,1,24)", "gm:OnPlayerDeath(0,1,24)"));
    std::vector<FakeNetServer::Message> death = net_->Rpcs(RPC_PlayerDeath);
    ASSERT_EQ(death.size(), 1u);
    EXPECT_EQ(death[0].target, FakeNetServer::AddressOf(1));
    EXPECT_TRUE(Logged("[kill] Bob killed Alice Desert Eagle"));
    player(0)->Die(53, kNoPlayer);
    EXPECT_TRUE(Logged("[death] Alice died 53"));
}

TEST_F(PlayerTest, AttachedObjectsGoToStreamersThenThePlayer) {
    Join(0, "Alice");
    Join(1, "Bob");
    player(1)->StreamInPlayer(0);
    AttachedObjectSlot object;
    object.model = 0x01020304;
    object.scale = {1, 1, 1};
    object.colour2 = 0xAABBCCDD;
    net_->sent.clear();
    player(0)->SetAttachedObject(10, object);
    EXPECT_TRUE(net_->sent.empty());
    player(0)->SetAttachedObject(3, object);
    std::vector<FakeNetServer::Message> set = net_->Rpcs(RPC_AttachedObjectSet);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[0].target, FakeNetServer::AddressOf(1));
    EXPECT_EQ(set[1].target, FakeNetServer::AddressOf(0));
    EXPECT_EQ(set[0].bits, (2 + 4) * 8 + 1 + 52 * 8);
    Reader r(set[0]);
    EXPECT_EQ(r.Get<uint16_t>(), 0);
    EXPECT_EQ(r.Get<uint32_t>(), 3u);
    EXPECT_TRUE(r.Get<bool>());
    EXPECT_EQ(r.Get<int32_t>(), 0x01020304);
    EXPECT_TRUE(player(0)->IsAttachedObjectSlotUsed(3));

    net_->sent.clear();
    player(0)->RemoveAttachedObject(3);
    set = net_->Rpcs(RPC_AttachedObjectSet);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[0].bits, (2 + 4) * 8 + 1);
    EXPECT_FALSE(player(0)->IsAttachedObjectSlotUsed(3));
}

TEST_F(PlayerTest, RecordingKeepsOnlyTheOpenKindWithTimes) {
    Join(0, "Alice");
    ASSERT_TRUE(player(0)->Recording().Open("walk.rec", RECORDING_ONFOOT));
    uint32_t now = 1000;
    game_->SetClock([&] { return now; });
    player(0)->SetRecordingStart(900);
    OnFootSyncRecord r;
    r.rotation = {1, 0, 0, 0};
    r.health = 77;
    player(0)->StoreOnFootSync(r);
    player(0)->Recording().Close();

    Recording recording;
    ASSERT_EQ(LoadRecording("walk.rec", RECORDING_ONFOOT, recording), RecordingStatus::Ok);
    ASSERT_EQ(recording.Count(), 1u);
    EXPECT_EQ(recording.times[0], 100u);
    EXPECT_EQ(recording.onFoot[0].health, 77);
}

TEST_F(PlayerTest, SpawnInfoLaysOutItsFiftyBytes) {
    SpawnInfo info;
    info.team = 255;
    info.skin = 0x11223344;
    info.customSkin = -1;
    info.reserved = 7;
    info.position = {1.0f, 2.0f, 3.0f};
    info.facingAngle = 90.0f;
    info.weapons = {24, 0, 31};
    info.ammo = {100, 0, 500};
    uint8_t bytes[SpawnInfo::kSize] = {};
    EncodeSpawnInfo(info, bytes);
    EXPECT_EQ(bytes[0], 255);
    EXPECT_EQ(bytes[1], 0x44);
    EXPECT_EQ(bytes[4], 0x11);
    EXPECT_EQ(bytes[5], 0xFF);
    EXPECT_EQ(bytes[9], 7);
    float x;
    std::memcpy(&x, bytes + 10, 4);
    EXPECT_EQ(x, 1.0f);
    float angle;
    std::memcpy(&angle, bytes + 22, 4);
    EXPECT_EQ(angle, 90.0f);
    EXPECT_EQ(bytes[26], 24);
    EXPECT_EQ(bytes[34], 31);
    EXPECT_EQ(bytes[46], 0xF4);  // 500 = 0x01F4
    EXPECT_EQ(bytes[47], 0x01);
    SpawnInfo back;
    DecodeSpawnInfo(bytes, back);
    EXPECT_EQ(back.skin, info.skin);
    EXPECT_EQ(back.ammo[2], 500);
}

}  // namespace
}  // namespace velt::test
