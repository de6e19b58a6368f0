// Object, worn-object and building natives, called from a real script on a game server whose fake
// transport records every RPC: one table row per native with its main path, the RPCs compared
// byte for byte, and a sweep of bad object and player ids (missing, out of range, the other kind
// of object, id 65536 + n acting on n). Then what the rows cannot show: ids handed out through the
// natives, moves on the server's own clock, the checks on materials and attachment targets, and
// the editing marks.

#include "server/natives/ObjectNatives.h"

#include <functional>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

Bytes F32s(std::initializer_list<float> fs) {
    Bytes out;
    for (float f : fs) {
        Bytes b = F32(f);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}
Bytes Str(const std::string& s) {
    Bytes out = U8(uint32_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    return out;
}
// A payload that does not end on a byte boundary: leading bits, whole bytes, a compressed text.
Bytes Bits(const std::function<void(BitStream&)>& write) {
    BitStream bs;
    write(bs);
    return Bytes(bs.GetData(), bs.GetData() + bs.GetNumberOfBytesUsed());
}
Bytes WithText(const Bytes& head, const std::string& text) {
    return Bits([&](BitStream& bs) {
        bs.WriteBytes(head.data(), int32_t(head.size()));
        StringCompressor::Instance()->EncodeString(text.c_str(), int32_t(text.size() + 1), bs);
    });
}

constexpr uint16_t kPlayer = 3;  // owns per-player object 3; players 0 and 7 are connected too
constexpr uint16_t kGlobal = 1;  // model 1337 at (1, 2, 3), turned (0, 0, 90), drawn up to 300
constexpr uint16_t kOwn = 3;     // model 2000 at (5, 6, 7), turned (10, 20, 30), drawn up to 50
constexpr uint16_t kVehicle = 1;

// Object 1's create message: the plain fields, then what follows the attachment ids.
Bytes GlobalCreate(uint8_t noCameraCollision, uint16_t vehicle, uint16_t object, const Bytes& rest) {
    return Cat({U16(kGlobal), U32(1337), F32s({1, 2, 3, 0, 0, 90, 300}), U8(noCameraCollision), U16(vehicle),
                U16(object), rest});
}
const Bytes kTextureEntry = Cat({U8(1), U8(4), U16(1000), Str("txd"), Str("tex"), U32(0xFF332211)});
const Bytes kTextEntryHead =
    Cat({U8(2), U8(2), U8(90), Str("Arial"), U8(24), U8(1), U32(0xFFFF0000), U32(0xFF000000), U8(1)});

class ObjectNativeCalls : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer);
        game_->GetPlayerPool()->GetAt(7)->StreamInPlayer(kPlayer);
        ASSERT_EQ(game_->GetVehiclePool()->New(400, {}, 0.0f, 1, 1, -1), kVehicle);
        ResetWorld();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }
    ObjectPool* objects() { return game_->GetObjectPool(); }
    Player* alice() { return game_->GetPlayerPool()->GetAt(kPlayer); }

    // Objects 1 and 2 for everybody, object 3 of player 3 and another object 3 of player 7.
    void ResetWorld() {
        objects()->DestroyAll();
        ASSERT_EQ(objects()->Create(1337, {1, 2, 3}, {0, 0, 90}, 300.0f), kGlobal);
        ASSERT_EQ(objects()->Create(1338, {}, {}, 10.0f), 2);
        ASSERT_EQ(objects()->CreatePlayerObject(kPlayer, 2000, {5, 6, 7}, {10, 20, 30}, 50.0f), kOwn);
        ASSERT_EQ(objects()->CreatePlayerObject(7, 2001, {}, {}, 50.0f), kOwn);
        net_->sent.clear();
    }

    static std::vector<Rpc> ToAll(uint8_t id, const Bytes& payload) {
        return {{id, 0, payload}, {id, kPlayer, payload}, {id, 7, payload}};
    }

    cell Call(const char* native, std::vector<cell> args) {
        const Outcome outcome = script.Call(native, std::move(args));
        EXPECT_EQ(outcome.err, 0) << native;
        return outcome.value;
    }

    NativeScript script{"natives_objects", ScriptKind::GameMode, -1, nullptr};
};

// Which ids of a row the sweep spoils.
enum class Ids { Object, PlayerAndObject, PlayerObject, Player };

struct Row {
    const char* native;
    Ids ids;
    std::function<std::vector<cell>(cell player, cell object)> args;
    cell ok;
    cell badObject;  // the result when the object is bad and the player good
    cell badPlayer;  // the result when the player is bad
    std::vector<Rpc> rpcs;
    std::function<void()> prepare = {};
};

