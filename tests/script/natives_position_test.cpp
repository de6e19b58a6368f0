// Player position, movement and vehicle-seat natives, called from a real script on a game server
// whose fake transport records every RPC: one table row per native with its main path and its
// RPC bytes, run over good ids (n, 65536 + n, 0xFFFF0000 + n) and the bad-id sweep. Then what
// the rows cannot show: the queries in each player state, the range test at its boundary, and
// putting a player into a vehicle.

#include "server/natives/PlayerPositionNatives.h"

#include <functional>
#include <limits>
#include <vector>

#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecords.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;   // the player the rows act on; 0 and 7 are also connected
constexpr uint16_t kVehicle = 3;  // vehicles 1..3 exist, far apart, so that rows name vehicle 3
const Vector3 kVehicleAt[] = {{1.0f, 2.0f, 3.0f}, {3000.0f, 0.0f, 0.0f}, {-3000.0f, 50.0f, 10.0f}};

cell F(float f) { return FloatToCell(f); }
std::vector<cell> Id(cell id) { return {id}; }

class PositionNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer);
        // No map-marker packet may slip in between the natives' RPCs when a player is moved.
        game_->world.playerMarkerMode = 0;
        for (const Vector3& at : kVehicleAt) game_->GetVehiclePool()->New(411, at, 0.0f, 1, 1, -1);
        alice = game_->GetPlayerPool()->GetAt(kPlayer);
        net_->sent.clear();
    }

    // Alice on foot at (1, 2, 3) with the record's other values.
    OnFootSyncRecord Walking() {
        OnFootSyncRecord r;
        r.position = {1.0f, 2.0f, 3.0f};
        r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
        r.health = 75;
        r.armour = 20;
        r.lrKeys = 0xFF80;  // -128
        r.udKeys = 128;
        r.keys = 0x1234;
        r.specialAction = 68;
        r.velocity = {0.25f, -0.5f, 1.0f};
        r.surfingId = 3;
        return r;
    }
    void Walk(const OnFootSyncRecord& r) {
        alice->StoreOnFootSync(r);
        net_->sent.clear();
    }
    void Drive() {
        alice->StreamInVehicle(1, false);
        InCarSyncRecord r;
        r.vehicleId = 1;
        r.position = kVehicleAt[0];
        r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
        r.vehicleHealth = 1000.0f;
        r.playerHealth = 90;
        r.lrKeys = 0x7F;
        r.udKeys = 0x8000;  // -32768
        r.keys = 8;
        alice->StoreInCarSync(r);
        net_->sent.clear();
    }
    void Ride(uint8_t seat) {
        alice->StreamInVehicle(1, false);
        PassengerSyncRecord r;
        r.vehicleId = 1;
        r.seat = seat;
        r.health = 90;
        r.keys = 4;
        alice->StorePassengerSync(r);
        net_->sent.clear();
    }
    void Spectate() {
        SpectatorSyncRecord r;
        r.keys = 2;
        r.position = {5.0f, 5.0f, 5.0f};
        alice->StoreSpectatorSync(r);
        net_->sent.clear();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }

    NativeScript script{"natives_position", ScriptKind::GameMode, -1, nullptr};
    Player* alice = nullptr;
};

