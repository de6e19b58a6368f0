// Weapon, score, money, clock, skill and animation natives, called from a real script on a game
// server whose fake transport records every RPC: one table row per native with its main path,
// the bad and disconnected ids and id 65536 + n acting on n, the RPCs compared byte for byte.
// Then what the rows cannot show: who hears an animation, the clock, and the name lookups.

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on
constexpr uint16_t kViewer = 7;  // sees kPlayer
constexpr uint16_t kBot = 9;     // a bot that kViewer sees too

class WeaponNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer, kViewer);
        Join(kBot, "Robo", true);
        PlayerPool* pool = game_->GetPlayerPool();
        pool->GetAt(kViewer)->StreamInPlayer(kPlayer);
        pool->GetAt(kViewer)->StreamInPlayer(kBot);
        // No map-marker packets between the natives' RPCs.
        game_->world.playerMarkerMode = 0;
        net_->sent.clear();
    }

    Player* Alice() { return game_->GetPlayerPool()->GetAt(kPlayer); }
    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }

    // Alice on foot with a Desert Eagle of 65535 rounds in slot 2, aiming at player 7 and actor 2.
    void ArmAlice() {
        WeaponsUpdateRecord weapons;
        weapons.targetPlayerId = kViewer;
        weapons.targetActorId = 2;
        weapons.present[2] = true;
        weapons.weaponId[2] = 24;
        weapons.ammo[2] = 65535;
        Alice()->StoreWeaponsUpdate(weapons);
        OnFootSyncRecord onFoot;
        onFoot.weaponId = 24;
        onFoot.additionalKeys = 3;
        onFoot.animation = static_cast<int32_t>(0xABCD8001u);
        onFoot.health = 100;
        Alice()->StoreOnFootSync(onFoot);
        AimSyncRecord aim;
        aim.weaponState = 2;
        aim.cameraZoom = 0x3F;
        Alice()->StoreAimSync(aim);
        ASSERT_EQ(Alice()->GetState(), PLAYER_STATE_ONFOOT);
        net_->sent.clear();
    }

    NativeScript script{"natives_weapons", ScriptKind::GameMode, -1, nullptr};
};

// Four flag bits of 1, 0, 1, 0 and then the time 500 straddling the bytes after them.
const Bytes kAnimationFlagsAndTime = {0xAF, 0x40, 0x10, 0x00, 0x00};