TEST_F(ObjectNativeCalls, EveryNativeOnGoodAndBadIds) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({0, 0, 0});
    const cell txd = m.Str("txd");
    const cell tex = m.Str("tex");
    const cell hi = m.Str("Hi");
    const cell arial = m.Str("Arial");
    const auto outArgs = [out](std::vector<cell> head) {
        head.insert(head.end(), {out, out + 4, out + 8});
        return head;
    };
    const auto f = [](float v) { return FloatToCell(v); };
    const auto moveGlobal = [&] {
        ASSERT_TRUE(objects()->Move(*objects()->Get(kGlobal), {9, 9, 9}, 1.0f, {}));
    };
    const auto moveOwn = [&] {
        ASSERT_TRUE(objects()->Move(*objects()->GetPlayerObject(kPlayer, kOwn), {9, 9, 9}, 1.0f, {}));
    };
    const auto wear = [&] { alice()->SetAttachedObject(2, AttachedObjectSlot{}); };
    const Bytes ownCreateWithVehicle =
        Cat({U16(kOwn), U32(2000), F32s({5, 6, 7, 10, 20, 30, 50}), U8(0), U16(kVehicle), U16(0xFFFF),
             F32s({1, 2, 3, 4, 5, 6}), U8(0), U8(0)});
    const Bytes worn = Bits([](BitStream& bs) {
        bs.Write(kPlayer);
        bs.Write(uint32_t(2));
        bs.Write(true);
        bs.Write(int32_t(19));
        bs.Write(int32_t(2));
        for (float v : {1.f, 2.f, 3.f, 4.f, 5.f, 6.f, 7.f, 8.f, 9.f}) bs.Write(v);
        bs.Write(uint32_t(0xFF332211));
        bs.Write(uint32_t(0x00CCBBAA));
    });
    const Bytes unworn = Bits([](BitStream& bs) {
        bs.Write(kPlayer);
        bs.Write(uint32_t(2));
        bs.Write(false);
    });

    const std::vector<Row> rows = {
        // ---- global objects
        {"DestroyObject", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1, 0, 0,
         ToAll(RPC_ObjectDestroy, U16(kGlobal))},
        {"IsValidObject", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1, 0, 0, {}},
        {"GetObjectModel", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1337, -1, -1, {}},
        // Without such an object these still answer 1, and send nothing.
        {"SetObjectPos", Ids::Object, [&](cell, cell o) { return std::vector<cell>{o, f(10), f(20), f(30)}; }, 1,
         1, 1, ToAll(RPC_ObjectPosSet, Cat({U16(kGlobal), F32s({10, 20, 30})}))},
        {"SetObjectRot", Ids::Object, [&](cell, cell o) { return std::vector<cell>{o, f(0), f(45), f(0)}; }, 1,
         1, 1, ToAll(RPC_ObjectRotSet, Cat({U16(kGlobal), F32s({0, 45, 0})}))},
        {"GetObjectPos", Ids::Object, [&](cell, cell o) { return outArgs({o}); }, 1, 0, 0, {}},
        {"GetObjectRot", Ids::Object, [&](cell, cell o) { return outArgs({o}); }, 1, 0, 0, {}},
        {"SetObjectNoCameraCol", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1, 0, 0,
         ToAll(RPC_ObjectCreate, GlobalCreate(1, 0xFFFF, 0xFFFF, U8(0)))},
        // Ten units at speed 2; the rotation goes out as given.
        {"MoveObject", Ids::Object,
         [&](cell, cell o) {
             return std::vector<cell>{o, f(1), f(2), f(13), f(2), f(-1000), f(-1000), f(-1000)};
         },
         5000, 0, 0, ToAll(RPC_ObjectMove, Cat({U16(kGlobal), F32s({1, 2, 3, 1, 2, 13, 2, -1000, -1000, -1000})}))},
        {"StopObject", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1, 0, 0,
         ToAll(RPC_ObjectStop, U16(kGlobal)), moveGlobal},
        {"IsObjectMoving", Ids::Object, [](cell, cell o) { return std::vector<cell>{o}; }, 1, 0, 0, {}, moveGlobal},
        {"AttachObjectToVehicle", Ids::Object,
         [&](cell, cell o) { return std::vector<cell>{o, kVehicle, f(1), f(2), f(3), f(4), f(5), f(6)}; }, 1, 0, 0,
         ToAll(RPC_ObjectCreate, GlobalCreate(0, kVehicle, 0xFFFF, Cat({F32s({1, 2, 3, 4, 5, 6}), U8(0), U8(0)})))},
        {"AttachObjectToObject", Ids::Object,
         [&](cell, cell o) { return std::vector<cell>{o, 2, f(1), f(2), f(3), f(4), f(5), f(6), 0x101}; }, 1, 0, 0,
         ToAll(RPC_ObjectCreate, GlobalCreate(0, 0xFFFF, 2, Cat({F32s({1, 2, 3, 4, 5, 6}), U8(1), U8(0)})))},
        {"SetObjectMaterial", Ids::Object,
         [&](cell, cell o) {
             return std::vector<cell>{o, 4, 1000, txd, tex, static_cast<cell>(0xFF112233u)};
         },
         1, 0, 0, ToAll(RPC_ObjectCreate, GlobalCreate(0, 0xFFFF, 0xFFFF, Cat({U8(1), kTextureEntry})))},
        {"SetObjectMaterialText", Ids::Object,
         [&](cell, cell o) {
             return std::vector<cell>{o,  hi, 2, 90, arial, 24, 1, static_cast<cell>(0xFFFF0000u),
                                      static_cast<cell>(0xFF000000u), 1};
         },
         1, 0, 0,
         ToAll(RPC_ObjectCreate, WithText(GlobalCreate(0, 0xFFFF, 0xFFFF, Cat({U8(1), kTextEntryHead})), "Hi"))},
        // Told to the players who stream player 3, then to him; nothing is kept, and the answer is 0.
        {"AttachObjectToPlayer", Ids::PlayerAndObject,
         [&](cell p, cell o) { return std::vector<cell>{o, p, f(1), f(2), f(3), f(4), f(5), f(6)}; }, 0, 0, 0,
         {{RPC_ObjectAttachToPlayer, 7, Cat({U16(kGlobal), U16(kPlayer), F32s({1, 2, 3, 4, 5, 6})})},
          {RPC_ObjectAttachToPlayer, kPlayer, Cat({U16(kGlobal), U16(kPlayer), F32s({1, 2, 3, 4, 5, 6})})}}},
        {"EditObject", Ids::PlayerAndObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 1, 0,
         {{RPC_ObjectEdit, kPlayer, Bits([](BitStream& bs) {
               bs.Write(false);
               bs.Write(kGlobal);
           })}}},
        // ---- per-player objects
        {"DestroyPlayerObject", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 1,
         0, {{RPC_ObjectDestroy, kPlayer, U16(kOwn)}}},
        {"IsValidPlayerObject", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 0,
         0, {}},
        {"GetPlayerObjectModel", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 2000,
         -1, 0, {}},
        {"SetPlayerObjectPos", Ids::PlayerObject,
         [&](cell p, cell o) { return std::vector<cell>{p, o, f(-1), f(-2), f(-3)}; }, 1, 0, 0,
         {{RPC_ObjectPosSet, kPlayer, Cat({U16(kOwn), F32s({-1, -2, -3})})}}},
        {"SetPlayerObjectRot", Ids::PlayerObject,
         [&](cell p, cell o) { return std::vector<cell>{p, o, f(90), f(0), f(0)}; }, 1, 0, 0,
         {{RPC_ObjectRotSet, kPlayer, Cat({U16(kOwn), F32s({90, 0, 0})})}}},
        {"GetPlayerObjectPos", Ids::PlayerObject, [&](cell p, cell o) { return outArgs({p, o}); }, 1, 0, 0, {}},
        {"GetPlayerObjectRot", Ids::PlayerObject, [&](cell p, cell o) { return outArgs({p, o}); }, 1, 0, 0, {}},
        {"SetPlayerObjectNoCameraCol", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; },
         1, 0, 0, {{RPC_ObjectNoCameraColSet, kPlayer, U16(kOwn)}}},
        // A rotation below -999 becomes the object's own: (10, 20, 30) goes out, and is kept.
        {"MovePlayerObject", Ids::PlayerObject,
         [&](cell p, cell o) {
             return std::vector<cell>{p, o, f(5), f(6), f(17), f(2), f(-1000), f(20), f(-999.5f)};
         },
         5000, 0, 0, {{RPC_ObjectMove, kPlayer, Cat({U16(kOwn), F32s({5, 6, 7, 5, 6, 17, 2, 10, 20, 30})})}}},
        {"StopPlayerObject", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 0, 0,
         {{RPC_ObjectStop, kPlayer, U16(kOwn)}}, moveOwn},
        {"IsPlayerObjectMoving", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 0,
         0, {}, moveOwn},
        {"AttachPlayerObjectToVehicle", Ids::PlayerObject,
         [&](cell p, cell o) {
             return std::vector<cell>{p, o, kVehicle, f(1), f(2), f(3), f(4), f(5), f(6)};
         },
         1, 0, 0, {{RPC_ObjectCreate, kPlayer, ownCreateWithVehicle}}},
        {"SetPlayerObjectMaterial", Ids::PlayerObject,
         [&](cell p, cell o) {
             return std::vector<cell>{p, o, 4, 1000, txd, tex, static_cast<cell>(0xFF112233u)};
         },
         1, 0, 0, {{RPC_ObjectMaterialSet, kPlayer, Cat({U16(kOwn), kTextureEntry})}}},
        {"SetPlayerObjectMaterialText", Ids::PlayerObject,
         [&](cell p, cell o) {
             return std::vector<cell>{p,     o, hi, 2, 90, arial, 24, 1, static_cast<cell>(0xFFFF0000u),
                                      static_cast<cell>(0xFF000000u), 1};
         },
         1, 0, 0, {{RPC_ObjectMaterialSet, kPlayer, WithText(Cat({U16(kOwn), kTextEntryHead}), "Hi")}}},
        {"EditPlayerObject", Ids::PlayerObject, [](cell p, cell o) { return std::vector<cell>{p, o}; }, 1, 1, 0,
         {{RPC_ObjectEdit, kPlayer, Bits([](BitStream& bs) {
               bs.Write(true);
               bs.Write(kOwn);
           })}}},
        // ---- the player alone
        {"SelectObject", Ids::Player, [](cell p, cell) { return std::vector<cell>{p}; }, 1, 0, 0,
         {{RPC_ObjectSelect, kPlayer, {}}}},
        {"CancelEdit", Ids::Player, [](cell p, cell) { return std::vector<cell>{p}; }, 1, 0, 0,
         {{RPC_ObjectEditCancel, kPlayer, {}}}},
        // Colours b3 b2 b1 b0 are kept and sent as b3 b0 b1 b2; the streamers hear first.
        {"SetPlayerAttachedObject", Ids::Player,
         [&](cell p, cell) {
             return std::vector<cell>{p,    2,    19,   2,    f(1), f(2), f(3), f(4), f(5), f(6), f(7), f(8), f(9),
                                      static_cast<cell>(0xFF112233u), static_cast<cell>(0x00AABBCCu)};
         },
         1, 0, 0, {{RPC_AttachedObjectSet, 7, worn}, {RPC_AttachedObjectSet, kPlayer, worn}}},
        {"RemovePlayerAttachedObject", Ids::Player, [](cell p, cell) { return std::vector<cell>{p, 2}; }, 1, 0, 0,
         {{RPC_AttachedObjectSet, 7, unworn}, {RPC_AttachedObjectSet, kPlayer, unworn}}, wear},
        {"IsPlayerAttachedObjectSlotUsed", Ids::Player, [](cell p, cell) { return std::vector<cell>{p, 2}; }, 1,
         0, 0, {}, wear},
        {"EditAttachedObject", Ids::Player, [](cell p, cell) { return std::vector<cell>{p, 2}; }, 1, 0, 0,
         {{RPC_AttachedObjectEdit, kPlayer, U32(2)}}, wear},
        // Sent, and still 0.
        {"RemoveBuildingForPlayer", Ids::Player,
         [&](cell p, cell) { return std::vector<cell>{p, 1234, f(1), f(2), f(3), f(50)}; }, 0, 0, 0,
         {{RPC_BuildingRemove, kPlayer, Cat({U32(1234), F32s({1, 2, 3, 50})})}}},
    };

    struct Ids2 {
        cell player, object;
    };
    const Ids2 goodGlobal[] = {{kPlayer, kGlobal}, {65536 + kPlayer, 65536 + kGlobal}};
    const Ids2 goodOwn[] = {{kPlayer, kOwn}, {static_cast<cell>(0xFFFF0000u) + kPlayer, 65536 + kOwn}};
    // Missing, out of range, -1, and the other kind of object; player 0 owns no object 3.
    const Ids2 badGlobal[] = {{kPlayer, 0},     {kPlayer, 9},  {kPlayer, 2000},
                              {kPlayer, 65535}, {kPlayer, -1}, {kPlayer, kOwn}};
    const Ids2 badOwn[] = {{kPlayer, 0},     {kPlayer, kGlobal}, {kPlayer, 9}, {kPlayer, 2000},
                           {kPlayer, 65535}, {kPlayer, -1},      {0, kOwn}};
    const cell badPlayers[] = {5, 1000, 65535, 65536 + 5, -1};

    const auto run = [&](const Row& row, Ids2 ids, cell expected, const std::vector<Rpc>& rpcs) {
        ResetWorld();
        if (row.prepare) row.prepare();
        net_->sent.clear();
        EXPECT_EQ(Call(row.native, row.args(ids.player, ids.object)), expected)
            << row.native << " " << ids.player << "/" << ids.object;
        EXPECT_EQ(TakeRpcs(), rpcs) << row.native << " " << ids.player << "/" << ids.object;
    };
    std::set<std::string> covered = {"CreateObject", "CreatePlayerObject", "SetObjectsDefaultCameraCol",
                                     "AttachPlayerObjectToPlayer"};  // by the tests below
    for (const Row& row : rows) {
        covered.insert(row.native);
        const bool own = row.ids == Ids::PlayerObject;
        for (Ids2 ids : own ? std::span<const Ids2>(goodOwn) : std::span<const Ids2>(goodGlobal))
            run(row, ids, row.ok, row.rpcs);
        if (row.ids != Ids::Player) {
            for (Ids2 ids : own ? std::span<const Ids2>(badOwn) : std::span<const Ids2>(badGlobal))
                run(row, ids, row.badObject, {});
        }
        if (row.ids != Ids::Object) {
            for (cell player : badPlayers) run(row, {player, own ? kOwn : kGlobal}, row.badPlayer, {});
        }
    }
    // Every one of the 38 object natives is exercised.
    ASSERT_EQ(ObjectNatives().size(), 38u);
    for (const VmNativeEntry& native : ObjectNatives())
        EXPECT_EQ(covered.count(native.name), 1u) << native.name;
}

