// Player class, spawn and identity natives, called from a real script on a game server whose fake
// transport records every RPC: one table row per native with its main path, a bad or
// disconnected id, and id 65536 + n acting on n; the RPCs compared byte for byte. Then what the
// rows cannot show: leave to spawn as the spawn handler sees it, the name rule, spectating, and
// the pool sizes.

#include "server/natives/PlayerSpawnNatives.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "server/protocol/ClassSpawnDeath.h"
#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; 0 and 7 are also connected

class PlayerSpawnNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        net_->AddSlot(0, test::FakeNetServer::AddressOf(0));
        ASSERT_EQ(game_->GetPlayerPool()->Connect(0, "Zed", "SERIAL-ZED", "0.3.7", false), 1);
        Join(kPlayer, "Alice");
        Join(7, "Bob");
        net_->sent.clear();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }
    // The same RPC to every connected player.
    static std::vector<Rpc> ToAll(uint8_t id, const Bytes& payload) {
        return {{id, 0, payload}, {id, kPlayer, payload}, {id, 7, payload}};
    }

    NativeScript script{"natives_player", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(PlayerSpawnNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    const cell name = m.Alloc(std::vector<cell>(32, -1));
    const cell other = m.Alloc(std::vector<cell>(32, -1));
    const cell newName = m.Str("Carol");
    PlayerPool* pool = game_->GetPlayerPool();
    Player* alice = pool->GetAt(kPlayer);
    alice->SetColor(0x11223344);
    pool->GetAt(7)->StreamInPlayer(kPlayer);
    // Vehicles 1..3 and actors 0..3, so that the ids of the rows name vehicle and actor 3 too.
    for (int i = 0; i < 3; ++i) game_->GetVehiclePool()->New(400 + i, {10.0f, 20.0f, 3.0f}, 0.0f, 1, 1, -1);
    for (int i = 0; i < 4; ++i) game_->GetActorPool()->Create(100, {}, 0.0f);
    pool->GetAt(7)->StreamInActor(kPlayer);  // actor 3 for player 7
    alice->StreamInActor(2);                 // actor 2 for player 3
    // Spectating a vehicle moves the spectator there, and his streaming pass would stream in the
    // vehicles around it: player 0 sees those of his world already (3 moves to another world).
    for (uint16_t v = 1; v <= 2; ++v) pool->GetAt(0)->StreamInVehicle(v, false);
    // No map-marker packet may slip in between the natives' RPCs when a spectator is moved.
    game_->world.playerMarkerMode = 0;
    net_->sent.clear();

    const auto spawnArgs = [](cell id) {
        return std::vector<cell>{id,
                                 0x104,
                                 230,
                                 FloatToCell(1.0f),
                                 FloatToCell(2.0f),
                                 FloatToCell(3.0f),
                                 FloatToCell(45.0f),
                                 24,
                                 100,
                                 0,
                                 0,
                                 0,
                                 0};
    };
    const auto record = [](uint8_t team, int32_t skin) {
        return Cat({U8(team), U32(skin), U32(0), U8(0), F32(1.0f), F32(2.0f), F32(3.0f), F32(45.0f), U32(24),
                    U32(0), U32(0), U32(100), U32(0), U32(0)});
    };
    const Bytes spawnRecord = record(4, 230);
    ASSERT_EQ(spawnRecord.size(), SpawnInfo::kSize);
    const auto renameBack = [&] {
        if (std::string(pool->GetName(kPlayer)) != "Alice") {
            ASSERT_EQ(pool->SetName(kPlayer, "Alice"), 1);
        }
        net_->sent.clear();
    };
    const std::vector<NativeRow> rows = {
        {"SetSpawnInfo", spawnArgs, 1, 0, {{RPC_SpawnInfoSet, kPlayer, spawnRecord}}},
        {"SpawnPlayer",
         [](cell id) { return std::vector<cell>{id}; },
         1,
         0,
         {{RPC_SpawnRequest, kPlayer, U32(2)}}},
        {"ForceClassSelection",
         [](cell id) { return std::vector<cell>{id}; },
         1,
         0,
         {{RPC_ClassSelectionForce, kPlayer, {}}}},
        {"SetPlayerColor",
         [](cell id) {
             return std::vector<cell>{id, static_cast<cell>(0xFF00FFAAu)};
         },
         1, 0, ToAll(RPC_PlayerColorSet, Cat({U16(kPlayer), U32(0xFF00FFAA)}))},
        {"GetPlayerColor",
         [](cell id) { return std::vector<cell>{id}; },
         static_cast<cell>(0xFF00FFAAu),
         0,
         {}},
        {"SetPlayerVirtualWorld",
         [](cell id) {
             return std::vector<cell>{id, 77};
         },
         1,
         0,
         {{RPC_PlayerVirtualWorldSet, kPlayer, U32(77)}},
         [&] {
             game_->GetPlayerPool()->SetVirtualWorld(kPlayer, 0);
             net_->sent.clear();
         }},
        {"GetPlayerVirtualWorld", [](cell id) { return std::vector<cell>{id}; }, 77, 0, {}},
        {"GetPlayerTeam", [](cell id) { return std::vector<cell>{id}; }, 4, -1, {}},
        {"SetPlayerTeam",
         [](cell id) {
             return std::vector<cell>{id, 0x305};
         },
         1, 0, ToAll(RPC_PlayerTeamSet, Cat({U16(kPlayer), U8(5)}))},
        {"GetPlayerTeam", [](cell id) { return std::vector<cell>{id}; }, 5, -1, {}},
        {"GetPlayerCustomSkin",
         [](cell id) { return std::vector<cell>{id}; },
         20005,
         0,
         {},
         [&] { game_->GetPlayerPool()->GetAt(kPlayer)->SetSkin(230, 20005); }},
        {"GetPlayerSkin", [](cell id) { return std::vector<cell>{id}; }, 230, 0, {}},
        // The player has spawn information: his streamers (player 7), then he himself, hear of it.
        {"SetPlayerSkin",
         [](cell id) {
             return std::vector<cell>{id, 299};
         },
         1,
         0,
         {{RPC_PlayerSkinSet, 7, Cat({U16(kPlayer), U32(299), U32(0)})},
          {RPC_PlayerSkinSet, kPlayer, Cat({U16(kPlayer), U32(299), U32(0)})},
          {RPC_SpawnInfoSet, kPlayer, record(5, 299)}}},
        {"GetPlayerSkin", [](cell id) { return std::vector<cell>{id}; }, 299, 0, {}},
        {"GetPlayerState", [](cell id) { return std::vector<cell>{id}; }, PLAYER_STATE_NONE, 0, {}},
        {"IsPlayerConnected", [](cell id) { return std::vector<cell>{id}; }, 1, 0, {}},
        {"GetPlayerName",
         [&](cell id) {
             return std::vector<cell>{id, name, 32};
         },
         5,
         0,
         {}},
        {"SetPlayerName",
         [&](cell id) {
             return std::vector<cell>{id, newName};
         },
         1, 0, ToAll(RPC_PlayerNameSet, Cat({U16(kPlayer), U8(5), Bytes{'C', 'a', 'r', 'o', 'l'}, U8(1)})),
         renameBack},
        {"GetPlayerVersion",
         [&](cell id) {
             return std::vector<cell>{id, other, 32};
         },
         0,
         0,
         {}},
        {"gpci",
         [&](cell id) {
             return std::vector<cell>{id, other, 32};
         },
         0,
         0,
         {}},
        // The player is streamed in for 7; as the viewer, 3 has nobody streamed in.
        {"IsPlayerStreamedIn",
         [](cell id) {
             return std::vector<cell>{id, 7};
         },
         1,
         0,
         {}},
        {"IsPlayerStreamedIn",
         [](cell id) {
             return std::vector<cell>{7, id};
         },
         0,
         0,
         {}},
        // Actor 3 is streamed in for 7 only, actor 2 for 3 only.
        {"IsActorStreamedIn",
         [](cell id) {
             return std::vector<cell>{id, 7};
         },
         1,
         0,
         {}},
        {"IsActorStreamedIn",
         [](cell id) {
             return std::vector<cell>{2, id};
         },
         1,
         0,
         {}},
        {"SetVehicleVirtualWorld",
         [](cell id) {
             return std::vector<cell>{id, -12};
         },
         1,
         0,
         {}},
        {"GetVehicleVirtualWorld", [](cell id) { return std::vector<cell>{id}; }, -12, 0, {}},
        {"TogglePlayerSpectating",
         [](cell id) {
             return std::vector<cell>{id, 1};
         },
         1,
         0,
         {{RPC_SpectatingToggle, kPlayer, U32(1)}}},
        // A spectator moved runs his streaming pass: the actors above are gone by now, so that
        // only the spectating messages go out.
        {"PlayerSpectateVehicle",
         [](cell id) {
             return std::vector<cell>{id, 3, 0x102};
         },
         1,
         0,
         {{RPC_SpectateVehicle, kPlayer, Cat({U16(3), U8(2)})}},
         [&] {
             for (uint16_t actor = 0; actor < 4; ++actor) game_->GetActorPool()->Destroy(actor);
             net_->sent.clear();
         }},
        {"PlayerSpectateVehicle",
         [](cell id) {
             return std::vector<cell>{0, id, 1};
         },
         1,
         0,
         {{RPC_SpectateVehicle, 0, Cat({U16(3), U8(1)})}}},
        {"PlayerSpectatePlayer",
         [](cell id) {
             return std::vector<cell>{id, 7, 3};
         },
         1,
         0,
         {{RPC_SpectatePlayer, kPlayer, Cat({U16(7), U8(3)})}}},
        {"PlayerSpectatePlayer",
         [](cell id) {
             return std::vector<cell>{0, id, 1};
         },
         1,
         0,
         {{RPC_SpectatePlayer, 0, Cat({U16(kPlayer), U8(1)})}}},
    };
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    EXPECT_EQ(m.Text(name), "Alice");
}

TEST_F(PlayerSpawnNatives, SpawnNativesStoreTheRecordAndGiveLeaveToSpawn) {
    PlayerPool* pool = game_->GetPlayerPool();
    EXPECT_FALSE(pool->GetAt(kPlayer)->IsSpawnAllowed());
    EXPECT_FALSE(pool->GetAt(kPlayer)->HasSpawnInfo());
    EXPECT_EQ(script
                  .Call("SetSpawnInfo", {kPlayer, 255, 20001, FloatToCell(-5.5f), FloatToCell(0.0f),
                                         FloatToCell(9.0f), FloatToCell(359.0f), 31, 500, 24, 7, 16, 1})
                  .value,
              1);
    const Player* p = pool->GetAt(kPlayer);
    EXPECT_TRUE(p->IsSpawnAllowed());
    ASSERT_TRUE(p->HasSpawnInfo());
    const SpawnInfo& info = p->GetSpawnInfo();
    EXPECT_EQ(info.team, 255);
    EXPECT_EQ(info.skin, 20001);
    EXPECT_EQ(info.customSkin, 0);
    EXPECT_EQ(info.position.x, -5.5f);
    EXPECT_EQ(info.position.z, 9.0f);
    EXPECT_EQ(info.facingAngle, 359.0f);
    EXPECT_EQ(info.weapons, (std::array<int32_t, 3>{31, 24, 16}));
    EXPECT_EQ(info.ammo, (std::array<int32_t, 3>{500, 7, 1}));
    EXPECT_EQ(script.Call("GetPlayerTeam", {kPlayer}).value, 255);
    EXPECT_EQ(script.Call("GetPlayerSkin", {kPlayer}).value, 20001);

    // SpawnPlayer alone gives leave too, and leaves the record alone.
    EXPECT_FALSE(pool->GetAt(7)->IsSpawnAllowed());
    EXPECT_EQ(script.Call("SpawnPlayer", {7}).value, 1);
    EXPECT_TRUE(pool->GetAt(7)->IsSpawnAllowed());
    EXPECT_FALSE(pool->GetAt(7)->HasSpawnInfo());
}

TEST_F(PlayerSpawnNatives, SpawnHandlerAcceptsTheSpawnTheNativesAllowed) {
    PlayerPool* pool = game_->GetPlayerPool();
    const auto spawned = [&](uint16_t id) {
        RpcCallParams params{nullptr, 0, test::FakeNetServer::AddressOf(id), nullptr};
        RpcPlayerSpawned(&params);
    };
    // A spawn record from class selection alone gives no leave: the client is thrown out.
    SpawnInfo classRecord;
    classRecord.skin = 7;
    pool->GetAt(0)->SetSpawnInfo(classRecord);
    spawned(0);
    EXPECT_FALSE(pool->IsConnected(0));

    EXPECT_EQ(script
                  .Call("SetSpawnInfo", {kPlayer, 1, 2, FloatToCell(5.0f), FloatToCell(6.0f),
                                         FloatToCell(7.0f), 0, 0, 0, 0, 0, 0, 0})
                  .value,
              1);
    spawned(kPlayer);
    ASSERT_TRUE(pool->IsConnected(kPlayer));
    EXPECT_EQ(pool->GetAt(kPlayer)->GetState(), PLAYER_STATE_SPAWNED);
    EXPECT_EQ(pool->GetAt(kPlayer)->GetPosition().y, 6.0f);

    pool->GetAt(7)->SetSpawnInfo(classRecord);
    EXPECT_EQ(script.Call("SpawnPlayer", {7}).value, 1);
    spawned(7);
    ASSERT_TRUE(pool->IsConnected(7));
    EXPECT_EQ(pool->GetAt(7)->GetState(), PLAYER_STATE_SPAWNED);
    EXPECT_EQ(pool->GetAt(7)->GetSpawnInfo().skin, 7);
}

TEST_F(PlayerSpawnNatives, TeamAndSkinBeforeAnySpawnInfoAreStoredQuietly) {
    Player* alice = game_->GetPlayerPool()->GetAt(kPlayer);
    EXPECT_EQ(script.Call("SetPlayerSkin", {kPlayer, 20001}).value, 1);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(script.Call("SetPlayerTeam", {kPlayer, 9}).value, 1);
    EXPECT_EQ(TakeRpcs(), ToAll(RPC_PlayerTeamSet, Cat({U16(kPlayer), U8(9)})));
    EXPECT_FALSE(alice->HasSpawnInfo());
    EXPECT_FALSE(alice->IsSpawnAllowed());
    // Without custom models a skin above 20000 is kept as given.
    EXPECT_EQ(alice->GetSpawnInfo().skin, 20001);
    EXPECT_EQ(alice->GetSpawnInfo().customSkin, 0);
    EXPECT_EQ(script.Call("GetPlayerSkin", {kPlayer}).value, 20001);
    EXPECT_EQ(script.Call("GetPlayerTeam", {kPlayer}).value, 9);
}

TEST_F(PlayerSpawnNatives, SetPlayerNameKeepsNamesUniqueAndWellFormed) {
    ScriptMemory& m = script.mem;
    PlayerPool* pool = game_->GetPlayerPool();
    struct Case {
        cell text;
        cell result;
        const char* nameAfter;
    };
    const Case cases[] = {
        {m.Str(""), 0, "Alice"},
        {m.Str("bOB"), 0, "Alice"},    // player 7's name in another case
        {m.Str("ALICE"), 0, "Alice"},  // his own name counts as taken too
        {m.Str("Al ice"), -1, "Alice"},
        {m.Str("Al%ce"), -1, "Alice"},
        {m.Str(std::string(25, 'a')), -1, "Alice"},
        {m.Str(std::string(300, 'a')), -1, "Alice"},
        {-4, 0, "Alice"},  // no text at all
        {m.Packed("[V]_a.b=c(d)@$"), 1, "[V]_a.b=c(d)@$"},
        {m.Str(std::string(24, 'z')), 1, "zzzzzzzzzzzzzzzzzzzzzzzz"},
        {m.Str("x"), 1, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nameAfter);
        const std::string before = pool->GetName(kPlayer);
        EXPECT_EQ(script.Call("SetPlayerName", {kPlayer, c.text}).value, c.result);
        EXPECT_STREQ(pool->GetName(kPlayer), c.nameAfter);
        if (c.result != 1) {
            EXPECT_TRUE(TakeRpcs().empty());
            continue;
        }
        const std::string after = c.nameAfter;
        Bytes text(after.begin(), after.end());
        EXPECT_EQ(TakeRpcs(), ToAll(RPC_PlayerNameSet, Cat({U16(kPlayer), U8(after.size()), text, U8(1)})));
        EXPECT_TRUE(Logged("[nick] " + before + " nick changed to " + after));
    }
    // The old name is free again, the new one taken.
    EXPECT_FALSE(pool->IsNameInUse("Alice"));
    EXPECT_TRUE(pool->IsNameInUse("X"));

    settings_.chatLogging = 0;
    EXPECT_EQ(script.Call("SetPlayerName", {kPlayer, m.Str("Quiet")}).value, 1);
    EXPECT_FALSE(Logged("[nick] x nick changed to Quiet"));
}

TEST_F(PlayerSpawnNatives, SpectatingMovesThePlayerAndRemembersWhatHeWatches) {
    Player* alice = game_->GetPlayerPool()->GetAt(kPlayer);
    const uint16_t vehicle = game_->GetVehiclePool()->New(411, {100.0f, -50.0f, 12.5f}, 0.0f, 0, 0, 0);
    ASSERT_EQ(vehicle, 1);
    EXPECT_EQ(alice->GetSpectateMode(), SPECTATE_MODE_NONE);
    EXPECT_EQ(alice->GetSpectateTarget(), -1);

    EXPECT_EQ(script.Call("PlayerSpectateVehicle", {kPlayer, vehicle, 1}).value, 1);
    EXPECT_EQ(alice->GetSpectateMode(), SPECTATE_MODE_VEHICLE);
    EXPECT_EQ(alice->GetSpectateTarget(), vehicle);
    EXPECT_EQ(alice->GetState(), PLAYER_STATE_SPECTATING);
    EXPECT_EQ(alice->GetPosition().x, 100.0f);
    EXPECT_EQ(alice->GetPosition().z, 12.5f);
    EXPECT_TRUE(alice->IsServerPositionSet());

    Player* bob = game_->GetPlayerPool()->GetAt(7);
    bob->UpdatePosition(-3.0f, 4.0f, 5.0f, false);
    EXPECT_EQ(script.Call("PlayerSpectatePlayer", {kPlayer, 7, 1}).value, 1);
    EXPECT_EQ(alice->GetSpectateMode(), SPECTATE_MODE_PLAYER);
    EXPECT_EQ(alice->GetSpectateTarget(), 7);
    EXPECT_EQ(alice->GetPosition().x, -3.0f);

    EXPECT_EQ(script.Call("TogglePlayerSpectating", {kPlayer, 0}).value, 1);
    EXPECT_EQ(alice->GetSpectateMode(), SPECTATE_MODE_NONE);
    EXPECT_EQ(alice->GetSpectateTarget(), -1);

    // A vehicle that is not there is nothing to watch.
    EXPECT_EQ(script.Call("PlayerSpectateVehicle", {kPlayer, 2, 1}).value, 0);
    EXPECT_EQ(script.Call("PlayerSpectateVehicle", {kPlayer, 0, 1}).value, 0);
    EXPECT_EQ(alice->GetSpectateMode(), SPECTATE_MODE_NONE);
}

TEST_F(PlayerSpawnNatives, SpectatorKickedByHisStateChangeGetsNoMoreMessages) {
    const uint16_t vehicle = game_->GetVehiclePool()->New(411, {1.0f, 2.0f, 3.0f}, 0.0f, 0, 0, 0);
    scripts_.gameModePublics["OnPlayerStateChange"] = 1;
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnPlayerStateChange") game_->KickPlayer(kPlayer);
    };
    net_->sent.clear();
    EXPECT_EQ(script.Call("PlayerSpectateVehicle", {kPlayer, vehicle, 1}).value, 1);
    EXPECT_FALSE(game_->GetPlayerPool()->IsConnected(kPlayer));
    EXPECT_TRUE(net_->Rpcs(RPC_SpectateVehicle).empty());
    scripts_.onRun = nullptr;
}

