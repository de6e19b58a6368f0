// Label, player label, chat bubble, actor and pickup natives, called from a real script on a game server whose
// fake transport records every RPC: one table row per native with its main path, bad ids and ids
// of 65536 + n acting on n; the RPCs compared byte for byte. Then what the rows cannot show: full
// pools, texts of every length, and a server between gamemodes, without pools.

#include <functional>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

// The player, label, actor and vehicle the rows act on all have id 3. Player 7 has player 3 and
// actor 3 streamed in; nobody has label 3, which stands far from everybody.
constexpr cell kId = 3;
constexpr uint16_t kViewer = 7;

class WorldNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kId, kViewer);
        game_->world.playerMarkerMode = 0;
        PlayerPool* pool = game_->GetPlayerPool();
        pool->GetAt(kId)->SetState(PLAYER_STATE_ONFOOT);
        pool->GetAt(kViewer)->StreamInPlayer(kId);
        for (int i = 0; i < 3; ++i) game_->GetVehiclePool()->New(400 + i, {}, 0.0f, 1, 1, -1);
        for (int i = 0; i <= kId; ++i) {
            game_->GetActorPool()->Create(100 + i, {}, 0.0f);
            FarLabel();
            game_->GetPickupPool()->Create(1239, 2, {}, 0);
        }
        pool->GetAt(kViewer)->StreamInActor(kId);
        net_->sent.clear();
    }

    void FarLabel() { game_->GetTextLabelPool()->Create("far", 0, {5000.0f, 5000.0f, 0.0f}, 10.0f, 0, 0); }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }

    NativeScript script{"natives_world", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(WorldNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    const cell x = m.Value(0), y = m.Value(0), z = m.Value(0), angle = m.Value(0), health = m.Value(0);
    const cell text = m.Str("changed"), bubble = m.Str("hi"), lib = m.Str("PED"), walk = m.Str("WALK");
    ActorPool* actors = game_->GetActorPool();
    TextLabelPool* labels = game_->GetTextLabelPool();
    const auto one = [](cell id) { return std::vector<cell>{id}; };
    const std::vector<NativeRow> rows = {
        // ---- labels
        {"Update3DTextLabelText",
         [&](cell id) {
             return std::vector<cell>{id, 0x12345678, text};
         },
         1,
         0,
         {}},
        {"Attach3DTextLabelToPlayer",
         [](cell id) {
             return std::vector<cell>{id, kViewer, 0, 0, FloatToCell(1.0f)};
         },
         1,
         0,
         {}},
        {"Attach3DTextLabelToPlayer",
         [](cell id) {
             return std::vector<cell>{kId, id, 0, 0, FloatToCell(1.0f)};
         },
         1,
         0,
         {}},
        {"Attach3DTextLabelToVehicle",
         [](cell id) {
             return std::vector<cell>{id, 1, 0, 0, FloatToCell(2.0f)};
         },
         1,
         0,
         {}},
        {"Attach3DTextLabelToVehicle",
         [](cell id) {
             return std::vector<cell>{kId, id, 0, 0, FloatToCell(2.0f)};
         },
         1,
         0,
         {}},
        {"Delete3DTextLabel",
         one,
         1,
         0,
         {},
         [&] {
             if (!labels->IsUsed(kId)) FarLabel();
         }},
        {"SetPlayerChatBubble",
         [&](cell id) {
             return std::vector<cell>{id, bubble, static_cast<cell>(0xFF0000FFu), FloatToCell(20.0f), 5000};
         },
         1,
         0,
         {{RPC_ChatBubbleSet, kViewer,
           Cat({U16(kId), U32(0xFF0000FFu), F32(20.0f), U32(5000), U8(2), Bytes{'h', 'i'}})}}},
        // ---- actors
        {"IsValidActor", one, 1, 0, {}},
        {"SetActorPos",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(1.5f), FloatToCell(-2.0f), FloatToCell(3.0f)};
         },
         1,
         0,
         {{RPC_ActorPosSet, kViewer, Cat({U16(kId), F32(1.5f), F32(-2.0f), F32(3.0f)})}}},
        {"GetActorPos",
         [&](cell id) {
             return std::vector<cell>{id, x, y, z};
         },
         1,
         0,
         {}},
        {"SetActorFacingAngle",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(45.0f)};
         },
         1,
         0,
         {{RPC_ActorFacingAngleSet, kViewer, Cat({U16(kId), F32(45.0f)})}}},
        {"GetActorFacingAngle",
         [&](cell id) {
             return std::vector<cell>{id, angle};
         },
         1,
         0,
         {}},
        {"SetActorVirtualWorld",
         [](cell id) {
             return std::vector<cell>{id, -6};
         },
         1,
         0,
         {}},
        {"GetActorVirtualWorld", one, -6, 0, {}},
        // Four flag bits, then the time straddling the bytes after them.
        {"ApplyActorAnimation",
         [&](cell id) { return std::vector<cell>{id, lib, walk, FloatToCell(4.0f), 1, 0, 7, 0, 500}; },
         1,
         0,
         {{RPC_ActorAnimationApply, kViewer,
           Cat({U16(kId), U8(3), Bytes{'P', 'E', 'D'}, U8(4), Bytes{'W', 'A', 'L', 'K'}, F32(4.0f),
                Bytes{0xAF, 0x40, 0x10, 0x00, 0x00}})}}},
        {"ClearActorAnimations", one, 1, 0, {{RPC_ActorAnimationClear, kViewer, U16(kId)}}},
        {"SetActorHealth",
         [](cell id) {
             return std::vector<cell>{id, FloatToCell(55.5f)};
         },
         1,
         0,
         {{RPC_ActorHealthSet, kViewer, Cat({U16(kId), F32(55.5f)})}}},
        {"GetActorHealth",
         [&](cell id) {
             return std::vector<cell>{id, health};
         },
         1,
         0,
         {}},
        // Sent with nothing: clients learn it at their next stream-in.
        {"SetActorInvulnerable",
         [](cell id) {
             return std::vector<cell>{id, 0};
         },
         1,
         0,
         {}},
        {"IsActorInvulnerable", one, 0, 0, {}},
        {"SetActorInvulnerable",
         [](cell id) {
             return std::vector<cell>{id, 9};
         },
         1,
         0,
         {}},
        {"IsActorInvulnerable", one, 1, 0, {}},
        {"DestroyActor",
         one,
         1,
         0,
         {{RPC_ActorStreamOut, kViewer, U16(kId)}},
         [&] {
             if (!actors->Exists(kId)) actors->Create(5, {}, 0.0f);
             game_->GetPlayerPool()->GetAt(kViewer)->StreamInActor(kId);
             net_->sent.clear();
         }},
    };
    RunNativeRows(script, *net_, rows, {kId, 65536 + kId, static_cast<cell>(0xFFFF0000u) + kId},
                  {5, 1000, 65535, 65536 + 5, -1});
    EXPECT_EQ(m.Read(x, 1)[0], FloatToCell(1.5f));
    EXPECT_EQ(m.Read(y, 1)[0], FloatToCell(-2.0f));
    EXPECT_EQ(m.Read(z, 1)[0], FloatToCell(3.0f));
    EXPECT_EQ(m.Read(angle, 1)[0], FloatToCell(45.0f));
    EXPECT_EQ(m.Read(health, 1)[0], FloatToCell(55.5f));
}

