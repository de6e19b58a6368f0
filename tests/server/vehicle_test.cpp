// Vehicles in the game core: the pool's ids and model counts, the stream-in message, the vehicle
// step of streaming, the driver, passenger, trailer and unoccupied records (what they move, what
// they relay, what they drop or kick), deaths and respawns on an injected clock and die, tuning,
// and the vehicle reports clients send.

#include <cmath>
#include <limits>
#include <string>

#include "server/protocol/VehicleSyncHandlers.h"
#include "server/shared/SyncRecordsRelay.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class VehicleTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        settings_.streamDistance = 100.0f;
        StartProtocol();
        vehicles()->SetRandom([] { return 0; });
    }

    VehiclePool* vehicles() { return game_->GetVehiclePool(); }
    Vehicle* vehicle(uint16_t id) { return vehicles()->Get(id); }
    uint16_t AddVehicle(int32_t model, float x, float y, int32_t respawnDelay = -1, float angle = 30.0f) {
        return vehicles()->New(model, {x, y, 10.0f}, angle, 3, 5, respawnDelay);
    }
    // The player has the vehicle streamed in (no distance test).
    void See(uint16_t player, uint16_t id) { this->player(player)->StreamInVehicle(id, false); }

    static InCarSyncRecord Driving(uint16_t id, float x, float y, float health = 900.0f) {
        InCarSyncRecord r;
        r.vehicleId = id;
        r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
        r.position = {x, y, 10.0f};
        r.velocity = {0.5f, 0.0f, 0.0f};
        r.vehicleHealth = health;
        r.playerHealth = 100;
        return r;
    }
    void Drive(uint16_t slot, const InCarSyncRecord& r) { SendPacket(slot, SyncPacket(ID_VEHICLE_SYNC, r)); }
    // A driver in a vehicle he has streamed in, with a streamer of his own (slot 1 sees slot 0).
    uint16_t DriverAndWatcher(int32_t model = 411) {
        JoinAt(0, "Driver", 0.0f, 0.0f);
        JoinAt(1, "Watcher", 5.0f, 5.0f);
        const uint16_t id = AddVehicle(model, 0.0f, 0.0f);
        See(0, id);
        See(1, id);
        player(1)->StreamInPlayer(0);
        Drive(0, Driving(id, 1.0f, 2.0f));
        net_->sent.clear();
        scripts_.Clear();
        return id;
    }
    void Pass(uint32_t advanceMs = 0) {
        now_ += advanceMs;
        vehicles()->Process(0.005f);
    }
    std::vector<std::string> Named(const std::string& name) { return CallsNamed(name); }
};

TEST_F(VehicleTest, PoolHandsOutTheLowestFreeIdAndCountsModels) {
    EXPECT_EQ(AddVehicle(399, 0, 0), kNoVehicle);
    EXPECT_EQ(AddVehicle(612, 0, 0), kNoVehicle);
    EXPECT_EQ(AddVehicle(400, 0, 0), 1);
    EXPECT_EQ(AddVehicle(611, 0, 0), 2);
    EXPECT_EQ(AddVehicle(400, 0, 0), 3);
    EXPECT_EQ(vehicles()->GetModelsUsed(), 2);
    EXPECT_EQ(vehicles()->GetModelUsage(0), 2);
    EXPECT_EQ(vehicles()->GetModelUsage(211), 1);

    JoinAt(0, "Viewer", 0.0f, 0.0f);
    scripts_.gameModePublics["OnVehicleStreamOut"] = 1;
    See(0, 3);
    EXPECT_EQ(vehicles()->Delete(3), 1);
    EXPECT_EQ(vehicles()->Delete(3), 0);
    EXPECT_EQ(vehicles()->Delete(0), 0);
    EXPECT_EQ(vehicles()->Delete(2000), 0);
    EXPECT_FALSE(player(0)->IsVehicleStreamedIn(3));
    ASSERT_EQ(RpcsTo(0, RPC_VehicleStreamOut).size(), 1u);
    EXPECT_EQ(Reader(RpcsTo(0, RPC_VehicleStreamOut)[0]).Get<uint16_t>(), 3);
    EXPECT_EQ(Named("OnVehicleStreamOut"), (std::vector<std::string>{"gm:OnVehicleStreamOut(3,0)"}));
    EXPECT_EQ(vehicles()->GetUpperIndex(), 2);
    EXPECT_EQ(vehicles()->GetModelUsage(0), 1);

    EXPECT_EQ(vehicles()->Delete(1), 1);
    EXPECT_EQ(AddVehicle(500, 0, 0), 1);
    while (AddVehicle(500, 0, 0) != kNoVehicle) {}
    EXPECT_EQ(vehicles()->GetUpperIndex(), 1999);
    EXPECT_EQ(vehicles()->GetModelUsage(100), uint8_t(1998));  // one byte per model: it wraps
    EXPECT_EQ(vehicles()->GetModelsUsed(), 2);
}