TEST_F(PlayerSpawnNatives, TextsAreCutToTheScriptsArray) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc(std::vector<cell>(32, -1));
    EXPECT_EQ(script.Call("gpci", {0, out, 32}).value, 10);
    EXPECT_EQ(m.Text(out), "SERIAL-ZED");
    EXPECT_EQ(script.Call("GetPlayerVersion", {0, out, 32}).value, 5);
    EXPECT_EQ(m.Text(out), "0.3.7");
    // Size 4: three characters and the terminator; the cells after it are left alone.
    const cell small = m.Alloc(std::vector<cell>(6, -1));
    EXPECT_EQ(script.Call("GetPlayerName", {kPlayer, small, 4}).value, 3);
    EXPECT_EQ(m.Read(small, 6), (std::vector<cell>{'A', 'l', 'i', 0, -1, -1}));
    // A size of 0 or an array outside the script writes nothing.
    EXPECT_EQ(script.Call("GetPlayerName", {kPlayer, small, 0}).value, 0);
    EXPECT_EQ(script.Call("GetPlayerName", {kPlayer, script.vm()->heap - 8, 24}).value, 0);
    EXPECT_EQ(script.Call("GetPlayerName", {kPlayer, -4, 24}).value, 0);
    // A 24-character name in an array of 24 cells arrives as 23 characters.
    ASSERT_EQ(game_->GetPlayerPool()->Connect(9, "ABCDEFGHIJKLMNOPQRSTUVWX", nullptr, nullptr, false), 1);
    const cell full = m.Alloc(std::vector<cell>(24, -1));
    EXPECT_EQ(script.Call("GetPlayerName", {9, full, 24}).value, 23);
    EXPECT_EQ(m.Text(full), "ABCDEFGHIJKLMNOPQRSTUVW");
}