TEST_F(PositionNatives, EveryNativeOnGoodAndBadIds) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc(std::vector<cell>(6, -7));
    const auto outAt = [&](int i) { return out + i * 4; };
    const auto readOut = [&](size_t n) { return m.Read(out, n); };
    const auto expectOut = [&](std::vector<cell> want) {
        return [&, want] { EXPECT_EQ(readOut(want.size()), want); };
    };
    Walk(Walking());
    BulletSyncRecord shot;
    shot.origin = {1.5f, 2.5f, 3.5f};
    shot.hitPosition = {-4.0f, 8.0f, 0.5f};
    alice->StoreLastShot(shot);
    alice->SetInterior(17);
    game_->GetVehiclePool()->Get(kVehicle)->SetVelocity({0.5f, 0.0f, -2.0f});
    const auto vector3 = [](cell id, float x, float y, float z) {
        return std::vector<cell>{id, F(x), F(y), F(z)};
    };
    const auto refs3 = [&](cell id) { return std::vector<cell>{id, outAt(0), outAt(1), outAt(2)}; };
    // Vehicle 1 is already streamed in for Alice and she stands where it is: nothing but the
    // command goes out.
    const auto seatReady = [&] {
        alice->StreamInVehicle(1, false);
        Walk(Walking());
    };

    const std::vector<NativeRow> rows = {
        {"SetPlayerWorldBounds",
         [](cell id) {
             return std::vector<cell>{id, F(100.0f), F(-100.0f), F(50.5f), F(-50.5f)};
         },
         1,
         0,
         {{RPC_PlayerWorldBoundsSet, kPlayer, Cat({F32(100.0f), F32(-100.0f), F32(50.5f), F32(-50.5f)})}}},
        {"GetPlayerPos", refs3, 1, 0, {}, {}, expectOut({F(1.0f), F(2.0f), F(3.0f)})},
        {"SetPlayerPos",
         [&](cell id) { return vector3(id, 4.0f, -5.0f, 6.5f); },
         1,
         0,
         {{RPC_PlayerPosSet, kPlayer, Cat({F32(4.0f), F32(-5.0f), F32(6.5f)})}}},
        {"SetPlayerPosFindZ",
         [&](cell id) { return vector3(id, 7.0f, 8.0f, 9.0f); },
         1,
         0,
         {{RPC_PlayerPosFindZ, kPlayer, Cat({F32(7.0f), F32(8.0f), F32(9.0f)})}}},
        {"GetPlayerLastShotVectors",
         [&](cell id) {
             return std::vector<cell>{id, outAt(0), outAt(1), outAt(2), outAt(3), outAt(4), outAt(5)};
         },
         1,
         0,
         {},
         {},
         expectOut({F(1.5f), F(2.5f), F(3.5f), F(-4.0f), F(8.0f), F(0.5f)})},
        {"GetPlayerHealth",
         [&](cell id) {
             return std::vector<cell>{id, out};
         },
         1,
         0,
         {},
         {},
         expectOut({F(75.0f)})},
        {"SetPlayerHealth",
         [](cell id) {
             return std::vector<cell>{id, F(50.5f)};
         },
         1,
         0,
         {{RPC_PlayerHealthSet, kPlayer, F32(50.5f)}}},
        {"GetPlayerArmour",
         [&](cell id) {
             return std::vector<cell>{id, out};
         },
         1,
         0,
         {},
         {},
         expectOut({F(20.0f)})},
        {"SetPlayerArmour",
         [](cell id) {
             return std::vector<cell>{id, F(99.0f)};
         },
         1,
         0,
         {{RPC_PlayerArmourSet, kPlayer, F32(99.0f)}}},
        {"GetPlayerFacingAngle",
         [&](cell id) {
             return std::vector<cell>{id, out};
         },
         1,
         0,
         {},
         {},
         [&] { EXPECT_EQ(readOut(1), std::vector<cell>{F(alice->GetFacingAngle())}); }},
        {"SetPlayerFacingAngle",
         [](cell id) {
             return std::vector<cell>{id, F(270.0f)};
         },
         1,
         0,
         {{RPC_PlayerFacingAngleSet, kPlayer, F32(270.0f)}}},
        // (1, 2, 3) to (4, 6, 3) is 5 exactly: on the sphere counts as inside.
        {"IsPlayerInRangeOfPoint",
         [](cell id) {
             return std::vector<cell>{id, F(5.0f), F(4.0f), F(6.0f), F(3.0f)};
         },
         1,
         0,
         {}},
        {"GetPlayerDistanceFromPoint",
         [&](cell id) { return vector3(id, 4.0f, 6.0f, 3.0f); },
         F(5.0f),
         F(0.0f),
         {}},
        // Vehicle 3 stands at (-3000, 50, 10).
        {"GetVehicleDistanceFromPoint",
         [&](cell id) { return vector3(id, -3000.0f, 50.0f, 22.0f); },
         F(12.0f),
         F(0.0f),
         {}},
        {"GetVehicleVelocity", refs3, 1, 0, {}, {}, expectOut({F(0.5f), F(0.0f), F(-2.0f)})},
        {"PutPlayerInVehicle",
         [](cell id) {
             return std::vector<cell>{id, 1, 0x102};
         },
         1,
         0,
         {{RPC_PutInVehicle, kPlayer, Cat({U16(1), U8(2)})}},
         seatReady},
        {"PutPlayerInVehicle",
         [](cell id) {
             return std::vector<cell>{kPlayer, id, 0};
         },
         1,
         0,
         {{RPC_PutInVehicle, kPlayer, Cat({U16(kVehicle), U8(0)})}},
         [&] {
             Walk(Walking());
             alice->StreamOutVehicle(1);
             alice->StreamInVehicle(kVehicle, false);
             net_->sent.clear();
         }},
        {"RemovePlayerFromVehicle", Id, 1, 0, {{RPC_RemoveFromVehicle, kPlayer, {}}}},
        {"SetPlayerInterior",
         [](cell id) {
             return std::vector<cell>{id, 0x1FF};
         },
         1,
         0,
         {{RPC_PlayerInteriorSet, kPlayer, U8(0xFF)}}},
        {"GetPlayerInterior", Id, 17, 0, {}},
        {"SetPlayerSpecialAction",
         [](cell id) {
             return std::vector<cell>{id, 0x10B};
         },
         1,
         0,
         {{RPC_SpecialActionSet, kPlayer, U8(0x0B)}}},
        {"SetPlayerVelocity",
         [&](cell id) { return vector3(id, 0.0f, 0.0f, 0.75f); },
         1,
         0,
         {{RPC_PlayerVelocitySet, kPlayer, Cat({F32(0.0f), F32(0.0f), F32(0.75f)})}}},
        // The byte goes as given; the stored flag is only whether the argument is non-zero.
        {"TogglePlayerControllable",
         [](cell id) {
             return std::vector<cell>{id, 256};
         },
         1,
         0,
         {{RPC_PlayerControllableToggle, kPlayer, U8(0)}},
         [&] { alice->SetControllable(false); },
         [&] { EXPECT_TRUE(alice->IsControllable()); }},
        // On foot, so the queries about seats have their "not in a vehicle" answers.
        {"GetPlayerVehicleID", Id, 0, 0, {}, [&] { Walk(Walking()); }},
        {"GetPlayerVehicleSeat", Id, -1, -1, {}},
        {"IsPlayerInAnyVehicle", Id, 0, 0, {}},
        {"GetPlayerSurfingVehicleID", Id, 3, 0xFFFF, {}},
        {"GetPlayerSurfingObjectID", Id, 0xFFFF, 0xFFFF, {}},
        {"GetPlayerSpecialAction", Id, 68, 0, {}},
        {"GetPlayerVelocity", refs3, 1, 0, {}, {}, expectOut({F(0.25f), F(-0.5f), F(1.0f)})},
        {"GetPlayerKeys", refs3, 1, 0, {}, {}, expectOut({0x1234, 128, -128})},
    };
    const size_t logged = LogLines().size();
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    EXPECT_EQ(LogLines().size(), logged);  // nothing logged, good ids or bad

    // The rows with two ids, swept on the other one.
    const std::vector<NativeRow> second = {
        {"IsPlayerInVehicle",
         [](cell id) {
             return std::vector<cell>{kPlayer, id};
         },
         0,
         0,
         {}},
    };
    RunNativeRows(script, *net_, second, {}, {5, 1000, 65535, -1});
}