TEST_F(WorldNatives, LabelTextsOfAnyLengthAndTheFullPool) {
    ScriptMemory& m = script.mem;
    TextLabelPool* labels = game_->GetTextLabelPool();
    // Alice stands at the origin in play: a label next to her reaches her at once.
    const std::string longText(3000, 'w');
    const cell args[] = {m.Str(""), m.Str(longText)};
    for (cell textArg : args) {
        const cell id = script
                            .Call("Create3DTextLabel",
                                  {textArg, 0x7F, FloatToCell(1.0f), 0, 0, FloatToCell(5.0f), 0, 0x101})
                            .value;
        ASSERT_GE(id, 0);
        ASSERT_LT(id, kMaxLabels);
        EXPECT_EQ(labels->Get(uint16_t(id))->testLOS, 1);  // the low 8 bits
        auto sent = TakeRpcs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].id, RPC_TextLabelCreate);
        EXPECT_EQ(sent[0].to, kId);
    }
    EXPECT_EQ(labels->Get(4)->text, "");
    EXPECT_EQ(labels->Get(5)->text, longText);
    const cell update = m.Str(std::string(70000, 'u'));
    EXPECT_EQ(script.Call("Update3DTextLabelText", {5, 0, update}).value, 1);
    EXPECT_EQ(labels->Get(5)->text.size(), 70000u);
    net_->sent.clear();

    while (labels->Create("", 0, {}, 0.0f, 0, 0) != kNoLabel) {}
    EXPECT_EQ(script.Call("Create3DTextLabel", {m.Str("x"), 0, 0, 0, 0, 0, 0, 0}).value, 0xFFFF);
}