TEST_F(ObjectNativeCalls, QueriesReadBackWhatTheSettersStored) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({0, 0, 0});
    const auto read = [&](const char* native, std::vector<cell> ids) {
        ids.insert(ids.end(), {out, out + 4, out + 8});
        EXPECT_EQ(Call(native, ids), 1) << native;
        const std::vector<cell> v = m.Read(out, 3);
        return std::vector<float>{CellToFloat(v[0]), CellToFloat(v[1]), CellToFloat(v[2])};
    };
    EXPECT_EQ(read("GetObjectPos", {kGlobal}), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(read("GetObjectRot", {kGlobal}), (std::vector<float>{0, 0, 90}));
    EXPECT_EQ(read("GetPlayerObjectPos", {kPlayer, kOwn}), (std::vector<float>{5, 6, 7}));
    EXPECT_EQ(read("GetPlayerObjectRot", {kPlayer, kOwn}), (std::vector<float>{10, 20, 30}));
    Call("SetObjectPos", {kGlobal, FloatToCell(-4), FloatToCell(0.5f), FloatToCell(8)});
    Call("SetPlayerObjectRot", {kPlayer, kOwn, FloatToCell(1), FloatToCell(2), FloatToCell(3)});
    EXPECT_EQ(read("GetObjectPos", {kGlobal}), (std::vector<float>{-4, 0.5f, 8}));
    EXPECT_EQ(read("GetPlayerObjectRot", {kPlayer, kOwn}), (std::vector<float>{1, 2, 3}));
    // A reference outside the script's memory writes nothing and fails.
    EXPECT_EQ(Call("GetObjectPos", {kGlobal, out, out + 4, 0x7FFFFFF0}), 0);
    EXPECT_EQ(m.Read(out, 1)[0], FloatToCell(1)) << "untouched";
}