// A failed query still leaves the script's variables defined: zeros, not what was there before.
TEST_F(PositionNatives, GetPlayerVelocityWritesZerosWhenItFails) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({-1, -1, -1});
    Walk(Walking());
    Drive();
    EXPECT_EQ(script.Call("GetPlayerVelocity", {kPlayer, out, out + 4, out + 8}).value, 0);
    EXPECT_EQ(m.Read(out, 3), (std::vector<cell>{0, 0, 0}));
    const cell other = m.Alloc({-1, -1, -1});
    EXPECT_EQ(script.Call("GetPlayerVelocity", {1000, other, other + 4, other + 8}).value, 0);
    EXPECT_EQ(m.Read(other, 3), (std::vector<cell>{0, 0, 0}));
}

// What the state-dependent queries answer in each state the player's records put him in.
TEST_F(PositionNatives, QueriesFollowThePlayersState) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({-9, -9, -9});
    struct Case {
        const char* state;
        std::function<void()> enter;
        cell vehicleId, seat, inAny, inVehicle1, surfVehicle, surfObject, action, velocity, keys;
        std::vector<cell> keyValues;  // keys, up/down, left/right when GetPlayerKeys answers 1
    };
    OnFootSyncRecord onObject = Walking();
    onObject.surfingId = 2005;
    game_->GetObjectPool()->Create(1337, {}, {}, 100.0f);  // ids 1..5, so that object 5 exists
    for (int i = 0; i < 4; ++i) game_->GetObjectPool()->Create(1337, {}, {}, 100.0f);
    const Case cases[] = {
        {"on foot on vehicle 3",
         [&] { Walk(Walking()); },
         0,
         -1,
         0,
         0,
         3,
         0xFFFF,
         68,
         1,
         1,
         {0x1234, 128, -128}},
        {"on foot on object 5",
         [&] { Walk(onObject); },
         0,
         -1,
         0,
         0,
         0xFFFF,
         5,
         68,
         1,
         1,
         {0x1234, 128, -128}},
        {"driver", [&] { Drive(); }, 1, 0, 1, 1, 0xFFFF, 0xFFFF, 0, 0, 1, {8, -32768, 127}},
        {"passenger", [&] { Ride(2); }, 1, 2, 1, 1, 0xFFFF, 0xFFFF, 0, 0, 1, {4, 0, 0}},
        {"spectating", [&] { Spectate(); }, 0, -1, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 1, {2, 0, 0}},
        {"dead", [&] { alice->SetState(PLAYER_STATE_WASTED); }, 0, -1, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        c.enter();
        const auto call = [&](const char* native, std::vector<cell> args) {
            return script.Call(native, args).value;
        };
        EXPECT_EQ(call("GetPlayerVehicleID", {kPlayer}), c.vehicleId);
        EXPECT_EQ(call("GetPlayerVehicleSeat", {kPlayer}), c.seat);
        EXPECT_EQ(call("IsPlayerInAnyVehicle", {kPlayer}), c.inAny);
        EXPECT_EQ(call("IsPlayerInVehicle", {kPlayer, 1}), c.inVehicle1);
        EXPECT_EQ(call("IsPlayerInVehicle", {kPlayer, 65536 + 1}), c.inVehicle1);
        EXPECT_EQ(call("IsPlayerInVehicle", {kPlayer, 2}), 0);
        EXPECT_EQ(call("GetPlayerSurfingVehicleID", {kPlayer}), c.surfVehicle);
        EXPECT_EQ(call("GetPlayerSurfingObjectID", {kPlayer}), c.surfObject);
        EXPECT_EQ(call("GetPlayerSpecialAction", {kPlayer}), c.action);
        EXPECT_EQ(call("GetPlayerVelocity", {kPlayer, out, out + 4, out + 8}), c.velocity);
        const cell keys = m.Alloc({-9, -9, -9});
        EXPECT_EQ(call("GetPlayerKeys", {kPlayer, keys, keys + 4, keys + 8}), c.keys);
        EXPECT_EQ(m.Read(keys, 3), c.keys ? c.keyValues : (std::vector<cell>{-9, -9, -9}));
        EXPECT_TRUE(TakeRpcs().empty());
    }
}

