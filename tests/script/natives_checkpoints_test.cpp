// Checkpoint, map icon, marker, name tag and world display natives, called from a real script on a
// game server whose fake transport records every RPC: one table row per player native (good,
// wrapped, bad and disconnected ids; payloads byte for byte), the world settings they store, and
// the checkpoints' enter and leave callbacks as the player's position updates find them.

#include <algorithm>
#include <string>
#include <vector>

#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; 0 and 7 are also connected
constexpr uint16_t kOther = 7;

std::vector<cell> Floats(std::initializer_list<float> values) {
    std::vector<cell> out;
    for (float v : values) out.push_back(FloatToCell(v));
    return out;
}

std::vector<cell> Args(std::vector<cell> head, const std::vector<cell>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class CheckpointNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer, kOther);
        for (const char* name : {"OnPlayerEnterCheckpoint", "OnPlayerLeaveCheckpoint",
                                 "OnPlayerEnterRaceCheckpoint", "OnPlayerLeaveRaceCheckpoint"})
            scripts_.gameModePublics[name] = 1;
        net_->sent.clear();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }
    Player* Alice() { return game_->GetPlayerPool()->GetAt(kPlayer); }
    // Where the client says the player is; the callbacks it raised, by name.
    std::vector<std::string> MoveTo(float x, float y, float z) {
        scripts_.calls.clear();
        Alice()->UpdatePosition(x, y, z, false);
        std::vector<std::string> raised;
        for (const ScriptCall& call : scripts_.calls)
            if (call.name.find("Checkpoint") != std::string::npos) raised.push_back(call.name);
        net_->sent.clear();
        return raised;
    }

    NativeScript script{"natives_checkpoints", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(CheckpointNatives, EveryPlayerNativeOnGoodBadAndWrappedIds) {
    const auto one = [](cell id) { return std::vector<cell>{id}; };
    // The player stands at (1, 2, 3); the rows that ask whether he is inside put him in first.
    const auto inCheckpoint = [&] {
        Alice()->SetCheckpoint(1.0f, 2.0f, 3.0f, 4.0f);
        MoveTo(1.0f, 2.0f, 3.0f);
    };
    const auto inRaceCheckpoint = [&] {
        Alice()->SetRaceCheckpoint(0, 1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f, 4.0f);
        MoveTo(1.0f, 2.0f, 3.0f);
    };
    const std::vector<NativeRow> rows = {
        {"SetPlayerCheckpoint",
         [](cell id) {
             return Args({id}, Floats({1.0f, -2.0f, 3.5f, 4.0f}));
         },
         1,
         0,
         {{RPC_CheckpointSet, kPlayer, Cat({F32(1.0f), F32(-2.0f), F32(3.5f), F32(4.0f)})}},
         inCheckpoint,
         [&] { EXPECT_FALSE(Alice()->IsInCheckpoint()); }},
        {"IsPlayerInCheckpoint", one, 1, 0, {}, inCheckpoint},
        {"DisablePlayerCheckpoint",
         one,
         1,
         0,
         {{RPC_CheckpointDisable, kPlayer, {}}},
         inCheckpoint,
         [&] { EXPECT_FALSE(Alice()->IsInCheckpoint()); }},
        {"IsPlayerInCheckpoint", one, 0, 0, {}},
        {"SetPlayerRaceCheckpoint",
         [](cell id) {
             return Args({id, 0x102}, Floats({1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.5f}));
         },
         1,
         0,
         {{RPC_RaceCheckpointSet, kPlayer,
           Cat({U8(2), F32(1.0f), F32(2.0f), F32(3.0f), F32(4.0f), F32(5.0f), F32(6.0f), F32(7.5f)})}},
         inRaceCheckpoint,
         [&] { EXPECT_FALSE(Alice()->IsInRaceCheckpoint()); }},
        {"IsPlayerInRaceCheckpoint", one, 1, 0, {}, inRaceCheckpoint},
        {"DisablePlayerRaceCheckpoint",
         one,
         1,
         0,
         {{RPC_RaceCheckpointDisable, kPlayer, {}}},
         inRaceCheckpoint},
        {"IsPlayerInRaceCheckpoint", one, 0, 0, {}},
        // Each byte-wide argument goes as its low byte: icon 300 is icon 44.
        {"SetPlayerMapIcon",
         [](cell id) {
             return Args(Args({id, 300}, Floats({10.0f, 20.0f, 30.0f})),
                         {0x123, static_cast<cell>(0xFF0000FFu), 0x102});
         },
         1,
         0,
         {{RPC_MapIconSet, kPlayer,
           Cat({U8(44), F32(10.0f), F32(20.0f), F32(30.0f), U8(0x23), U32(0xFF0000FF), U8(2)})}}},
        {"RemovePlayerMapIcon",
         [](cell id) {
             return std::vector<cell>{id, 99};
         },
         1,
         0,
         {{RPC_MapIconRemove, kPlayer, U8(99)}}},
        {"SetPlayerMarkerForPlayer",
         [](cell id) {
             return std::vector<cell>{id, kOther, 0x11223344};
         },
         1,
         0,
         {{RPC_PlayerColorSet, kPlayer, Cat({U16(kOther), U32(0x11223344)})}},
         {},
         [&] { EXPECT_EQ(game_->GetPlayerPool()->GetAt(kOther)->GetColor(), 0u); }},
        {"SetPlayerMarkerForPlayer",
         [](cell id) {
             return std::vector<cell>{kOther, id, 0x55667788};
         },
         1,
         0,
         {{RPC_PlayerColorSet, kOther, Cat({U16(kPlayer), U32(0x55667788)})}},
         {},
         [&] { EXPECT_EQ(Alice()->GetColor(), 0u); }},
        {"ShowPlayerNameTagForPlayer",
         [](cell id) {
             return std::vector<cell>{id, kOther, 0x100};
         },
         1,
         0,
         {{RPC_NameTagShow, kPlayer, Cat({U16(kOther), U8(0)})}}},
        {"ShowPlayerNameTagForPlayer",
         [](cell id) {
             return std::vector<cell>{kOther, id, 1};
         },
         1,
         0,
         {{RPC_NameTagShow, kOther, Cat({U16(kPlayer), U8(1)})}}},
        // One bit: only an argument of exactly 1 switches the bonus on.
        {"EnableStuntBonusForPlayer",
         [](cell id) {
             return std::vector<cell>{id, 1};
         },
         1,
         0,
         {{RPC_StuntBonusEnable, kPlayer, U8(0x80)}}},
        {"EnableStuntBonusForPlayer",
         [](cell id) {
             return std::vector<cell>{id, 257};
         },
         1,
         0,
         {{RPC_StuntBonusEnable, kPlayer, U8(0)}}},
    };
    const size_t logged = LogLines().size();
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    EXPECT_EQ(LogLines().size(), logged);  // nothing logged, good ids or bad
    // The player's own stunt bonus is not the world's.
    EXPECT_EQ(game_->world.stuntBonus, 1);
}

TEST_F(CheckpointNatives, MapIconsOutsideTheHundredSlotsAreRefused) {
    for (cell icon : {100, 255, 356, -1, 0x7FFFFF64}) {
        SCOPED_TRACE(icon);
        EXPECT_EQ(
            script.Call("SetPlayerMapIcon", Args(Args({kPlayer, icon}, Floats({0, 0, 0})), {1, 0, 0})).value,
            0);
        EXPECT_EQ(script.Call("RemovePlayerMapIcon", {kPlayer, icon}).value, 0);
    }
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(script.Call("RemovePlayerMapIcon", {kPlayer, 0x100}).value, 1);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_MapIconRemove, kPlayer, U8(0)}}));
}

