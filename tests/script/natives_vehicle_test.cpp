// The vehicle natives called from a real script on a game server whose fake transport records
// every RPC: one table row per native with its main path and its payload, then the same call with
// ids that name no vehicle (or no player), which must give the failure value and send nothing.
// Then what the rows cannot show: the creating natives and their train rule, the component and
// model tables.

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"
#include "tests/script/natives_server_fixture.h"

namespace velt::scripttest {
namespace {

// Vehicle 3 and player 3 are the ones the rows act on (so one id sweep serves the natives taking a
// vehicle and those taking a player); players 3 and 7 have vehicle 3 streamed in, player 0 not.
constexpr uint16_t kId = 3;
constexpr int32_t kModel = 402;
constexpr float kSpawnAngle = 45.0f;

class VehicleNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kId);
        for (int i = 0; i < 4; ++i) vehicles()->New(400 + i, {10.0f, 20.0f, 3.0f}, kSpawnAngle, 1, 2, -1);
        StreamIn();
        net_->sent.clear();
    }

    VehiclePool* vehicles() { return game_->GetVehiclePool(); }
    Vehicle* vehicle() { return vehicles()->Get(kId); }
    void StreamIn() {
        for (uint16_t p : {kId, uint16_t(7)}) game_->GetPlayerPool()->GetAt(p)->StreamInVehicle(kId, false);
        net_->sent.clear();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }
    // The same RPC to the two players streaming vehicle 3.
    static std::vector<Rpc> ToStreamers(uint8_t id, const Bytes& payload) {
        return {{id, kId, payload}, {id, 7, payload}};
    }

    NativeScript script{"natives_vehicle", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(VehicleNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    std::vector<cell> refs;
    for (int i = 0; i < 7; ++i) refs.push_back(m.Value(-12345));
    const auto ref = [&](int i) { return m.Read(refs[i], 1)[0]; };
    const auto refFloat = [&](int i) { return CellToFloat(ref(i)); };
    const cell plate = m.Str("VELT 27");

    // A driver turned it a quarter to the left and hitched trailer 2: up row (-1, 0, 0).
    Matrix4 turned;
    turned.right = {0.0f, 1.0f, 0.0f, 0.0f};
    turned.up = {-1.0f, 0.0f, 0.0f, 0.0f};
    turned.at = {0.0f, 0.0f, 1.0f, 0.0f};
    turned.pos = {10.0f, 20.0f, 3.0f, 0.0f};
    vehicle()->UpdateFromSync(0xFFFF, turned, 1000.0f, 2, true);

    const Bytes noDamage = Cat({U16(kId), U32(0), U32(0), U8(0), U8(0)});
    const auto unset = [] { return std::vector<uint8_t>(16, 0xFF); };
    Bytes paramsEx = unset();
    for (int i = 0; i < 7; ++i) paramsEx[i] = uint8_t(i == 1 ? 0x81 : i);  // 0x181 -> its low byte
    Bytes doors = paramsEx;
    doors[8] = 1, doors[9] = 0, doors[10] = 1, doors[11] = 0;
    Bytes windows = doors;
    windows[12] = 0, windows[13] = 1, windows[14] = 0, windows[15] = 1;

    const std::vector<NativeRow> rows = {
        {"IsValidVehicle", [](cell id) { return std::vector<cell>{id}; }, 1, 0, {}},
        {"GetVehicleModel", [](cell id) { return std::vector<cell>{id}; }, kModel, 0, {}},
        {"GetVehiclePos",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ((std::vector<float>{refFloat(0), refFloat(1), refFloat(2)}),
                       (std::vector<float>{10.0f, 20.0f, 3.0f}));
         }},
        {"GetVehicleZAngle",
         [&](cell id) {
             return std::vector<cell>{id, refs[0]};
         },
         1,
         0,
         {},
         {},
         [&] { EXPECT_EQ(refFloat(0), 90.0f); }},
        {"GetVehicleRotationQuat",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2], refs[3]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_NEAR(refFloat(0), std::sqrt(0.5f), 1e-6);
             EXPECT_NEAR(std::fabs(refFloat(3)), std::sqrt(0.5f), 1e-6);
             EXPECT_EQ(refFloat(1), 0.0f);
             EXPECT_EQ(refFloat(2), 0.0f);
         }},
        // Nobody drives it: nothing to tell, nothing stored.
        {"SetVehicleZAngle",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(10.0f)};
         },
         1,
         0,
         {}},
        {"SetVehiclePos",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(11.0f), FloatToCell(21.0f), FloatToCell(4.0f)};
         },
         1,
         0,
         ToStreamers(RPC_VehiclePosSet, Cat({U16(kId), F32(11.0f), F32(21.0f), F32(4.0f)})),
         {},
         [&] { EXPECT_EQ(vehicle()->GetPosition().y, 21.0f); }},
        {"SetVehicleParamsForPlayer",
         [](cell id) {
             return std::vector<cell>{id, 7, 1, 0x101};
         },
         1,
         0,
         {{RPC_VehicleParamsSet, 7, Cat({U16(kId), U8(1), U8(1)})}}},
        {"SetVehicleParamsForPlayer",
         [](cell id) {
             return std::vector<cell>{kId, id, 0, 1};
         },
         1,
         0,
         {{RPC_VehicleParamsSet, kId, Cat({U16(kId), U8(0), U8(1)})}}},
        {"GetVehicleParamsSirenState", [](cell id) { return std::vector<cell>{id}; }, -1, 0, {}},
        {"SetVehicleParamsEx", [](cell id) { return std::vector<cell>{id, 0, 0x181, 2, 3, 4, 5, 6}; }, 1, 0,
         ToStreamers(RPC_VehicleParamsExSet, Cat({U16(kId), paramsEx}))},
        {"GetVehicleParamsEx",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2], refs[3], refs[4], refs[5], refs[6]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ(ref(1), -127);  // 0x81, sign-extended
             EXPECT_EQ(ref(6), 6);
         }},
        {"SetVehicleParamsCarDoors",
         [](cell id) {
             return std::vector<cell>{id, 1, 0, 1, 0};
         },
         1, 0, ToStreamers(RPC_VehicleParamsExSet, Cat({U16(kId), doors}))},
        {"GetVehicleParamsCarDoors",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2], refs[3]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ((std::vector<cell>{ref(0), ref(1), ref(2), ref(3)}), (std::vector<cell>{1, 0, 1, 0}));
         }},
        {"SetVehicleParamsCarWindows",
         [](cell id) {
             return std::vector<cell>{id, 0, 1, 0, 1};
         },
         1, 0, ToStreamers(RPC_VehicleParamsExSet, Cat({U16(kId), windows}))},
        {"GetVehicleParamsCarWindows",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2], refs[3]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ((std::vector<cell>{ref(0), ref(1), ref(2), ref(3)}), (std::vector<cell>{0, 1, 0, 1}));
         }},
        {"SetVehicleHealth",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(750.5f)};
         },
         1, 0, ToStreamers(RPC_VehicleHealthSet, Cat({U16(kId), F32(750.5f)}))},
        {"GetVehicleHealth",
         [&](cell id) {
             return std::vector<cell>{id, refs[0]};
         },
         1,
         0,
         {},
         {},
         [&] { EXPECT_EQ(refFloat(0), 750.5f); }},
        {"UpdateVehicleDamageStatus",
         [](cell id) {
             return std::vector<cell>{id, 1, 2, 0x103, 4};
         },
         1, 0, ToStreamers(RPC_VehicleDamageStatus, Cat({U16(kId), U32(1), U32(2), U8(3), U8(4)}))},
        {"GetVehicleDamageStatus",
         [&](cell id) {
             return std::vector<cell>{id, refs[0], refs[1], refs[2], refs[3]};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ((std::vector<cell>{ref(0), ref(1), ref(2), ref(3)}), (std::vector<cell>{1, 2, 3, 4}));
         }},
        {"RepairVehicle",
         [](cell id) { return std::vector<cell>{id}; },
         1,
         0,
         {{RPC_VehicleHealthSet, kId, Cat({U16(kId), F32(1000.0f)})},
          {RPC_VehicleHealthSet, 7, Cat({U16(kId), F32(1000.0f)})},
          {RPC_VehicleDamageStatus, kId, noDamage},
          {RPC_VehicleDamageStatus, 7, noDamage}}},
        // 1010 fits every model, in slot 5; the id's high bits are dropped.
        {"AddVehicleComponent",
         [](cell id) {
             return std::vector<cell>{id, 0x10000 + 1010};
         },
         1, 0, ToStreamers(RPC_VehicleModEvent, Cat({U16(0xFFFF), U32(2), U32(kId), U32(1010), U32(0)}))},
        {"GetVehicleComponentInSlot",
         [](cell id) {
             return std::vector<cell>{id, 0x105};
         },
         1010,
         0,
         {}},
        // A part for another model: refused, but the vehicle is there.
        {"AddVehicleComponent",
         [](cell id) {
             return std::vector<cell>{id, 1026};
         },
         1,
         0,
         {}},
        {"RemoveVehicleComponent",
         [](cell id) {
             return std::vector<cell>{id, 1010};
         },
         1, 0, ToStreamers(RPC_VehicleComponentRemove, Cat({U16(kId), U16(1010)})),
         [&] {
             vehicle()->AddComponent(0xFFFF, 1010);
             net_->sent.clear();
         }},
        {"ChangeVehicleColor",
         [](cell id) {
             return std::vector<cell>{id, 0x1FF, 0x102};
         },
         1, 0, ToStreamers(RPC_VehicleModEvent, Cat({U16(0xFFFF), U32(3), U32(kId), U32(0xFF), U32(2)}))},
        // 1 whenever there is a pool, vehicle or not.
        {"ChangeVehiclePaintjob",
         [](cell id) {
             return std::vector<cell>{id, 0x102};
         },
         1, 1, ToStreamers(RPC_VehicleModEvent, Cat({U16(0xFFFF), U32(1), U32(kId), U32(2), U32(0)}))},
        {"LinkVehicleToInterior",
         [](cell id) {
             return std::vector<cell>{id, 0x10F};
         },
         1,
         0,
         ToStreamers(RPC_VehicleInteriorLink, Cat({U16(kId), U8(0x0F)})),
         {},
         [&] { EXPECT_EQ(vehicle()->GetInterior(), 0x10F); }},
        {"IsTrailerAttachedToVehicle", [](cell id) { return std::vector<cell>{id}; }, 1, 0, {}},
        {"GetVehicleTrailer", [](cell id) { return std::vector<cell>{id}; }, 2, 0, {}},
        {"AttachTrailerToVehicle", [](cell id) { return std::vector<cell>{id, 1}; }, 1, 1,
         ToStreamers(RPC_TrailerAttach, Cat({U16(kId), U16(1)}))},
        {"AttachTrailerToVehicle", [](cell id) { return std::vector<cell>{1, id}; }, 1, 1, {}},
        {"DetachTrailerFromVehicle", [](cell id) { return std::vector<cell>{id}; }, 1, 1,
         ToStreamers(RPC_TrailerDetach, U16(kId))},
        // Plates travel with the stream-in message only.
        {"SetVehicleNumberPlate",
         [&](cell id) {
             return std::vector<cell>{id, plate};
         },
         1,
         0,
         {},
         {},
         [&] { EXPECT_EQ(vehicle()->GetNumberPlate(), "VELT 27"); }},
        {"DisableRemoteVehicleCollisions",
         [](cell id) { return std::vector<cell>{id, 5}; },
         1,
         0,
         {{RPC_RemoteVehicleCollisionsDisable, kId, Bytes{0x80}}}},
        {"SetVehicleToRespawn", [](cell id) { return std::vector<cell>{id}; }, 1, 0,
         ToStreamers(RPC_VehicleStreamOut, U16(kId)), [&] { StreamIn(); },
         [&] { EXPECT_EQ(vehicle()->GetComponentInSlot(5), 0); }},
        {"DestroyVehicle", [](cell id) { return std::vector<cell>{id}; }, 1, 0,
         ToStreamers(RPC_VehicleStreamOut, U16(kId)),
         [&] {
             if (!vehicles()->Exists(kId)) {
                 ASSERT_EQ(vehicles()->New(kModel, {}, 0.0f, 0, 0, -1), kId);
             }
             StreamIn();
         },
         [&] { EXPECT_FALSE(vehicles()->Exists(kId)); }},
    };
    // 5 is neither a vehicle nor a connected player.
    RunNativeRows(script, *net_, rows, {kId, 65536 + kId, static_cast<cell>(0xFFFF0000u) + kId},
                  {5, 1000, 2000, 65535, 65536 + 5, -1});
}