TEST_F(WeaponNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ArmAlice();
    ScriptMemory& m = script.mem;
    PlayerPool* pool = game_->GetPlayerPool();
    pool->StoreStats(kPlayer, 500, 2000);
    const cell weapon = m.Value(-7);
    const cell ammo = m.Value(-7);
    const cell hour = m.Value(-7);
    const cell minute = m.Value(-7);
    const cell ped = m.Str("PED");
    const cell walk = m.Packed("WALK");
    const auto one = [](cell id) { return std::vector<cell>{id}; };
    const auto animation = [&](cell forceSync) {
        return [=](cell id) {
            return std::vector<cell>{id, ped, walk, FloatToCell(4.0f), 1, 0, 7, 0, 500, forceSync};
        };
    };
    const Bytes applied =
        Cat({U16(kPlayer), U8(3), Text("PED"), U8(4), Text("WALK"), F32(4.0f), kAnimationFlagsAndTime});
    const Bytes skill = Cat({U16(kPlayer), U32(4), U16(800)});
    const std::vector<NativeRow> rows = {
        {"SetPlayerScore",
         [](cell id) {
             return std::vector<cell>{id, -42};
         },
         1,
         0,
         {},
         {},
         [&] { EXPECT_EQ(pool->GetScore(kPlayer), -42); }},
        {"GetPlayerScore", one, -42, 0, {}},
        {"GivePlayerMoney",
         [](cell id) {
             return std::vector<cell>{id, -200};
         },
         1,
         0,
         {{RPC_PlayerMoneyGive, kPlayer, U32(static_cast<uint32_t>(-200))}},
         [&] { pool->StoreStats(kPlayer, 500, 2000); },
         [&] { EXPECT_EQ(pool->GetMoney(kPlayer), 300); }},
        {"GetPlayerMoney", one, 300, 0, {}},
        {"ResetPlayerMoney",
         one,
         1,
         0,
         {{RPC_PlayerMoneyReset, kPlayer, {}}},
         {},
         [&] { EXPECT_EQ(pool->GetMoney(kPlayer), 0); }},
        {"GetPlayerDrunkLevel", one, 2000, 0, {}},
        // Only sent: the level reads back once the client reports it.
        {"SetPlayerDrunkLevel",
         [](cell id) {
             return std::vector<cell>{id, 5000};
         },
         1,
         0,
         {{RPC_DrunkLevelSet, kPlayer, U32(5000)}},
         {},
         [&] { EXPECT_EQ(pool->GetDrunkLevel(kPlayer), 2000); }},
        // 65535 rounds read as -1.
        {"GetPlayerAmmo", one, -1, 0, {}},
        {"SetPlayerAmmo",
         [](cell id) {
             return std::vector<cell>{id, 0x118, 0x10064};
         },
         1,
         0,
         {{RPC_PlayerAmmoSet, kPlayer, Cat({U8(24), U16(100)})}}},
        // Slot 0x102 is slot 2.
        {"GetPlayerWeaponData",
         [&](cell id) {
             return std::vector<cell>{id, 0x102, weapon, ammo};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ(m.Read(weapon, 1)[0], 24);
             EXPECT_EQ(m.Read(ammo, 1)[0], -1);
         }},
        {"GetPlayerWeaponData",
         [&](cell id) {
             return std::vector<cell>{id, 13, weapon, ammo};
         },
         0,
         0,
         {}},
        {"ResetPlayerWeapons", one, 1, 0, {{RPC_PlayerWeaponsReset, kPlayer, {}}}},
        {"GivePlayerWeapon",
         [](cell id) {
             return std::vector<cell>{id, 31, 500};
         },
         1,
         0,
         {{RPC_PlayerWeaponGive, kPlayer, Cat({U32(31), U32(500)})}}},
        {"SetPlayerArmedWeapon",
         [](cell id) {
             return std::vector<cell>{id, 0};
         },
         1,
         0,
         {{RPC_ArmedWeaponSet, kPlayer, U32(0)}}},
        // Neither of the three sends above changed what the client reported.
        {"GetPlayerWeapon", one, 24, -1, {}},
        {"GetPlayerWeaponState", one, 2, 0, {}},
        {"GetPlayerTargetPlayer", one, kViewer, 0xFFFF, {}},
        {"GetPlayerTargetActor", one, 2, 0xFFFF, {}},
        {"GetPlayerAnimationIndex", one, -32767, 0, {}},
        {"SetPlayerTime",
         [](cell id) {
             return std::vector<cell>{id, 0x10E, 30};
         },
         1,
         0,
         {{RPC_PlayerTimeSet, kPlayer, Cat({U8(14), U8(30)})}}},
        {"TogglePlayerClock",
         [](cell id) {
             return std::vector<cell>{id, 5};
         },
         1,
         0,
         {{RPC_PlayerClockToggle, kPlayer, U8(1)}}},
        {"GetPlayerTime",
         [&](cell id) {
             return std::vector<cell>{id, hour, minute};
         },
         1,
         0,
         {},
         {},
         [&] {
             EXPECT_EQ(m.Read(hour, 1)[0], 14);
             EXPECT_EQ(m.Read(minute, 1)[0], 30);
         }},
        // The player first, then (he is on foot) those who see him.
        {"SetPlayerSkillLevel",
         [](cell id) {
             return std::vector<cell>{id, 4, 0x10000 + 800};
         },
         1,
         0,
         {{RPC_SkillLevelSet, kPlayer, skill}, {RPC_SkillLevelSet, kViewer, skill}}},
        {"SetPlayerSkillLevel",
         [](cell id) {
             return std::vector<cell>{id, 11, 5};
         },
         1,
         0,
         {}},
        // Never a failure: an absent player hears nothing and the answer is 1 all the same.
        {"ApplyAnimation",
         animation(1),
         1,
         1,
         {{RPC_AnimationApply, kViewer, applied}, {RPC_AnimationApply, kPlayer, applied}}},
        {"ClearAnimations",
         [](cell id) {
             return std::vector<cell>{id, 0};
         },
         1,
         1,
         {{RPC_AnimationClear, kPlayer, U16(kPlayer)}}},
    };
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    // A failed call wrote nothing.
    EXPECT_EQ(script.Call("GetPlayerWeaponData", {5, 2, hour, minute}).value, 0);
    EXPECT_EQ(m.Read(hour, 1)[0], 14);
}