TEST_F(CheckpointNatives, WorldSettingsAreStoredForPlayersWhoJoinLater) {
    WorldSettings& w = game_->world;
    struct Case {
        const char* native;
        std::vector<cell> args;
        std::function<bool()> stored;
    };
    const std::vector<Case> cases = {
        {"ShowPlayerMarkers", {-7}, [&] { return w.playerMarkerMode == 0xFFFFFFF9u; }},
        {"ShowNameTags", {0}, [&] { return w.showNameTags == 0; }},
        {"ShowNameTags", {256}, [&] { return w.showNameTags == 1; }},
        {"SetNameTagDrawDistance", Floats({12.5f}), [&] { return w.nameTagDrawDistance == 12.5f; }},
        {"DisableNameTagLOS", {}, [&] { return w.nameTagLineOfSight == 0; }},
        {"AllowInteriorWeapons", {2}, [&] { return w.allowInteriorWeapons == 1; }},
        {"AllowInteriorWeapons", {0}, [&] { return w.allowInteriorWeapons == 0; }},
        {"UsePlayerPedAnims", {}, [&] { return w.usePlayerPedAnims == 1; }},
        {"DisableInteriorEnterExits", {}, [&] { return w.disableInteriorEnterExits == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.native);
        EXPECT_EQ(script.Call(c.native, c.args).value, 1);
        EXPECT_TRUE(c.stored());
    }
    EXPECT_TRUE(TakeRpcs().empty());

    // The stunt bonus is the one that players already in the game hear of at once.
    const auto toAll = [](uint8_t bit) {
        return std::vector<Rpc>{{RPC_StuntBonusEnable, 0, U8(bit)},
                                {RPC_StuntBonusEnable, kPlayer, U8(bit)},
                                {RPC_StuntBonusEnable, kOther, U8(bit)}};
    };
    EXPECT_EQ(script.Call("EnableStuntBonusForAll", {2}).value, 1);
    EXPECT_EQ(w.stuntBonus, 0);
    EXPECT_EQ(TakeRpcs(), toAll(0));
    EXPECT_EQ(script.Call("EnableStuntBonusForAll", {1}).value, 1);
    EXPECT_EQ(w.stuntBonus, 1);
    EXPECT_EQ(TakeRpcs(), toAll(0x80));
}

TEST_F(CheckpointNatives, DeprecatedTeleportNativesSayItOnEveryCall) {
    for (const char* native : {"AllowPlayerTeleport", "AllowAdminTeleport"}) {
        for (int call = 0; call < 2; ++call) EXPECT_EQ(script.Call(native, {1}).value, 1);
        const std::string line =
            std::string(native) + "() : function is deprecated. Please see OnPlayerClickMap()";
        const std::vector<std::string> lines = LogLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 2) << native;
    }
    EXPECT_TRUE(TakeRpcs().empty());
}