// The squared distance is compared in extended precision: points where float sums would tip the
// answer the wrong way.
TEST_F(PositionNatives, RangeTestHoldsAtItsBoundary) {
    struct Case {
        Vector3 player;
        float range;
        Vector3 point;
        cell inside;
    };
    const Case cases[] = {
        {{3.0f, 4.0f, 0.0f}, 5.0f, {0.0f, 0.0f, 0.0f}, 1},
        {{3.0f, 4.0f, 0.0f}, 4.9999995f, {0.0f, 0.0f, 0.0f}, 0},
        {{0.0f, 0.0f, 0.0f}, -5.0f, {3.0f, 4.0f, 0.0f}, 1},  // only the square of the range counts
        {{2894.526611328125f, 2234.446533203125f, -42.13896560668945f},
         49.610809326171875f,
         {2940.67431640625f, 2238.368896484375f, -24.35591697692871f},
         0},
        {{270.8642272949219f, -1125.2977294921875f, -36.6400032043457f},
         63.65791702270508f,
         {238.61199951171875f, -1167.4781494140625f, -71.7531967163086f},
         1},
        {{0.0f, 0.0f, 0.0f}, std::numeric_limits<float>::quiet_NaN(), {0.0f, 0.0f, 0.0f}, 0},
    };
    for (const Case& c : cases) {
        OnFootSyncRecord r = Walking();
        r.position = c.player;
        Walk(r);
        EXPECT_EQ(script
                      .Call("IsPlayerInRangeOfPoint",
                            {kPlayer, F(c.range), F(c.point.x), F(c.point.y), F(c.point.z)})
                      .value,
                  c.inside)
            << c.range;
    }
}