TEST_F(WeaponNatives, WhatTheClientReportsWhenNotOnFoot) {
    ArmAlice();
    Alice()->SetState(PLAYER_STATE_DRIVER);
    EXPECT_EQ(script.Call("GetPlayerWeaponState", {kPlayer}).value, -1);
    EXPECT_EQ(script.Call("GetPlayerAnimationIndex", {kPlayer}).value, 0);
    EXPECT_EQ(script.Call("GetPlayerWeapon", {kPlayer}).value, 24);
    // A weapon without a slot holds no ammunition.
    Alice()->SetArmedWeapon(19);
    EXPECT_EQ(script.Call("GetPlayerAmmo", {kPlayer}).value, -1);
    WeaponsUpdateRecord fists;
    fists.present[0] = true;
    fists.weaponId[0] = 0;
    fists.ammo[0] = 1;
    Alice()->StoreWeaponsUpdate(fists);
    Alice()->SetArmedWeapon(0);
    EXPECT_EQ(script.Call("GetPlayerAmmo", {kPlayer}).value, 1);
}

TEST_F(WeaponNatives, AnimationsReachWhomForceSyncSays) {
    const cell lib = script.mem.Str("");
    const cell name = script.mem.Str("");
    struct Case {
        uint16_t player;
        cell forceSync;
        std::vector<uint16_t> apply;  // receivers in order
        std::vector<uint16_t> clear;
    };
    const Case cases[] = {
        {kPlayer, 0, {kPlayer}, {kPlayer}},
        {kPlayer, 1, {kViewer, kPlayer}, {kViewer, kPlayer}},
        {kPlayer, 2, {kViewer}, {kViewer, kPlayer}},
        {kPlayer, 1000, {kViewer}, {kViewer, kPlayer}},
        {kPlayer, -1, {kViewer, kPlayer}, {kViewer, kPlayer}},
        {kBot, 0, {kViewer, kBot}, {kViewer, kBot}},
        {kBot, 2, {kViewer}, {kViewer, kBot}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.player) + " force " + std::to_string(c.forceSync));
        // Empty texts go out as two zero lengths; a zero delta as four zero bytes.
        const Bytes applied =
            Cat({U16(c.player), U8(0), U8(0), F32(0.0f), Bytes{0x00, 0x00, 0x00, 0x00, 0x00}});
        EXPECT_EQ(script.Call("ApplyAnimation", {c.player, lib, name, 0, 0, 0, 0, 0, 0, c.forceSync}).value,
                  1);
        std::vector<Rpc> expected;
        for (uint16_t to : c.apply) expected.push_back({RPC_AnimationApply, to, applied});
        EXPECT_EQ(TakeRpcs(), expected);
        EXPECT_EQ(script.Call("ClearAnimations", {c.player, c.forceSync}).value, 1);
        expected.clear();
        for (uint16_t to : c.clear) expected.push_back({RPC_AnimationClear, to, U16(c.player)});
        EXPECT_EQ(TakeRpcs(), expected);
    }
}

TEST_F(WeaponNatives, AnimationTextsLongerThanALengthByteAreCut) {
    const cell lib = script.mem.Str(std::string(300, 'L'));
    const cell name = script.mem.Str("N");
    EXPECT_EQ(script.Call("ApplyAnimation", {kPlayer, lib, name, 0, 1, 1, 1, 1, 0, 0}).value, 1);
    const std::vector<Rpc> sent = TakeRpcs();
    ASSERT_EQ(sent.size(), 1u);
    const Bytes expected = Cat({U16(kPlayer), U8(255), Text(std::string(255, 'L')), U8(1), Text("N"),
                                F32(0.0f), Bytes{0xF0, 0x00, 0x00, 0x00, 0x00}});
    EXPECT_EQ(sent[0].payload, expected);
}