TEST_F(PlayerSpawnNatives, ClassesAreAppendedUntilTheTableIsFull) {
    const auto classArgs = [](std::vector<cell> head) {
        const std::vector<cell> tail = {FloatToCell(1.5f),
                                        FloatToCell(-2.0f),
                                        FloatToCell(3.25f),
                                        FloatToCell(90.0f),
                                        24,
                                        100,
                                        31,
                                        250,
                                        0,
                                        0};
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    EXPECT_EQ(script.Call("AddPlayerClass", classArgs({20005})).value, 0);
    EXPECT_EQ(script.Call("AddPlayerClassEx", classArgs({0x105, 7})).value, 1);
    const SpawnInfo* first = game_->GetPlayerClass(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->team, 255);
    EXPECT_EQ(first->skin, 20005);  // stored as given: classes map no custom skins
    EXPECT_EQ(first->customSkin, 0);
    EXPECT_EQ(first->position.x, 1.5f);
    EXPECT_EQ(first->position.y, -2.0f);
    EXPECT_EQ(first->position.z, 3.25f);
    EXPECT_EQ(first->facingAngle, 90.0f);
    EXPECT_EQ(first->weapons, (std::array<int32_t, 3>{24, 31, 0}));
    EXPECT_EQ(first->ammo, (std::array<int32_t, 3>{100, 250, 0}));
    EXPECT_EQ(game_->GetPlayerClass(1)->team, 5);  // the low byte of the team
    EXPECT_EQ(game_->GetPlayerClass(1)->skin, 7);

    for (int i = 2; i < 319; ++i) ASSERT_EQ(script.Call("AddPlayerClass", classArgs({i})).value, i);
    EXPECT_EQ(script.Call("AddPlayerClass", classArgs({1})).value, 319);
    EXPECT_EQ(script.Call("AddPlayerClassEx", classArgs({1, 1})).value, 319);
    EXPECT_EQ(game_->GetClassCount(), 319u);
    EXPECT_TRUE(TakeRpcs().empty());
}

TEST_F(PlayerSpawnNatives, PoolSizesAndVehicleStreaming) {
    EXPECT_EQ(script.Call("GetPlayerPoolSize", {}).value, 7);
    game_->GetPlayerPool()->Disconnect(7, DISCONNECT_QUIT);
    game_->GetPlayerPool()->Disconnect(kPlayer, DISCONNECT_QUIT);
    // Only player 0 left: the same answer as with nobody at all.
    EXPECT_EQ(script.Call("GetPlayerPoolSize", {}).value, 0);
    game_->GetPlayerPool()->Disconnect(0, DISCONNECT_QUIT);
    EXPECT_EQ(script.Call("GetPlayerPoolSize", {}).value, 0);
    EXPECT_EQ(script.Call("GetVehiclePoolSize", {}).value, 0);
    // No vehicle exists, so none is streamed in for anybody.
    EXPECT_EQ(script.Call("IsVehicleStreamedIn", {1, 0}).value, 0);
    EXPECT_EQ(script.Call("IsPlayerConnected", {0}).value, 0);

    // Actor ids start at 0: one actor answers 0 like none; the highest id counts, not how many.
    EXPECT_EQ(script.Call("GetActorPoolSize", {}).value, 0);
    ActorPool* actors = game_->GetActorPool();
    ASSERT_EQ(actors->Create(1, {}, 0.0f), 0);
    EXPECT_EQ(script.Call("GetActorPoolSize", {}).value, 0);
    ASSERT_EQ(actors->Create(1, {}, 0.0f), 1);
    EXPECT_EQ(script.Call("GetActorPoolSize", {}).value, 1);
    // Vehicle ids start at 1.
    ASSERT_EQ(game_->GetVehiclePool()->New(400, {}, 0.0f, 0, 0, 0), 1);
    EXPECT_EQ(script.Call("GetVehiclePoolSize", {}).value, 1);
    EXPECT_EQ(game_->GetVehiclePool()->New(399, {}, 0.0f, 0, 0, 0), 0xFFFF);
    EXPECT_EQ(game_->GetVehiclePool()->New(612, {}, 0.0f, 0, 0, 0), 0xFFFF);
}

TEST_F(PlayerSpawnNatives, NativesWithoutTheirPoolsFail) {
    // Without a game server (before start-up, after shutdown) there are no pools to ask.
    TheGameServer = nullptr;
    EXPECT_EQ(script.Call("GetActorPoolSize", {}).value, -1);
    EXPECT_EQ(script.Call("IsActorStreamedIn", {0, 0}).value, 0);
    EXPECT_EQ(script.Call("SetVehicleVirtualWorld", {1, 1}).value, 0);
    EXPECT_EQ(script.Call("GetVehicleVirtualWorld", {1}).value, 0);
    EXPECT_EQ(script.Call("SetPlayerName", {kPlayer, script.mem.Str("Zoe")}).value, 0);
    TheGameServer = game_.get();
}

}  // namespace
}  // namespace velt::scripttest