TEST_F(ObjectNativeCalls, CreatingThroughTheNativesSharesTheIdSpace) {
    const std::vector<cell> place = {FloatToCell(1), FloatToCell(2), FloatToCell(3), 0, 0, 0,
                                     FloatToCell(99)};
    const auto create = [&](const char* native, std::vector<cell> head) {
        head.insert(head.end(), place.begin(), place.end());
        return Call(native, head);
    };
    objects()->DestroyAll();
    EXPECT_EQ(create("CreateObject", {500}), 1);
    EXPECT_EQ(create("CreateObject", {501}), 2);
    EXPECT_EQ(create("CreatePlayerObject", {0, 502}), 3);
    TakeRpcs();
    EXPECT_EQ(create("CreateObject", {503}), 4);
    const Bytes created =
        Cat({U16(4), U32(503), F32s({1, 2, 3, 0, 0, 0, 99}), U8(0), U16(0xFFFF), U16(0xFFFF), U8(0)});
    EXPECT_EQ(TakeRpcs(), ToAll(RPC_ObjectCreate, created));
    EXPECT_EQ(create("CreatePlayerObject", {7, 504}), 3);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_ObjectCreate, 7,
                                             Cat({U16(3), U32(504), F32s({1, 2, 3, 0, 0, 0, 99}), U8(0),
                                                  U16(0xFFFF), U16(0xFFFF), U8(0)})}}));
    // A player who is not connected gets nothing, and 0.
    EXPECT_EQ(create("CreatePlayerObject", {5, 505}), 0);
    EXPECT_TRUE(TakeRpcs().empty());
    // From now on objects let the camera through.
    EXPECT_EQ(Call("SetObjectsDefaultCameraCol", {1}), 1);
    EXPECT_EQ(create("CreateObject", {506}), 5);
    EXPECT_EQ(TakeRpcs()[0].payload[4 + 2 + 7 * 4], 1);
    EXPECT_EQ(Call("SetObjectsDefaultCameraCol", {0}), 1);
    // Full: 0xFFFF, nothing sent.
    while (objects()->Create(1, {}, {}, 1.0f) != kNoObject) {}
    net_->sent.clear();
    EXPECT_EQ(create("CreateObject", {507}), 0xFFFF);
    EXPECT_EQ(create("CreatePlayerObject", {0, 507}), 0xFFFF) << "player 0 holds the one id left";
    EXPECT_TRUE(TakeRpcs().empty());
    // A leaving player's objects go, and with them his hold on their ids.
    objects()->DestroyAll();
    EXPECT_EQ(create("CreatePlayerObject", {7, 1}), 1);
    ASSERT_EQ(game_->GetPlayerPool()->Disconnect(7, 1), 1);
    EXPECT_EQ(create("CreateObject", {1}), 1);
}