TEST_F(WeaponNatives, PlayerClockAndWorldTime) {
    ScriptMemory& m = script.mem;
    const cell hour = m.Value(-7);
    const cell minute = m.Value(-7);
    const auto time = [&] {
        EXPECT_EQ(script.Call("GetPlayerTime", {kPlayer, hour, minute}).value, 1);
        return std::vector<cell>{m.Read(hour, 1)[0], m.Read(minute, 1)[0]};
    };
    // Clock off: the world's hour.
    EXPECT_EQ(time(), (std::vector<cell>{12, 0}));
    EXPECT_EQ(script.Call("SetWorldTime", {0x10F}).value, 1);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_WorldTimeSet, 0, U8(15)},
                                            {RPC_WorldTimeSet, kPlayer, U8(15)},
                                            {RPC_WorldTimeSet, kViewer, U8(15)},
                                            {RPC_WorldTimeSet, kBot, U8(15)}}));
    EXPECT_EQ(console_->GetStringVariable("worldtime"), std::string("15:00"));
    EXPECT_EQ(time(), (std::vector<cell>{15, 0}));
    // A clock set while off still reads as the world's hour until it runs.
    EXPECT_EQ(script.Call("SetPlayerTime", {kPlayer, 23, 50}).value, 1);
    EXPECT_EQ(time(), (std::vector<cell>{15, 0}));
    EXPECT_EQ(script.Call("TogglePlayerClock", {kPlayer, 1}).value, 1);
    EXPECT_EQ(time(), (std::vector<cell>{23, 50}));
    // Game minutes run as seconds; past midnight the clock reads as the new day even before its
    // next resync brings it back under 24 hours.
    Alice()->Tick(9.5f);
    EXPECT_EQ(time(), (std::vector<cell>{23, 59}));
    Alice()->Tick(20.0f);
    EXPECT_GE(Alice()->GetClock(), 1440.0f);
    EXPECT_EQ(time(), (std::vector<cell>{0, 19}));
    EXPECT_EQ(script.Call("TogglePlayerClock", {kPlayer, 0}).value, 1);
    EXPECT_EQ(time(), (std::vector<cell>{15, 0}));
}

TEST_F(WeaponNatives, MoneyWrapsAndAbsentPlayersKeepNone) {
    PlayerPool* pool = game_->GetPlayerPool();
    pool->StoreStats(kPlayer, INT_MAX, 0);
    EXPECT_EQ(script.Call("GivePlayerMoney", {kPlayer, 1}).value, 1);
    EXPECT_EQ(script.Call("GetPlayerMoney", {kPlayer}).value, INT_MIN);
    EXPECT_EQ(script.Call("GivePlayerMoney", {5, 100}).value, 0);
    EXPECT_EQ(pool->GetMoney(5), 0);
    EXPECT_EQ(script.Call("SetPlayerScore", {5, 100}).value, 0);
    EXPECT_EQ(pool->GetScore(5), 0);
}

TEST_F(WeaponNatives, NameLookups) {
    ScriptMemory& m = script.mem;
    // A 40-cell array holding "untouched".
    const auto array = [&] {
        std::vector<cell> cells(40, 0);
        const std::string text = "untouched";
        std::copy(text.begin(), text.end(), cells.begin());
        return m.Alloc(cells);
    };
    struct WeaponCase {
        cell weapon;
        cell size;
        cell result;
        const char* text;  // null: the array is left as it was
    };
    const WeaponCase weapons[] = {
        {24, 40, 12, "Desert Eagle"}, {54, 40, 5, "Splat"}, {0, 40, 0, ""},       {19, 40, 0, ""},
        {24, 7, 6, "Desert"},         {-1, 40, 0, ""},      {55, 40, 0, nullptr}, {INT_MAX, 40, 0, nullptr},
    };
    for (const WeaponCase& c : weapons) {
        SCOPED_TRACE(c.weapon);
        const cell dest = array();
        EXPECT_EQ(script.Call("GetWeaponName", {c.weapon, dest, c.size}).value, c.result);
        EXPECT_EQ(m.Text(dest), c.text != nullptr ? c.text : "untouched");
    }

    struct AnimationCase {
        cell index;
        cell result;
        const char* library;  // null: neither array written
        const char* name;
        cell librarySize = 40;
    };
    const AnimationCase animations[] = {
        {1, 1, "AIRPORT", "THRW_BARL_THRW"},
        {1812, 1, "VELT", "FISHINGIDLE"},
        {1812, 1, "VE", "FISHINGIDLE", 3},
        {0, 0, nullptr, nullptr},
        {1813, 0, nullptr, nullptr},
        {-1, 0, nullptr, nullptr},
        {65536 + 1, 0, nullptr, nullptr},
        {2, 0, nullptr, nullptr},  // a number whose name this server does not know
    };
    for (const AnimationCase& c : animations) {
        SCOPED_TRACE(c.index);
        const cell library = array();
        const cell name = array();
        EXPECT_EQ(script.Call("GetAnimationName", {c.index, library, c.librarySize, name, 40}).value,
                  c.result);
        EXPECT_EQ(m.Text(library), c.library != nullptr ? c.library : "untouched");
        EXPECT_EQ(m.Text(name), c.name != nullptr ? c.name : "untouched");
    }
}

}  // namespace
}  // namespace velt::scripttest