// The create message of a player's own label, as the global labels write theirs.
Bytes PlayerLabelCreate(uint16_t row, const char* text, uint32_t colour, const Vector3& at,
                        float drawDistance, uint16_t attachedPlayer, uint16_t attachedVehicle,
                        uint8_t testLOS) {
    TextLabel label;
    label.text = text;
    label.colour = colour;
    label.position = at;
    label.drawDistance = drawDistance;
    label.testLOS = testLOS;
    label.attachedPlayer = attachedPlayer;
    label.attachedVehicle = attachedVehicle;
    BitStream bs;
    WriteTextLabelCreate(bs, uint16_t(kPlayerLabelWireBase + row), label);
    return Bytes(bs.GetData(), bs.GetData() + bs.GetNumberOfBytesUsed());
}

// Player 3 has his own labels 0 to 3; the rows act on label 3, or on player 3 with a new one.
TEST_F(WorldNatives, PlayerLabelNativesOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    PlayerLabelPool* own = game_->GetPlayerPool()->GetAt(kId)->GetLabelPool();
    for (int i = 0; i <= kId; ++i) own->Create("mine", 0, {}, 5.0f, kLabelNotAttached, kLabelNotAttached, 0);
    const cell text = m.Str("shop"), changed = m.Str("closed");
    const auto labelBack = [own] {
        if (!own->Exists(kId)) own->Create("mine", 0, {}, 5.0f, kLabelNotAttached, kLabelNotAttached, 0);
    };
    const Rpc deleted{RPC_TextLabelDelete, kId, U16(kPlayerLabelWireBase + kId)};
    const Rpc updated{
        RPC_TextLabelCreate, kId,
        PlayerLabelCreate(kId, "closed", 0x12345678, {}, 5.0f, kLabelNotAttached, kLabelNotAttached, 0)};
    const std::vector<NativeRow> rows = {
        {"CreatePlayer3DTextLabel",
         [&](cell id) {
             // The attached ids go as their low 16 bits unchecked, the test flag as its low 8 bits.
             return std::vector<cell>{id,
                                      text,
                                      0x7F,
                                      FloatToCell(1.0f),
                                      FloatToCell(2.0f),
                                      FloatToCell(3.0f),
                                      FloatToCell(25.0f),
                                      65536 + 999,
                                      -1,
                                      0x101};
         },
         kId + 1,
         0xFFFF,
         {{RPC_TextLabelCreate, kId,
           PlayerLabelCreate(kId + 1, "shop", 0x7F, {1.0f, 2.0f, 3.0f}, 25.0f, 999, 0xFFFF, 1)}},
         [own] { own->Delete(kId + 1); }},
        {"DeletePlayer3DTextLabel",
         [](cell id) {
             return std::vector<cell>{id, kId};
         },
         1,
         0,
         {deleted},
         labelBack},
        {"DeletePlayer3DTextLabel",
         [](cell id) {
             return std::vector<cell>{kId, id};
         },
         1,
         0,
         {deleted},
         labelBack},
        {"UpdatePlayer3DTextLabelText",
         [&](cell id) {
             return std::vector<cell>{id, kId, 0x12345678, changed};
         },
         1,
         0,
         {deleted, updated},
         labelBack},
        {"UpdatePlayer3DTextLabelText",
         [&](cell id) {
             return std::vector<cell>{kId, id, 0x12345678, changed};
         },
         1,
         0,
         {deleted, updated},
         labelBack},
    };
    // Player 5 is not connected and has no label 5; 1024 is past both.
    RunNativeRows(script, *net_, rows, {kId, 65536 + kId, static_cast<cell>(0xFFFF0000u) + kId},
                  {5, 1000, 1024, 65535, 65536 + 5, -1});
    EXPECT_EQ(own->Get(kId)->text, "closed");
    EXPECT_EQ(own->Get(kId)->virtualWorld, -1);
}