TEST_F(VehicleNatives, CreatingNativesAndTheTrainRule) {
    const auto create = [&](const char* native, int32_t model, std::vector<cell> extra = {}) {
        std::vector<cell> args = {
            model, FloatToCell(1.0f), FloatToCell(2.0f), FloatToCell(3.0f), FloatToCell(90.0f), 6, 7};
        args.insert(args.end(), extra.begin(), extra.end());
        return script.Call(native, args).value;
    };
    EXPECT_EQ(create("CreateVehicle", 399, {-1}), 0xFFFF);
    EXPECT_EQ(create("CreateVehicle", 612, {-1}), 0xFFFF);
    EXPECT_EQ(create("CreateVehicle", 538, {-1}), 0);
    EXPECT_TRUE(Logged("Only create trains with AddStaticVehicle/Ex"));
    EXPECT_EQ(vehicles()->GetUpperIndex(), 4);

    // The respawn delay in seconds becomes milliseconds; a ninth argument switches the siren on.
    EXPECT_EQ(create("CreateVehicle", 411, {30, 1}), 5);
    EXPECT_EQ(vehicles()->Get(5)->GetRespawnDelay(), 30000);
    EXPECT_TRUE(vehicles()->Get(5)->IsSirenEnabled());
    EXPECT_EQ(create("CreateVehicle", 411, {-1}), 6);
    EXPECT_EQ(vehicles()->Get(6)->GetRespawnDelay(), -1);
    EXPECT_FALSE(vehicles()->Get(6)->IsSirenEnabled());
    EXPECT_EQ(create("CreateVehicle", 411, {0x7FFFFFFF}), 7);
    EXPECT_EQ(vehicles()->Get(7)->GetRespawnDelay(), 0x7FFFFFFF);

    // An engine brings three carriages at its place; the engine's id is the answer.
    EXPECT_EQ(create("AddStaticVehicle", 538), 8);
    EXPECT_EQ(vehicles()->Get(8)->GetRespawnDelay(), 120000);
    for (uint16_t id = 9; id <= 11; ++id) {
        EXPECT_EQ(vehicles()->GetModel(id), 570);
        EXPECT_EQ(vehicles()->Get(id)->GetRespawnDelay(), -1);
        EXPECT_EQ(vehicles()->Get(id)->GetPosition().y, 2.0f);
    }
    EXPECT_EQ(create("AddStaticVehicleEx", 537, {10, 1}), 12);
    EXPECT_EQ(vehicles()->Get(12)->GetRespawnDelay(), 10000);
    EXPECT_TRUE(vehicles()->Get(12)->IsSirenEnabled());
    for (uint16_t id = 13; id <= 15; ++id) EXPECT_EQ(vehicles()->GetModel(id), 569);
    EXPECT_EQ(create("AddStaticVehicle", 612), 0xFFFF);

    while (vehicles()->New(400, {}, 0.0f, 0, 0, -1) != kNoVehicle) {}
    EXPECT_EQ(create("CreateVehicle", 400, {-1}), 0xFFFF);
    EXPECT_EQ(create("AddStaticVehicleEx", 400, {-1}), 0xFFFF);
    EXPECT_EQ(script.Call("ManualVehicleEngineAndLights", {}).value, 1);
    EXPECT_EQ(game_->world.manualVehicleEngineAndLights, 1);
}