TEST_F(CheckpointNatives, EnteringAndLeavingRaiseOneCallbackEach) {
    using Names = std::vector<std::string>;
    MoveTo(100.0f, 0.0f, 0.0f);
    ASSERT_EQ(script.Call("SetPlayerCheckpoint", Args({kPlayer}, Floats({0, 0, 0, 5}))).value, 1);
    ASSERT_EQ(
        script.Call("SetPlayerRaceCheckpoint", Args({kPlayer, 1}, Floats({50, 0, 0, 0, 0, 0, 2}))).value, 1);
    net_->sent.clear();

    EXPECT_EQ(MoveTo(4.9f, 0.0f, 0.0f), Names{"OnPlayerEnterCheckpoint"});
    EXPECT_EQ(script.Call("IsPlayerInCheckpoint", {kPlayer}).value, 1);
    EXPECT_EQ(MoveTo(0.0f, 3.0f, -3.0f), Names{});
    // At exactly its size the player is no longer inside.
    EXPECT_EQ(MoveTo(0.0f, 0.0f, 5.0f), Names{"OnPlayerLeaveCheckpoint"});
    EXPECT_EQ(script.Call("IsPlayerInCheckpoint", {kPlayer}).value, 0);
    EXPECT_EQ(MoveTo(49.0f, 1.0f, 0.0f), (Names{"OnPlayerEnterRaceCheckpoint"}));
    EXPECT_EQ(script.Call("IsPlayerInRaceCheckpoint", {kPlayer}).value, 1);

    // A new checkpoint where the player stands: not inside until his next update finds him there.
    ASSERT_EQ(
        script.Call("SetPlayerRaceCheckpoint", Args({kPlayer, 1}, Floats({49, 1, 0, 0, 0, 0, 2}))).value, 1);
    EXPECT_EQ(script.Call("IsPlayerInRaceCheckpoint", {kPlayer}).value, 0);
    EXPECT_EQ(MoveTo(49.0f, 1.0f, 0.0f), (Names{"OnPlayerEnterRaceCheckpoint"}));
    EXPECT_EQ(MoveTo(100.0f, 1.0f, 0.0f), (Names{"OnPlayerLeaveRaceCheckpoint"}));

    // Disabled checkpoints are never entered.
    ASSERT_EQ(script.Call("DisablePlayerCheckpoint", {kPlayer}).value, 1);
    ASSERT_EQ(script.Call("DisablePlayerRaceCheckpoint", {kPlayer}).value, 1);
    EXPECT_EQ(MoveTo(0.0f, 0.0f, 0.0f), Names{});
    EXPECT_EQ(MoveTo(49.0f, 1.0f, 0.0f), Names{});
}

}  // namespace
}  // namespace velt::scripttest