TEST_F(WorldNatives, PlayerLabelsKeepWholeTextsAndFillUpForTheirOwnerOnly) {
    ScriptMemory& m = script.mem;
    const std::string longText(3000, 'w');
    const auto create = [&](cell player, const std::string& text) {
        return script.Call("CreatePlayer3DTextLabel", {player, m.Str(text), 0, 0, 0, 0, 0, 0, 0, 0}).value;
    };
    EXPECT_EQ(create(kId, longText), 0);
    EXPECT_EQ(create(kId, ""), 1);
    PlayerLabelPool* own = game_->GetPlayerPool()->GetAt(kId)->GetLabelPool();
    EXPECT_EQ(own->Get(0)->text, longText);
    EXPECT_EQ(own->Get(1)->text, "");
    while (own->Create("", 0, {}, 0.0f, 0, 0, 0) != 0xFFFF) {}
    net_->sent.clear();
    EXPECT_EQ(create(kId, "x"), 0xFFFF);
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(create(kViewer, "x"), 0);
}

TEST_F(WorldNatives, ChatBubbleTextsUpTo144CharactersFromAPlayerInPlay) {
    ScriptMemory& m = script.mem;
    const auto bubble = [&](cell player, const std::string& text) {
        return script.Call("SetPlayerChatBubble", {player, m.Str(text), 0, FloatToCell(10.0f), 100}).value;
    };
    EXPECT_EQ(bubble(kId, std::string(144, 'b')), 1);
    auto sent = TakeRpcs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].payload.size(), 2u + 4 + 4 + 4 + 1 + 144);
    EXPECT_EQ(bubble(kId, std::string(145, 'b')), 0);
    EXPECT_EQ(bubble(kId, std::string(300, 'b')), 0);
    EXPECT_EQ(bubble(kId, ""), 1);
    EXPECT_EQ(TakeRpcs().at(0).payload.back(), 0);  // an empty text: length 0
    game_->GetPlayerPool()->GetAt(kId)->SetState(PLAYER_STATE_SPECTATING);
    EXPECT_EQ(bubble(kId, "hi"), 0);
    EXPECT_EQ(bubble(0, "hi"), 0);  // no state yet
    EXPECT_TRUE(TakeRpcs().empty());
}