TEST_F(ObjectNativeCalls, MovesRunOnTheServersPassesAndRaiseTheirArrivalOnce) {
    scripts_.gameModePublics = {{"OnObjectMoved", 1}, {"OnPlayerObjectMoved", 1}};
    objects()->DestroyAll();
    const uint16_t id = objects()->Create(1, {}, {}, 1.0f);
    const cell f0 = FloatToCell(0);
    EXPECT_EQ(Call("MoveObject", {id, FloatToCell(10), f0, f0, FloatToCell(2), f0, f0, f0}), 5000);
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({0, 0, 0});
    const auto x = [&] {
        Call("GetObjectPos", {id, out, out + 4, out + 8});
        return CellToFloat(m.Read(out, 1)[0]);
    };
    scripts_.Clear();
    for (float expected : {2.0f, 4.0f, 6.0f, 8.0f}) {
        game_->Process(1.0f);
        EXPECT_EQ(x(), expected);
        EXPECT_EQ(Call("IsObjectMoving", {id}), 1);
    }
    EXPECT_TRUE(scripts_.calls.empty());
    game_->Process(1.0f);
    game_->Process(1.0f);
    EXPECT_EQ(x(), 10.0f);
    EXPECT_EQ(Call("IsObjectMoving", {id}), 0);
    ASSERT_EQ(scripts_.calls.size(), 1u);
    EXPECT_EQ(scripts_.calls[0].name, "OnObjectMoved");
    EXPECT_EQ(std::get<int32_t>(scripts_.calls[0].args[0]), id);

    // A player object's arrival names its owner.
    const uint16_t own = objects()->CreatePlayerObject(kPlayer, 1, {}, {}, 1.0f);
    EXPECT_EQ(Call("MovePlayerObject", {kPlayer, own, FloatToCell(3), f0, f0, FloatToCell(3), f0, f0, f0}),
              1000);
    scripts_.Clear();
    game_->Process(1.0f);
    ASSERT_EQ(scripts_.calls.size(), 1u);
    EXPECT_EQ(scripts_.calls[0].name, "OnPlayerObjectMoved");
    EXPECT_EQ(std::get<int32_t>(scripts_.calls[0].args[0]), kPlayer);
    EXPECT_EQ(std::get<int32_t>(scripts_.calls[0].args[1]), own);
}