TEST_F(VehicleNatives, ComponentTypesAndModelInformation) {
    const std::pair<cell, cell> types[] = {{999, -1},  {1000, 0},  {1087, 9},         {1086, 8},
                                           {1193, 11}, {1194, -1}, {65536 + 1010, 5}, {-1, -1}};
    for (auto [component, type] : types)
        EXPECT_EQ(script.Call("GetVehicleComponentType", {component}).value, type) << component;

    ScriptMemory& m = script.mem;
    const cell x = m.Value(-1), y = m.Value(-1), z = m.Value(-1);
    const auto info = [&](cell model, cell kind) {
        m.Read(x, 1);
        return script.Call("GetVehicleModelInfo", {model, kind, x, y, z}).value;
    };
    EXPECT_EQ(info(400, 8), 1);
    EXPECT_EQ(CellToFloat(m.Read(z, 1)[0]), -0.49f);
    EXPECT_EQ(CellToFloat(m.Read(x, 1)[0]), 0.0f);
    EXPECT_EQ(info(400, 1), 1);
    EXPECT_EQ(CellToFloat(m.Read(y, 1)[0]), 5.12f);
    EXPECT_EQ(info(537, 2), 1);
    EXPECT_EQ(CellToFloat(m.Read(y, 1)[0]), 5.13f);
    EXPECT_EQ(info(537, 9), 1);
    EXPECT_EQ(CellToFloat(m.Read(z, 1)[0]), -50.0f);
    SetScriptCell(script.vm(), z, 77);
    for (auto [model, kind] : {std::pair<cell, cell>{400, 10}, {400, 0}, {612, 1}, {399, 1}})
        EXPECT_EQ(info(model, kind), 0) << model << " " << kind;
    EXPECT_EQ(m.Read(z, 1)[0], 77);
}

}  // namespace
}  // namespace velt::scripttest