TEST_F(VehicleTest, StreamInMessageCarriesTheVehicleAsItIs) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    const uint16_t id = AddVehicle(411, 7.5f, -2.0f, -1, 30.0f);
    See(0, id);
    auto in = RpcsTo(0, RPC_VehicleStreamIn);
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].bits, 63 * 8);
    Reader fresh(in[0]);
    EXPECT_EQ(fresh.Get<uint16_t>(), id);
    EXPECT_EQ(fresh.Get<int32_t>(), 411);
    EXPECT_EQ(fresh.Get<float>(), 7.5f);
    EXPECT_EQ(fresh.Get<float>(), -2.0f);
    EXPECT_EQ(fresh.Get<float>(), 10.0f);
    EXPECT_EQ(fresh.Get<float>(), 30.0f);  // nobody moved it yet: the spawn angle
    EXPECT_EQ(fresh.Get<uint8_t>(), 3);
    EXPECT_EQ(fresh.Get<uint8_t>(), 5);
    EXPECT_EQ(fresh.Get<float>(), 1000.0f);
    EXPECT_TRUE(RpcsTo(0, RPC_NumberPlateSet).empty());
    EXPECT_TRUE(RpcsTo(0, RPC_VehicleParamsExSet).empty());

    // Moved, damaged, tuned, with a plate and parameters: it all goes out with the next stream-in.
    Vehicle* v = vehicle(id);
    Matrix4 m;
    m.up = {-1.0f, 0.0f, 0.0f, 0.0f};
    m.pos = {8.0f, 9.0f, 11.0f, 0.0f};
    v->UpdateFromSync(0, m, 650.0f, 0, true);
    v->SetInterior(0x104);
    v->UpdateDamageStatus(0xFFFF, {0x11, 0x22, 0x33, 0x44});
    v->AddComponent(0xFFFF, 1010);
    v->ChangePaintjob(0xFFFF, 2);
    v->ChangeColor(0xFFFF, 126, -1);
    v->EnableSiren();
    v->SetNumberPlate("PLATE 1");
    VehicleParams params = v->GetParams();
    params[VEHICLE_PARAM_ENGINE] = 1;
    v->SetParams(params);
    player(0)->StreamOutVehicle(id);
    net_->sent.clear();
    See(0, id);
    std::vector<FakeNetServer::Message> sent = net_->To(FakeNetServer::AddressOf(0));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].rpcId, RPC_VehicleStreamIn);
    EXPECT_EQ(sent[1].rpcId, RPC_NumberPlateSet);
    EXPECT_EQ(sent[2].rpcId, RPC_VehicleParamsExSet);
    Reader r(sent[0]);
    EXPECT_EQ(r.Get<uint16_t>(), id);
    EXPECT_EQ(r.Get<int32_t>(), 411);
    EXPECT_EQ(r.Get<float>(), 8.0f);
    EXPECT_EQ(r.Get<float>(), 9.0f);
    EXPECT_EQ(r.Get<float>(), 11.0f);
    EXPECT_EQ(r.Get<float>(), 90.0f);
    EXPECT_EQ(r.Get<uint8_t>(), 3);
    EXPECT_EQ(r.Get<uint8_t>(), 5);
    EXPECT_EQ(r.Get<float>(), 650.0f);
    EXPECT_EQ(r.Get<uint8_t>(), 4);
    EXPECT_EQ(r.Get<int32_t>(), 0x22);  // doors before panels
    EXPECT_EQ(r.Get<int32_t>(), 0x11);
    EXPECT_EQ(r.Get<uint8_t>(), 0x33);
    EXPECT_EQ(r.Get<uint8_t>(), 0x44);
    EXPECT_EQ(r.Get<uint8_t>(), 1);
    for (int slot = 0; slot < 14; ++slot) EXPECT_EQ(r.Get<uint8_t>(), slot == 5 ? 11 : 0) << slot;
    EXPECT_EQ(r.Get<uint8_t>(), 3);
    EXPECT_EQ(r.Get<int32_t>(), 126);
    EXPECT_EQ(r.Get<int32_t>(), -1);
    EXPECT_EQ(r.Left(), 0);
    Reader plate(sent[1]);
    EXPECT_EQ(plate.Get<uint16_t>(), id);
    EXPECT_EQ(plate.Text(plate.Get<uint8_t>()), "PLATE 1");
    EXPECT_EQ(plate.Left(), 0);
    EXPECT_EQ(sent[2].bytes, (std::vector<uint8_t>{uint8_t(id), 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    // A locomotive always goes out at its spawn angle.
    const uint16_t engine = AddVehicle(538, 0.0f, 0.0f, -1, 180.0f);
    vehicle(engine)->UpdateFromSync(0xFFFF, m, 1000.0f, 0, true);
    See(0, engine);
    Reader train(RpcsTo(0, RPC_VehicleStreamIn).back());
    EXPECT_EQ(train.Get<uint16_t>(), engine);
    EXPECT_EQ(train.Get<int32_t>(), 538);
    for (int i = 0; i < 3; ++i) train.Get<float>();
    EXPECT_EQ(train.Get<float>(), 180.0f);
}

TEST_F(VehicleTest, PlatesAndComponentsKeepToTheirRules) {
    const uint16_t id = AddVehicle(400, 0.0f, 0.0f);
    Vehicle* v = vehicle(id);
    v->SetNumberPlate("OLD");
    v->SetNumberPlate(std::string(33, 'X').c_str());
    EXPECT_EQ(v->GetNumberPlate(), "OLD");
    v->SetNumberPlate(std::string(32, 'Y').c_str());
    EXPECT_EQ(v->GetNumberPlate(), std::string(32, 'Y'));
    v->SetNumberPlate(nullptr);
    EXPECT_EQ(v->GetNumberPlate(), "");

    struct Case {
        int32_t component;
        int result;
        int slot;
    };
    const Case cases[] = {{1026, 0, -1}, {1010, 1, 5},  {1086, 0, -1},
                          {999, 0, -1},  {1194, 0, -1}, {-1, 0, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(v->AddComponent(0xFFFF, c.component), c.result) << c.component;
        if (c.slot >= 0) {
            EXPECT_EQ(v->GetComponentInSlot(c.slot), c.component);
        }
    }
    for (int slot = 0; slot < 14; ++slot)
        if (slot != 5) {
            EXPECT_EQ(v->GetComponentInSlot(slot), 0) << slot;
        }
    v->RemoveComponent(0xFFFF, 1009);  // same slot, another part: stays
    EXPECT_EQ(v->GetComponentInSlot(5), 1010);
    v->RemoveComponent(0xFFFF, 1010);
    EXPECT_EQ(v->GetComponentInSlot(5), 0);
}

TEST_F(VehicleTest, VehiclesStreamByGroundDistanceWorldAndSeat) {
    scripts_.gameModePublics["OnVehicleStreamIn"] = 1;
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    const uint16_t id = AddVehicle(411, 0.0f, 0.0f);
    struct Case {
        const char* what;
        float x, y, z;
        int32_t world;
        bool sitting;
        bool streamed;
    };
    const Case cases[] = {
        {"at the distance exactly", 60.0f, 80.0f, 10.0f, 0, false, true},
        {"height does not count", 60.0f, 80.0f, 900.0f, 0, false, true},
        {"just beyond", 60.0f, 80.01f, 10.0f, 0, false, false},
        {"back", 1.0f, 1.0f, 10.0f, 0, false, true},
        {"another world", 1.0f, 1.0f, 10.0f, 4, false, false},
        {"same world", 1.0f, 1.0f, 10.0f, 0, false, true},
        {"far, but he sits in it", 500.0f, 0.0f, 10.0f, 0, true, true},
        {"far, and out of it", 500.0f, 0.0f, 10.0f, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.Clear();
        net_->sent.clear();
        const bool was = player(0)->IsVehicleStreamedIn(id);
        vehicle(id)->SetPosition({c.x, c.y, c.z});
        vehicles()->SetVirtualWorld(id, c.world);
        player(0)->SetVehicleId(c.sitting ? id : 0);
        player(0)->StreamingPass();
        EXPECT_EQ(player(0)->IsVehicleStreamedIn(id), c.streamed);
        EXPECT_EQ(RpcsTo(0, RPC_VehicleStreamIn).size(), !was && c.streamed ? 1u : 0u);
        EXPECT_EQ(RpcsTo(0, RPC_VehicleStreamOut).size(), was && !c.streamed ? 1u : 0u);
        if (!was && c.streamed) {
            EXPECT_EQ(Named("OnVehicleStreamIn"), (std::vector<std::string>{"gm:OnVehicleStreamIn(1,0)"}));
        }
    }

    // Carriages travel with their engine, never by distance; one streamed in some other way goes.
    const uint16_t carriage = AddVehicle(570, 1.0f, 1.0f);
    See(0, carriage);
    player(0)->StreamingPass();
    EXPECT_FALSE(player(0)->IsVehicleStreamedIn(carriage));
    // The cap: refused while more than 700 are streamed in, so 701 at most.
    for (int i = 0; i < 710; ++i) AddVehicle(400, 2.0f, 2.0f);
    player(0)->StreamingPass();
    EXPECT_EQ(player(0)->StreamedVehicleCount(), 701);
}

TEST_F(VehicleTest, DriverRecordsMoveTheVehicleAndGoToTheStreamers) {
    scripts_.gameModePublics["OnPlayerStateChange"] = 1;
    const uint16_t id = DriverAndWatcher();
    InCarSyncRecord r = Driving(id, 3.0f, 4.0f, 777.0f);
    r.rotation = {0.0f, 0.0f, 0.0f, 1.0f};  // half a turn about z
    r.trailerId = 2500;                     // no such vehicle: kept as none
    Drive(0, r);
    Vehicle* v = vehicle(id);
    EXPECT_EQ(v->GetPosition().x, 3.0f);
    EXPECT_EQ(v->GetMatrix().pos.y, 4.0f);
    EXPECT_EQ(v->GetHealth(), 777.0f);
    EXPECT_EQ(v->GetVelocity().x, 0.5f);
    EXPECT_EQ(v->GetDriver(), 0);
    EXPECT_EQ(v->GetTrailer(), 0);
    EXPECT_EQ(v->GetZAngle(), 180.0f);
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_DRIVER);
    EXPECT_EQ(player(0)->GetVehicleId(), id);
    EXPECT_EQ(v->FindDriver(), 0);

    game_->GetPlayerPool()->Process(0.01f);
    auto relays = PacketsTo(1, ID_VEHICLE_SYNC);
    ASSERT_EQ(relays.size(), 1u);
    EXPECT_EQ(relays[0].reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
    EXPECT_EQ(relays[0].channel, 1);
    Reader relay(relays[0]);
    uint16_t who = 0;
    InCarSyncRecord back;
    ASSERT_TRUE(ReadDriverRelay(relay.bs, who, back));
    EXPECT_EQ(who, 0);
    EXPECT_EQ(back.vehicleId, id);
    EXPECT_EQ(back.vehicleHealth, 777.0f);
    EXPECT_TRUE(PacketsTo(0, ID_VEHICLE_SYNC).empty());

    // Records that are dropped leave vehicle and player as they were; only ids no vehicle can have
    // get the sender kicked.
    struct Case {
        const char* what;
        uint16_t vehicle;
        float x, health;
        Quaternion rotation;
        bool kicked;
    };
    const Quaternion upright{1.0f, 0.0f, 0.0f, 0.0f};
    const Case cases[] = {
        {"the id after the last", 2000, 5.0f, 500.0f, upright, false},
        {"a vehicle he does not see", uint16_t(id + 1), 5.0f, 500.0f, upright, false},
        {"outside the world", id, 30000.0f, 500.0f, upright, false},
        {"health NaN", id, 5.0f, kNaN, upright, false},
        {"health infinite", id, 5.0f, -kInf, upright, false},
        {"rotation NaN", id, 5.0f, 500.0f, {kNaN, 0.0f, 0.0f, 0.0f}, false},
        {"rotation infinite", id, 5.0f, 500.0f, {1.0f, kInf, 0.0f, 0.0f}, false},
        {"an id no client sends", 2001, 5.0f, 500.0f, upright, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        net_->sent.clear();
        InCarSyncRecord bad = Driving(c.vehicle, c.x, 5.0f, c.health);
        bad.rotation = c.rotation;
        Drive(0, bad);
        game_->GetPlayerPool()->Process(0.01f);
        EXPECT_EQ(v->GetPosition().x, 3.0f);
        EXPECT_EQ(v->GetHealth(), 777.0f);
        EXPECT_TRUE(PacketsTo(1, ID_VEHICLE_SYNC).empty());
        EXPECT_EQ(Kicked(0), c.kicked);
    }
}

TEST_F(VehicleTest, TrainCarriagesFollowTheirEngineAndStopAtTheLastId) {
    JoinAt(0, "Driver", 0.0f, 0.0f);
    while (vehicles()->GetUpperIndex() < 1996) AddVehicle(400, 900.0f, 900.0f);
    // An engine at 1997 with two carriages and an unrelated car would be 1998..2000: the pool ends
    // at 1999, and so does the train.
    ASSERT_EQ(AddVehicle(538, 0.0f, 0.0f), 1997);
    ASSERT_EQ(AddVehicle(570, 0.0f, 0.0f), 1998);
    ASSERT_EQ(AddVehicle(449, 0.0f, 0.0f), 1999);
    See(0, 1997);
    Drive(0, Driving(1997, 40.0f, 50.0f, 880.0f));
    for (uint16_t id : {uint16_t(1998), uint16_t(1999)}) {
        EXPECT_EQ(vehicle(id)->GetPosition().x, 40.0f) << id;
        EXPECT_EQ(vehicle(id)->GetHealth(), 880.0f) << id;
        EXPECT_EQ(vehicle(id)->GetDriver(), 0xFFFF) << id;
    }
    // A car behind an engine does not follow it; an engine at the very last id has nothing behind.
    vehicles()->Delete(1998);
    ASSERT_EQ(AddVehicle(400, 0.0f, 0.0f), 1998);
    vehicles()->Delete(1999);
    ASSERT_EQ(AddVehicle(537, 0.0f, 0.0f), 1999);
    See(0, 1999);
    Drive(0, Driving(1997, 41.0f, 50.0f));
    EXPECT_EQ(vehicle(1998)->GetPosition().x, 0.0f);
    EXPECT_EQ(vehicle(1999)->GetPosition().x, 41.0f);
    Drive(0, Driving(1999, 42.0f, 50.0f));
    EXPECT_EQ(vehicle(1999)->GetPosition().x, 42.0f);
}

TEST_F(VehicleTest, ADeathIsHeardOnceAndTheWreckRespawnsAfterTenSeconds) {
    scripts_.gameModePublics["OnVehicleDeath"] = 1;
    scripts_.gameModePublics["OnVehicleSpawn"] = 1;
    // With an idle respawn delay that has long run out: still, the death comes first.
    const uint16_t id = vehicles()->New(411, {0.0f, 0.0f, 10.0f}, 0.0f, 1, 1, 1);
    JoinAt(0, "Driver", 0.0f, 0.0f);
    See(0, id);
    Drive(0, Driving(id, 1.0f, 1.0f, 800.0f));
    Drive(0, Driving(id, 2.0f, 1.0f, -5.0f));
    EXPECT_TRUE(vehicle(id)->IsDead());
    EXPECT_EQ(vehicle(id)->GetKiller(), 0);
    net_->sent.clear();

    Pass(20000);
    Pass();
    Pass(5000);
    EXPECT_EQ(Named("OnVehicleDeath"), (std::vector<std::string>{"gm:OnVehicleDeath(1,0)"}));
    EXPECT_TRUE(Named("OnVehicleSpawn").empty());
    Pass(5000);  // exactly ten seconds since the death
    EXPECT_TRUE(Named("OnVehicleSpawn").empty());
    Pass(1);
    EXPECT_EQ(Named("OnVehicleSpawn"), (std::vector<std::string>{"gm:OnVehicleSpawn(1)"}));
    EXPECT_EQ(Named("OnVehicleDeath").size(), 1u);
    EXPECT_FALSE(vehicle(id)->IsDead());
    EXPECT_EQ(vehicle(id)->GetHealth(), 1000.0f);
    EXPECT_EQ(vehicle(id)->GetPosition().x, 0.0f);
    EXPECT_FALSE(player(0)->IsVehicleStreamedIn(id));
    EXPECT_EQ(RpcsTo(0, RPC_VehicleStreamOut).size(), 1u);

    // A client's report of the blast: the reporter is the killer. The die decides when it is back.
    See(0, id);
    BitStream destroyed;
    destroyed.Write(id);
    CallRpc(RPC_VehicleDestroyed, 0, destroyed);
    vehicles()->SetRandom([] { return 7; });
    Pass();
    EXPECT_EQ(Named("OnVehicleDeath").size(), 2u);
    Pass(20000);
    EXPECT_TRUE(vehicle(id)->IsDead());
    vehicles()->SetRandom([] { return 40; });
    Pass();
    EXPECT_FALSE(vehicle(id)->IsDead());
    EXPECT_EQ(Named("OnVehicleSpawn").size(), 2u);
}

TEST_F(VehicleTest, IdleVehiclesRespawnOnlyWhenLeftAloneLongEnough) {
    scripts_.gameModePublics["OnVehicleSpawn"] = 1;
    struct Case {
        const char* what;
        int32_t model;
        int32_t delay;
        bool used, occupied;
        uint32_t idleMs;
        bool respawns;
    };
    const Case cases[] = {
        {"left alone past its delay", 411, 15000, true, false, 15000, true},
        {"one millisecond short", 411, 15000, true, false, 14999, false},
        {"never used since its spawn", 411, 15000, false, false, 60000, false},
        {"no delay", 411, 0, true, false, 60000, false},
        {"someone sits in it", 411, 15000, true, true, 60000, false},
        {"a locomotive", 538, 15000, true, false, 60000, false},
        {"a carriage", 569, 15000, true, false, 60000, false},
        {"a short delay, but not ten seconds since its spawn", 411, 1000, true, false, 9999, false},
    };
    JoinAt(0, "Someone", 0.0f, 0.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.Clear();
        const uint16_t id = vehicles()->New(c.model, {0.0f, 0.0f, 10.0f}, 0.0f, 1, 1, c.delay);
        if (c.used) {
            See(0, id);
            vehicle(id)->UpdateFromSync(0, vehicle(id)->GetMatrix(), 1000.0f, 0, true);
        }
        player(0)->SetVehicleId(c.occupied ? id : 0);
        player(0)->SetState(c.occupied ? PLAYER_STATE_PASSENGER : PLAYER_STATE_ONFOOT);
        Pass(c.idleMs);
        EXPECT_EQ(Named("OnVehicleSpawn").size(), c.respawns ? 1u : 0u);
        vehicles()->Delete(id);
    }
}

TEST_F(VehicleTest, ModShopEventsAskTheScriptsAndReachTheOtherStreamers) {
    scripts_.gameModePublics["OnVehicleMod"] = 1;
    scripts_.gameModePublics["OnVehiclePaintjob"] = 1;
    scripts_.gameModePublics["OnVehicleRespray"] = 1;
    scripts_.gameModePublics["OnEnterExitModShop"] = 1;
    const uint16_t id = DriverAndWatcher(400);
    const uint16_t other = AddVehicle(400, 1.0f, 1.0f);
    See(0, other);
    auto mod = [&](int32_t vehicle, int32_t v1, int32_t v2, int32_t type) {
        BitStream bs;
        bs.Write(vehicle);
        bs.Write(v1);
        bs.Write(v2);
        bs.Write(type);
        net_->sent.clear();
        scripts_.Clear();
        CallRpc(RPC_VehicleModEvent, 0, bs);
    };
    struct Case {
        const char* what;
        int32_t vehicle, v1, v2, type;
        bool refuse;
        const char* callback;  // nullptr: the scripts are not asked
        bool relayed;          // VehicleModEvent to the watcher, never to the buyer
        bool takenBack;        // VehicleComponentRemove to the buyer
    };
    const Case cases[] = {
        {"a part for every model", id, 1010, 0, 2, false, "gm:OnVehicleMod(0,1,1010)", true, false},
        {"a part for another model", id, 1026, 0, 2, false, nullptr, false, false},
        {"a part no vehicle keeps", id, 1086, 0, 2, false, "gm:OnVehicleMod(0,1,1086)", false, false},
        {"a part the gamemode refuses", id, 1013, 0, 2, true, "gm:OnVehicleMod(0,1,1013)", false, true},
        {"the high bits of a part", id, 0x10000 + 1010, 0, 2, false, "gm:OnVehicleMod(0,1,1010)", true,
         false},
        {"a paint job", id, 2, 0, 1, false, "gm:OnVehiclePaintjob(0,1,2)", true, false},
        {"a paint job the record cannot keep", id, 255, 0, 1, false, nullptr, false, false},
        {"a respray", id, 7, 8, 3, false, "gm:OnVehicleRespray(0,1,7,8)", true, false},
        {"a refused respray", id, 7, 9, 3, true, "gm:OnVehicleRespray(0,1,7,9)", false, false},
        {"the mod shop", id, 1, 5, 4, false, "gm:OnEnterExitModShop(0,1,5)", true, false},
        {"an unknown event", id, 1, 5, 9, false, nullptr, false, false},
        {"a vehicle he is not in", other, 1010, 0, 2, false, nullptr, false, false},
        {"no vehicle", 5000, 1010, 0, 2, false, nullptr, false, false},
        {"a negative id", -1, 1010, 0, 2, false, nullptr, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.onRun = [&](ScriptCall& call) {
            if (c.refuse) call.result = 0;
        };
        mod(c.vehicle, c.v1, c.v2, c.type);
        scripts_.onRun = nullptr;
        std::vector<std::string> ran;
        for (const std::string& call : Calls())
            if (call.rfind("gm:OnVehicle", 0) == 0 || call.rfind("gm:OnEnter", 0) == 0) ran.push_back(call);
        EXPECT_EQ(ran,
                  c.callback != nullptr ? std::vector<std::string>{c.callback} : std::vector<std::string>{});
        const auto relayed = RpcsTo(1, RPC_VehicleModEvent);
        EXPECT_EQ(relayed.size(), c.relayed ? 1u : 0u);
        if (!relayed.empty()) {
            EXPECT_EQ(Reader(relayed[0]).Get<uint16_t>(), 0);  // the buyer
        }
        EXPECT_TRUE(RpcsTo(0, RPC_VehicleModEvent).empty());
        EXPECT_EQ(RpcsTo(0, RPC_VehicleComponentRemove).size(), c.takenBack ? 1u : 0u);
    }
    EXPECT_EQ(vehicle(id)->GetComponentInSlot(5), 1010);
    EXPECT_EQ(vehicle(id)->GetComponentInSlot(4), 0);
    EXPECT_EQ(vehicle(id)->GetPaintjobByte(), 3);
    EXPECT_EQ(vehicle(id)->GetResprayColour2(), 8);
}

TEST_F(VehicleTest, UnoccupiedRecordsComeOnlyFromTheNearestPlayer) {
    scripts_.gameModePublics["OnUnoccupiedVehicleUpdate"] = 1;
    JoinAt(0, "Near", 2.0f, 0.0f);
    JoinAt(1, "Far", 9.0f, 0.0f);
    JoinAt(2, "Watcher", 30.0f, 0.0f);
    const uint16_t id = AddVehicle(411, 0.0f, 0.0f);
    for (uint16_t p : {0, 1, 2}) See(p, id);
    auto push = [&](uint16_t from, uint8_t seat, Vector3 position, Vector3 right = {1, 0, 0},
                    float health = 990.0f) {
        UnoccupiedSyncRecord r;
        r.vehicleId = id;
        r.seat = seat;
        r.right = right;
        r.up = {0.0f, 1.0f, 0.0f};
        r.position = position;
        r.velocity = {0.1f, 0.0f, 0.0f};
        r.vehicleHealth = health;
        net_->sent.clear();
        scripts_.Clear();
        SendPacket(from, SyncPacket(ID_UNOCCUPIED_SYNC, r));
        game_->GetPlayerPool()->Process(0.01f);
    };

    push(1, 0, {1.0f, 0.0f, 10.0f});
    EXPECT_EQ(vehicle(id)->GetPosition().x, 0.0f);
    EXPECT_TRUE(Calls().empty());

    push(0, 0, {1.0f, 0.0f, 10.0f});
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.0f);
    EXPECT_EQ(vehicle(id)->GetHealth(), 1000.0f);  // not a passenger: the health is not taken
    EXPECT_EQ(Named("OnUnoccupiedVehicleUpdate").size(), 1u);
    EXPECT_TRUE(PacketsTo(0, ID_UNOCCUPIED_SYNC).empty());
    EXPECT_EQ(PacketsTo(1, ID_UNOCCUPIED_SYNC).size(), 1u);
    ASSERT_EQ(PacketsTo(2, ID_UNOCCUPIED_SYNC).size(), 1u);
    EXPECT_EQ(PacketsTo(2, ID_UNOCCUPIED_SYNC)[0].bytes.size(), 3u + UnoccupiedSyncRecord::kSize);

    // Numbers no vehicle can have, from the right player, move nothing.
    push(0, 0, {30000.0f, 0.0f, 10.0f});
    push(0, 0, {1.5f, 0.0f, 10.0f}, {kNaN, 0.0f, 0.0f});
    push(0, 0, {1.5f, 0.0f, 10.0f}, {1.0f, 0.0f, 0.0f}, kInf);
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.0f);

    // The gamemode's 0 keeps it where it was.
    scripts_.onRun = [](ScriptCall& call) { call.result = 0; };
    push(0, 0, {1.5f, 0.0f, 10.0f});
    scripts_.onRun = nullptr;
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.0f);
    EXPECT_TRUE(PacketsTo(2, ID_UNOCCUPIED_SYNC).empty());

    // A passenger moves it (and its health) while nobody drives it; the nearest rule is for empty
    // vehicles only.
    player(1)->SetVehicleId(id);
    player(1)->SetState(PLAYER_STATE_PASSENGER);
    push(0, 0, {1.6f, 0.0f, 10.0f});
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.0f);
    push(1, 1, {1.7f, 0.0f, 10.0f}, {1, 0, 0}, 650.0f);
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.7f);
    EXPECT_EQ(vehicle(id)->GetHealth(), 650.0f);
    player(0)->SetVehicleId(id);
    player(0)->SetState(PLAYER_STATE_DRIVER);
    push(1, 1, {1.8f, 0.0f, 10.0f});
    EXPECT_EQ(vehicle(id)->GetPosition().x, 1.7f);
}

TEST_F(VehicleTest, VehicleReportsCheckTheirSender) {
    scripts_.gameModePublics["OnVehicleDamageStatusUpdate"] = 1;
    scripts_.gameModePublics["OnPlayerEnterVehicle"] = 1;
    scripts_.gameModePublics["OnPlayerExitVehicle"] = 1;
    const uint16_t id = DriverAndWatcher();
    JoinAt(2, "Passenger", 1.0f, 1.0f);
    See(2, id);
    player(2)->SetVehicleId(id);
    player(2)->SetState(PLAYER_STATE_PASSENGER);
    player(1)->StreamInPlayer(2);
    const auto damage = [&](uint16_t from) {
        BitStream bs;
        bs.Write(id);
        bs.Write(uint32_t(7));
        bs.Write(uint32_t(8));
        bs.Write(uint8_t(9));
        bs.Write(uint8_t(10));
        net_->sent.clear();
        scripts_.Clear();
        CallRpc(RPC_VehicleDamageStatus, from, bs);
    };
    damage(2);
    EXPECT_EQ(vehicle(id)->GetDamage().panels, 0);
    EXPECT_TRUE(net_->sent.empty());
    damage(0);
    EXPECT_EQ(vehicle(id)->GetDamage().tyres, 10);
    EXPECT_EQ(Named("OnVehicleDamageStatusUpdate"),
              (std::vector<std::string>{"gm:OnVehicleDamageStatusUpdate(1,0)"}));
    EXPECT_EQ(RpcsTo(1, RPC_VehicleDamageStatus).size(), 1u);
    EXPECT_TRUE(RpcsTo(0, RPC_VehicleDamageStatus).empty());

    struct Case {
        const char* what;
        uint8_t rpc;
        uint16_t vehicle;
        bool kicked;
        const char* callback;
    };
    const Case cases[] = {
        {"enter no vehicle", RPC_VehicleEnter, 0xFFFF, true, nullptr},
        {"enter a missing vehicle", RPC_VehicleEnter, 5, false, nullptr},
        {"enter the id after the last", RPC_VehicleEnter, 2000, false, nullptr},
        {"enter", RPC_VehicleEnter, id, false, "gm:OnPlayerEnterVehicle(2,1,1)"},
        {"exit a missing vehicle", RPC_VehicleExit, 5, false, nullptr},
        {"exit the id after the last", RPC_VehicleExit, 2000, false, nullptr},
        {"exit an id no client has", RPC_VehicleExit, 2001, true, nullptr},
        {"exit no vehicle", RPC_VehicleExit, 0xFFFF, true, nullptr},
        {"exit", RPC_VehicleExit, id, false, "gm:OnPlayerExitVehicle(2,1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!pool()->IsConnected(2)) {
            pool()->ReleaseRetired();
            JoinAt(2, "Passenger", 1.0f, 1.0f);
            player(1)->StreamInPlayer(2);
        }
        net_->sent.clear();
        net_->calls.clear();
        scripts_.Clear();
        BitStream bs;
        bs.Write(c.vehicle);
        if (c.rpc == RPC_VehicleEnter) bs.Write(uint8_t(1));
        CallRpc(c.rpc, 2, bs);
        EXPECT_EQ(Kicked(2), c.kicked);
        std::vector<std::string> ran;
        for (const std::string& call : Calls())
            if (call.find("Vehicle(") != std::string::npos) ran.push_back(call);
        EXPECT_EQ(ran,
                  c.callback != nullptr ? std::vector<std::string>{c.callback} : std::vector<std::string>{});
        EXPECT_EQ(RpcsTo(1, c.rpc).size(), c.callback != nullptr ? 1u : 0u);
    }

    // A blast only counts from someone who sees the vehicle.
    const uint16_t unseen = AddVehicle(411, 1.0f, 1.0f);
    BitStream destroyed;
    destroyed.Write(unseen);
    CallRpc(RPC_VehicleDestroyed, 0, destroyed);
    EXPECT_FALSE(vehicle(unseen)->IsDead());
}

TEST_F(VehicleTest, PassengersSirensAndTrailers) {
    scripts_.gameModePublics["OnVehicleSirenStateChange"] = 1;
    scripts_.gameModePublics["OnTrailerUpdate"] = 1;
    const uint16_t id = DriverAndWatcher();
    VehicleParams params = vehicle(id)->GetParams();
    params[VEHICLE_PARAM_CAR_DOORS] = 1;
    vehicle(id)->SetParams(params);

    InCarSyncRecord r = Driving(id, 1.0f, 2.0f);
    r.sirenState = 1;
    Drive(0, r);
    Drive(0, r);
    EXPECT_EQ(Named("OnVehicleSirenStateChange"),
              (std::vector<std::string>{"gm:OnVehicleSirenStateChange(0,1,1)"}));
    EXPECT_EQ(vehicle(id)->GetParams()[VEHICLE_PARAM_SIREN], 1);
    EXPECT_EQ(vehicle(id)->GetParams()[VEHICLE_PARAM_CAR_DOORS], -1);

    // A passenger sits where his vehicle is, whatever his record says.
    JoinAt(2, "Passenger", 50.0f, 50.0f);
    See(2, id);
    auto ride = [&](uint16_t vehicleId, Vector3 position) {
        PassengerSyncRecord p;
        p.vehicleId = vehicleId;
        p.seat = 2;
        p.position = position;
        SendPacket(2, SyncPacket(ID_PASSENGER_SYNC, p));
    };
    ride(id, {70.0f, 70.0f, 10.0f});
    EXPECT_EQ(player(2)->GetState(), PLAYER_STATE_PASSENGER);
    EXPECT_EQ(player(2)->GetSeat(), 2);
    EXPECT_EQ(player(2)->GetPosition().x, 1.0f);
    ride(id, {kNaN, 0.0f, 0.0f});
    ride(2000, {0.0f, 0.0f, 0.0f});
    EXPECT_FALSE(Kicked(2));
    ride(2001, {0.0f, 0.0f, 0.0f});
    EXPECT_TRUE(Kicked(2));

    // A trailer named in the driver's record follows his rotation at its own place.
    const uint16_t trailer = AddVehicle(435, 0.0f, -8.0f);
    See(0, trailer);
    See(1, trailer);
    r.trailerId = trailer;
    r.rotation = {0.0f, 0.0f, 0.0f, 1.0f};
    Drive(0, r);
    EXPECT_EQ(vehicle(id)->GetTrailer(), trailer);
    TrailerSyncRecord t;
    t.trailerId = trailer;
    t.position = {1.0f, -6.0f, 10.0f};
    t.velocity = {0.0f, 0.25f, 0.0f};
    net_->sent.clear();
    SendPacket(0, SyncPacket(ID_TRAILER_SYNC, t));
    game_->GetPlayerPool()->Process(0.01f);
    EXPECT_EQ(vehicle(trailer)->GetPosition().y, -6.0f);
    EXPECT_EQ(vehicle(trailer)->GetZAngle(), 180.0f);
    EXPECT_EQ(vehicle(trailer)->GetVelocity().y, 0.25f);
    EXPECT_EQ(Named("OnTrailerUpdate"), (std::vector<std::string>{"gm:OnTrailerUpdate(0,2)"}));
    EXPECT_EQ(PacketsTo(1, ID_TRAILER_SYNC).size(), 1u);
    t.position.x = kNaN;
    SendPacket(0, SyncPacket(ID_TRAILER_SYNC, t));
    EXPECT_EQ(vehicle(trailer)->GetPosition().x, 1.0f);
}

}  // namespace
}  // namespace velt::test