TEST_F(PositionNatives, PutPlayerInVehicleStreamsItInMovesHimAndSeatsTheDriver) {
    Vehicle* far = game_->GetVehiclePool()->Get(2);
    Walk(Walking());
    alice->StreamInVehicle(1, false);
    net_->sent.clear();
    ASSERT_FALSE(alice->IsVehicleStreamedIn(2));
    // A passenger seat: the vehicle's driver stays who he was.
    far->SetDriver(7);
    EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, 2, 1}).value, 1);
    const std::vector<Rpc> sent = TakeRpcs();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.front().id, RPC_VehicleStreamIn);  // the client knows the vehicle first
    EXPECT_EQ(sent.back(), (Rpc{RPC_PutInVehicle, kPlayer, Cat({U16(2), U8(1)})}));
    EXPECT_TRUE(alice->IsVehicleStreamedIn(2));
    EXPECT_EQ(far->GetDriver(), 7);
    EXPECT_EQ(alice->GetVehicleId(), 2);
    EXPECT_EQ(alice->GetPosition().x, 3000.0f);
    EXPECT_TRUE(alice->IsServerPositionSet());
    // The old place is out of range now: vehicle 1 went out with the move.
    EXPECT_FALSE(alice->IsVehicleStreamedIn(1));

    EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, 2, 256}).value, 1);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_PutInVehicle, kPlayer, Cat({U16(2), U8(0)})}}));
    EXPECT_EQ(far->GetDriver(), kPlayer);

    // No vehicle 4, or a pool id that was never a vehicle: nothing happens.
    for (cell vehicle : {4, 0, 2000, 65535, -1}) {
        EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, vehicle, 0}).value, 0) << vehicle;
    }
    EXPECT_TRUE(TakeRpcs().empty());
}