TEST_F(ObjectNativeCalls, AMoveThatCannotBeMadeFailsWithoutAWord) {
    const cell f0 = FloatToCell(0);
    const auto move = [&](float speed, float x) {
        return Call("MoveObject", {kGlobal, FloatToCell(x), f0, f0, FloatToCell(speed), f0, f0, f0});
    };
    // Ten units at 3 per second.
    objects()->Get(kGlobal)->SetPosition({});
    EXPECT_EQ(move(3.0f, 10.0f), 3333);
    TakeRpcs();
    // The move under way stays, and nothing is said, stop included.
    for (float speed :
         {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(move(speed, 10.0f), 0) << speed;
        EXPECT_EQ(Call("MovePlayerObject", {kPlayer, kOwn, f0, f0, f0, FloatToCell(speed), f0, f0, f0}), 0);
    }
    EXPECT_EQ(move(1.0f, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(Call("IsObjectMoving", {kGlobal}), 1);
    // A new move of a moving object stops the old one first.
    EXPECT_EQ(move(1.0f, 1.0f), 1000);
    const std::vector<Rpc> rpcs = TakeRpcs();
    ASSERT_EQ(rpcs.size(), 6u);
    EXPECT_EQ(rpcs[0], (Rpc{RPC_ObjectStop, 0, U16(kGlobal)}));
    EXPECT_EQ(rpcs[3].id, RPC_ObjectMove);
    // A move long beyond a cell's range of milliseconds saturates.
    EXPECT_EQ(move(1e-30f, 1.0f), std::numeric_limits<cell>::max());
}

TEST_F(ObjectNativeCalls, MaterialArgumentsAreCheckedAndTheSeventeenthIsRefused) {
    ScriptMemory& m = script.mem;
    const cell name = m.Str("name");
    const auto texture = [&](cell object, cell index, cell txd, cell tex) {
        return Call("SetObjectMaterial", {object, index, 1, txd, tex, 0});
    };
    const auto text = [&](cell index, cell body, cell font) {
        return Call("SetObjectMaterialText", {kGlobal, body, index, 0, font, 0, 0, 0, 0, 0});
    };
    const cell empty = m.Str("");
    const cell name32 = m.Str(std::string(32, 'n'));
    const cell name33 = m.Str(std::string(33, 'n'));
    const cell text2048 = m.Packed(std::string(2048, 't'));
    const cell text2049 = m.Packed(std::string(2049, 't'));
    for (cell index : {-1, 16, 256, 0x10000}) {
        EXPECT_EQ(texture(kGlobal, index, name, name), 0) << index;
        EXPECT_EQ(text(index, name, name), 0) << index;
        EXPECT_EQ(Call("SetPlayerObjectMaterial", {kPlayer, kOwn, index, 1, name, name, 0}), 0) << index;
    }
    EXPECT_EQ(texture(kGlobal, 0, empty, name), 0);
    EXPECT_EQ(texture(kGlobal, 0, name, name33), 0);
    EXPECT_EQ(texture(kGlobal, 0, name, 0x7FFFFFF0), 0) << "a text outside the script";
    EXPECT_EQ(text(0, empty, name), 0);
    EXPECT_EQ(text(0, text2049, name), 0);
    EXPECT_EQ(text(0, name, name33), 0);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(objects()->Get(kGlobal)->GetMaterials().size(), 0u);

    EXPECT_EQ(texture(kGlobal, 15, name32, name32), 1);
    EXPECT_EQ(text(15, text2048, name32), 1);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(texture(kGlobal, i % 16, name, name), 1);
    TakeRpcs();
    EXPECT_EQ(texture(kGlobal, 3, name, name), 0);
    EXPECT_EQ(text(3, name, name), 0);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(objects()->Get(kGlobal)->GetMaterials().size(), 16u);
    EXPECT_EQ(objects()->Get(kGlobal)->GetMaterials()[1].text.size(), 2048u);
}

TEST_F(ObjectNativeCalls, AttachmentTargetsMustExistAndFormNoRing) {
    const cell f1 = FloatToCell(1);
    const auto toVehicle = [&](cell vehicle) {
        return Call("AttachObjectToVehicle", {kGlobal, vehicle, f1, f1, f1, 0, 0, 0});
    };
    const auto toObject = [&](cell object, cell target) {
        return Call("AttachObjectToObject", {object, target, f1, f1, f1, 0, 0, 0, 1});
    };
    for (cell vehicle : {0, 2, 1999, 2000, -2, 0x7FFF}) {
        EXPECT_EQ(toVehicle(vehicle), 0) << vehicle;
        EXPECT_EQ(Call("AttachPlayerObjectToVehicle", {kPlayer, kOwn, vehicle, f1, f1, f1, 0, 0, 0}), 0)
            << vehicle;
    }
    ASSERT_EQ(objects()->Create(5, {}, {}, 1.0f), 4);
    for (cell target : {0, cell(kGlobal), 9, 2000, cell(kOwn), -2})
        EXPECT_EQ(toObject(kGlobal, target), 0) << target;
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(objects()->Get(kGlobal)->GetAttachment().object, -1);

    // 1 -> 2 -> 4; then neither 4 nor 2 may hang on 1.
    EXPECT_EQ(toObject(kGlobal, 2), 1);
    EXPECT_EQ(toObject(2, 4), 1);
    EXPECT_EQ(toObject(4, kGlobal), 0);
    EXPECT_EQ(toObject(2, kGlobal), 0);
    // -1 (also as 65535) detaches; the vehicle side is its own.
    EXPECT_EQ(toVehicle(kVehicle), 1);
    EXPECT_EQ(toObject(kGlobal, 65535), 1);
    const ObjectAttachment& a = objects()->Get(kGlobal)->GetAttachment();
    EXPECT_EQ(a.object, -1);
    EXPECT_EQ(a.vehicle, kVehicle);
    EXPECT_EQ(a.syncRotation, 1);
    EXPECT_EQ(toVehicle(-1), 1);
    EXPECT_EQ(toObject(4, kGlobal), 1);
}

TEST_F(ObjectNativeCalls, EditingMarksAndTheirNatives) {
    Player* bob = game_->GetPlayerPool()->GetAt(7);
    EXPECT_FALSE(alice()->IsEditingObject());
    EXPECT_EQ(Call("EditObject", {kPlayer, 9}), 1);
    EXPECT_FALSE(alice()->IsEditingObject()) << "no editor opened for a missing object";
    EXPECT_EQ(Call("EditPlayerObject", {kPlayer, kOwn}), 1);
    EXPECT_TRUE(alice()->IsEditingObject());
    EXPECT_EQ(Call("CancelEdit", {kPlayer}), 1);
    EXPECT_TRUE(alice()->IsEditingObject()) << "nothing clears the mark";
    EXPECT_EQ(Call("SelectObject", {7}), 1);
    EXPECT_TRUE(bob->IsEditingObject());

    EXPECT_EQ(Call("EditAttachedObject", {kPlayer, 2}), 1);
    EXPECT_FALSE(alice()->IsEditingAttachedObject()) << "a free slot opens no editor";
    EXPECT_EQ(Call("SetPlayerAttachedObject", {kPlayer, 10, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 1);
    EXPECT_EQ(Call("IsPlayerAttachedObjectSlotUsed", {kPlayer, 10}), 0);
    TakeRpcs();
    EXPECT_EQ(Call("EditAttachedObject", {kPlayer, 2}), 1);
    EXPECT_TRUE(TakeRpcs().empty());
    alice()->SetAttachedObject(2, AttachedObjectSlot{});
    EXPECT_EQ(Call("EditAttachedObject", {kPlayer, 2}), 1);
    EXPECT_TRUE(alice()->IsEditingAttachedObject());

    EXPECT_EQ(Call("AttachPlayerObjectToPlayer", {kPlayer, kOwn, 7, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_TRUE(Logged("AttachPlayerObjectToPlayer : removed in 0.3. I can only attach global objects."));
}

TEST_F(ObjectNativeCalls, TheEndOfTheGamemodeTakesEveryObjectSilently) {
    game_->EndGameMode();
    net_->sent.clear();
    EXPECT_EQ(game_->GetObjectPool(), nullptr);
    // Without a pool every object native fails the quiet way.
    EXPECT_EQ(Call("IsValidObject", {kGlobal}), 0);
    EXPECT_EQ(Call("GetObjectModel", {kGlobal}), -1);
    EXPECT_EQ(Call("SetObjectPos", {kGlobal, 0, 0, 0}), 0);
    EXPECT_EQ(Call("CreateObject", {1, 0, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(Call("CreatePlayerObject", {kPlayer, 1, 0, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_TRUE(TakeRpcs().empty());
    game_->RestartGameMode();
    EXPECT_FALSE(game_->GetObjectPool()->Exists(kGlobal));
}

}  // namespace
}  // namespace velt::scripttest