TEST_F(WorldNatives, ActorsAreCreatedUpToTheFullPoolAndAnimationsNeedTheirNames) {
    ScriptMemory& m = script.mem;
    const cell custom = script
                            .Call("CreateActor", {20001, FloatToCell(1.0f), FloatToCell(2.0f),
                                                  FloatToCell(3.0f), FloatToCell(9.0f)})
                            .value;
    ASSERT_EQ(custom, 4);
    const Actor* actor = game_->GetActorPool()->GetAt(4);
    EXPECT_EQ(actor->GetModel(), 0);  // an unknown custom skin
    EXPECT_EQ(actor->GetCustomModel(), 0);
    EXPECT_EQ(actor->GetHealth(), 100.0f);
    EXPECT_TRUE(actor->IsInvulnerable());
    EXPECT_EQ(game_->GetActorPool()->GetVirtualWorld(4), 0);

    const cell lib = m.Str("PED"), empty = m.Str(""), longName = m.Str(std::string(200, 'n'));
    const auto apply = [&](cell library, cell name) {
        return script.Call("ApplyActorAnimation", {kId, library, name, FloatToCell(4.0f), 0, 0, 0, 1, 0})
            .value;
    };
    EXPECT_EQ(apply(empty, lib), 0);
    EXPECT_EQ(apply(lib, empty), 0);
    EXPECT_EQ(apply(lib, -4), 0);  // a bad address reads as nothing
    EXPECT_TRUE(TakeRpcs().empty());
    EXPECT_EQ(apply(lib, longName), 1);
    const ActorAnimation& kept = game_->GetActorPool()->GetAt(kId)->GetKeptAnimation();  // frozen: kept
    EXPECT_EQ(std::string(kept.name.data()), std::string(64, 'n'));
    EXPECT_EQ(TakeRpcs().size(), 1u);

    // A reference outside the script writes nothing.
    const cell x = m.Value(11);
    EXPECT_EQ(script.Call("GetActorPos", {kId, x, -8, x}).value, 0);
    EXPECT_EQ(m.Read(x, 1)[0], 11);

    for (int created = 5; created < kMaxActors; ++created)
        ASSERT_EQ(script.Call("CreateActor", {1, 0, 0, 0, 0}).value, created);
    EXPECT_EQ(script.Call("CreateActor", {1, 0, 0, 0, 0}).value, 0xFFFF);
}

TEST_F(WorldNatives, PickupIdsAreWholeCellsAndTheFullPoolAnswersByNative) {
    const std::vector<cell> at = {1239, 2, FloatToCell(1.0f), FloatToCell(2.0f), FloatToCell(3.0f), -1};
    EXPECT_EQ(script.Call("CreatePickup", at).value, 4);
    EXPECT_EQ(game_->GetPickupPool()->GetVirtualWorld(4), kEveryWorld);
    EXPECT_EQ(script.Call("AddStaticPickup", at).value, 1);  // took id 5
    for (cell bad : {cell(65536 + 3), cell(-1), cell(4096), cell(7)})
        EXPECT_EQ(script.Call("DestroyPickup", {bad}).value, 0) << bad;
    EXPECT_EQ(script.Call("DestroyPickup", {3}).value, 1);
    EXPECT_EQ(script.Call("DestroyPickup", {3}).value, 0);
    EXPECT_TRUE(TakeRpcs().empty());  // nobody had it

    while (game_->GetPickupPool()->Create(1, 1, {}, 0) != kNoPickup) {}
    EXPECT_EQ(script.Call("CreatePickup", at).value, -1);
    EXPECT_EQ(script.Call("AddStaticPickup", at).value, 0);
}

TEST_F(WorldNatives, BetweenGamemodesThereAreNoPools) {
    ScriptMemory& m = script.mem;
    game_->EndGameMode();
    const std::vector<cell> pickup = {1239, 2, 0, 0, 0, 0};
    EXPECT_EQ(script.Call("CreatePickup", pickup).value, 0);
    EXPECT_EQ(script.Call("AddStaticPickup", pickup).value, 0);
    EXPECT_EQ(script.Call("DestroyPickup", {0}).value, 0);
    EXPECT_EQ(script.Call("CreateActor", {1, 0, 0, 0, 0}).value, 0xFFFF);
    EXPECT_EQ(script.Call("GetActorVirtualWorld", {0}).value, 0);
    EXPECT_EQ(script.Call("Create3DTextLabel", {m.Str("x"), 0, 0, 0, 0, 0, 0, 0}).value, 0xFFFF);
    EXPECT_EQ(script.Call("Delete3DTextLabel", {0}).value, 0);
}

}  // namespace
}  // namespace velt::scripttest