// The command names a vehicle the client must already know; when it cannot be shown to him, or
// the callbacks of the move kick him or destroy the vehicle, nothing is sent and the answer is 0.
TEST_F(PositionNatives, PutPlayerInVehicleSendsNothingForAVehicleHeCannotHave) {
    Walk(Walking());
    alice->SetDownloading(true);
    EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, 2, 0}).value, 0);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(game_->GetVehiclePool()->Get(2)->GetDriver(), kNoPlayer);
    alice->SetDownloading(false);

    scripts_.gameModePublics["OnVehicleStreamIn"] = 1;
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnVehicleStreamIn") game_->GetVehiclePool()->Delete(2);
    };
    EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, 2, 0}).value, 0);
    EXPECT_TRUE(net_->Rpcs(RPC_PutInVehicle).empty());

    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnVehicleStreamIn") game_->KickPlayer(kPlayer);
    };
    EXPECT_EQ(script.Call("PutPlayerInVehicle", {kPlayer, kVehicle, 0}).value, 0);
    EXPECT_FALSE(game_->GetPlayerPool()->IsConnected(kPlayer));
    EXPECT_TRUE(net_->Rpcs(RPC_PutInVehicle).empty());
    scripts_.onRun = nullptr;
}

// Only a driving client moves a vehicle: an empty one is not pushed; a driven one's driver is told.
TEST_F(PositionNatives, VehicleVelocityGoesToTheDriverOnly) {
    const std::vector<cell> args = {1, F(1.0f), F(0.0f), F(-0.5f)};
    EXPECT_EQ(script.Call("SetVehicleVelocity", args).value, 0);
    EXPECT_EQ(script.Call("SetVehicleAngularVelocity", args).value, 0);
    EXPECT_TRUE(TakeRpcs().empty());
    Drive();
    const Bytes xyz = Cat({F32(1.0f), F32(0.0f), F32(-0.5f)});
    EXPECT_EQ(script.Call("SetVehicleVelocity", args).value, 1);
    EXPECT_EQ(script.Call("SetVehicleAngularVelocity", args).value, 1);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_VehicleVelocitySet, kPlayer, Cat({U8(0), xyz})},
                                            {RPC_VehicleVelocitySet, kPlayer, Cat({U8(1), xyz})}}));
    // A passenger is no driver.
    Ride(1);
    EXPECT_EQ(script.Call("SetVehicleVelocity", args).value, 0);
    for (cell bad : {2, 5, 1000, 65535, -1})
        EXPECT_EQ(script.Call("SetVehicleVelocity", {bad, F(1.0f), F(0.0f), F(0.0f)}).value, 0) << bad;
    EXPECT_TRUE(TakeRpcs().empty());
}

// What a script is told comes back only through the client: a set position is not read back.
TEST_F(PositionNatives, SettersChangeNothingTheQueriesRead) {
    ScriptMemory& m = script.mem;
    Walk(Walking());
    const cell out = m.Alloc({0, 0, 0});
    EXPECT_EQ(script.Call("SetPlayerPos", {kPlayer, F(50.0f), F(60.0f), F(70.0f)}).value, 1);
    EXPECT_EQ(script.Call("SetPlayerHealth", {kPlayer, F(5.0f)}).value, 1);
    EXPECT_EQ(script.Call("SetPlayerInterior", {kPlayer, 3}).value, 1);
    EXPECT_EQ(script.Call("GetPlayerPos", {kPlayer, out, out + 4, out + 8}).value, 1);
    EXPECT_EQ(m.Read(out, 3), (std::vector<cell>{F(1.0f), F(2.0f), F(3.0f)}));
    EXPECT_EQ(script.Call("GetPlayerHealth", {kPlayer, out}).value, 1);
    EXPECT_EQ(m.Read(out, 1), (std::vector<cell>{F(75.0f)}));
    EXPECT_EQ(script.Call("GetPlayerInterior", {kPlayer}).value, 0);
}

}  // namespace
}  // namespace velt::scripttest
