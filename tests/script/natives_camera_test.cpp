// Camera natives, called from a real script on a game server whose fake transport records every
// RPC: one table row per native with its main path and its RPC bytes, run over good ids (n,
// 65536 + n, 0xFFFF0000 + n) and the bad-id sweep; then the cut styles, the zoom and aspect
// scales, the objects the camera may be fixed to, and the camera targets.

#include "server/natives/CameraNatives.h"

#include <vector>

#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecords.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; 0 and 7 are also connected

cell F(float f) { return FloatToCell(f); }
std::vector<cell> Id(cell id) { return {id}; }

// A payload that starts with one bit: the bit, then the bytes shifted after it, as the stream
// packs them (most significant bit first, the last byte padded with zeros).
Bytes BitThen(bool bit, const Bytes& rest) {
    Bytes out(rest.size() + 1, 0);
    out[0] = bit ? 0x80 : 0x00;
    for (size_t i = 0; i < rest.size(); ++i) {
        out[i] |= uint8_t(rest[i] >> 1);
        out[i + 1] = uint8_t(rest[i] << 7);
    }
    return out;
}

class CameraNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer);
        alice = game_->GetPlayerPool()->GetAt(kPlayer);
        net_->sent.clear();
    }

    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }

    NativeScript script{"natives_camera", ScriptKind::GameMode, -1, nullptr};
    Player* alice = nullptr;
};

TEST_F(CameraNatives, EveryNativeOnGoodAndBadIds) {
    ScriptMemory& m = script.mem;
    const cell out = m.Alloc({-7, -7, -7});
    const auto expectOut = [&](std::vector<cell> want) {
        return [&, want] { EXPECT_EQ(m.Read(out, want.size()), want); };
    };
    const auto refs3 = [&](cell id) { return std::vector<cell>{id, out, out + 4, out + 8}; };
    AimSyncRecord aim;
    aim.cameraMode = 53;
    aim.cameraFront = {0.0f, 1.0f, -0.5f};
    aim.cameraPosition = {10.0f, -20.0f, 30.5f};
    aim.cameraZoom = 63;
    aim.weaponState = 3;  // shares the zoom byte, and must not count in the zoom
    aim.aspectRatio = 255;
    alice->StoreAimSync(aim);
    // Global object 1 and Alice's own object 2 (a player object never takes a global id).
    ObjectPool* objects = game_->GetObjectPool();
    ASSERT_EQ(objects->Create(1337, {}, {}, 100.0f), 1);
    ASSERT_EQ(objects->CreatePlayerObject(kPlayer, 1337, {}, {}, 100.0f), 2);
    const Bytes fromTo =
        Cat({F32(1.0f), F32(2.0f), F32(3.0f), F32(4.0f), F32(5.0f), F32(6.0f), U32(2500), U8(1)});
    const auto interpolate = [](cell id) {
        return std::vector<cell>{id, F(1.0f), F(2.0f), F(3.0f), F(4.0f), F(5.0f), F(6.0f), 2500, 0x101};
    };

    const std::vector<NativeRow> rows = {
        {"SetPlayerCameraPos",
         [](cell id) {
             return std::vector<cell>{id, F(1.5f), F(-2.0f), F(100.0f)};
         },
         1,
         0,
         {{RPC_CameraPosSet, kPlayer, Cat({F32(1.5f), F32(-2.0f), F32(100.0f)})}}},
        {"SetPlayerCameraLookAt",
         [](cell id) {
             return std::vector<cell>{id, F(7.0f), F(8.0f), F(9.0f), 1};
         },
         1,
         0,
         {{RPC_CameraLookAtSet, kPlayer, Cat({F32(7.0f), F32(8.0f), F32(9.0f), U8(1)})}}},
        {"SetCameraBehindPlayer", Id, 1, 0, {{RPC_CameraBehindSet, kPlayer, {}}}},
        {"AttachCameraToObject",
         [](cell id) {
             return std::vector<cell>{id, 65536 + 1};
         },
         1,
         0,
         {{RPC_CameraAttachToObject, kPlayer, U16(1)}}},
        {"AttachCameraToPlayerObject",
         [](cell id) {
             return std::vector<cell>{id, 2};
         },
         1,
         0,
         {{RPC_CameraAttachToObject, kPlayer, U16(2)}}},
        {"InterpolateCameraPos",
         interpolate,
         1,
         0,
         {{RPC_CameraInterpolate, kPlayer, BitThen(true, fromTo)}}},
        {"InterpolateCameraLookAt",
         interpolate,
         1,
         0,
         {{RPC_CameraInterpolate, kPlayer, BitThen(false, fromTo)}}},
        {"GetPlayerCameraPos", refs3, 1, 0, {}, {}, expectOut({F(10.0f), F(-20.0f), F(30.5f)})},
        {"GetPlayerCameraFrontVector", refs3, 1, 0, {}, {}, expectOut({F(0.0f), F(1.0f), F(-0.5f)})},
        {"GetPlayerCameraMode", Id, 53, -1, {}},
        {"GetPlayerCameraAspectRatio", Id, F(2.0f), 0, {}},
        {"GetPlayerCameraZoom", Id, F(70.0f), 0, {}},
        // Targeting is off: nothing to point at.
        {"GetPlayerCameraTargetObject", Id, 0xFFFF, 0xFFFF, {}},
        {"GetPlayerCameraTargetVehicle", Id, 0xFFFF, 0xFFFF, {}},
        {"GetPlayerCameraTargetPlayer", Id, 0xFFFF, 0xFFFF, {}},
        {"GetPlayerCameraTargetActor", Id, 0xFFFF, 0xFFFF, {}},
        {"EnablePlayerCameraTarget",
         [](cell id) {
             return std::vector<cell>{id, 2};
         },
         1,
         0,
         {{RPC_CameraTargetEnable, kPlayer, U8(0x80)}},
         [&] {
             alice->EnableCameraTarget(false);
             net_->sent.clear();
         }},
        {"EnablePlayerCameraTarget",
         [](cell id) {
             return std::vector<cell>{id, 0};
         },
         1,
         0,
         {{RPC_CameraTargetEnable, kPlayer, U8(0x00)}},
         [&] {
             alice->EnableCameraTarget(true);
             alice->StoreCameraTarget(1, 2, 7, 4);
             net_->sent.clear();
         },
         [&] { EXPECT_EQ(alice->GetCameraTargetPlayer(), kNoPlayer); }},
    };
    const size_t logged = LogLines().size();
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    EXPECT_EQ(LogLines().size(), logged);  // nothing logged, good ids or bad
}

// Only 1 (a smooth move) and 2 (a cut) mean anything: every other low byte becomes a cut.
TEST_F(CameraNatives, CutStyleIsOneOrTwo) {
    const std::pair<cell, uint8_t> cases[] = {{1, 1},  {2, 2},   {0, 2},   {3, 2},
                                              {-1, 2}, {257, 1}, {258, 2}, {0x181, 2}};
    for (const auto& [cut, sent] : cases) {
        EXPECT_EQ(script.Call("SetPlayerCameraLookAt", {kPlayer, F(0.0f), F(0.0f), F(0.0f), cut}).value, 1);
        const std::vector<Rpc> rpcs = TakeRpcs();
        ASSERT_EQ(rpcs.size(), 1u);
        EXPECT_EQ(rpcs[0].payload.back(), sent) << cut;
        EXPECT_EQ(script.Call("InterpolateCameraPos", {kPlayer, 0, 0, 0, 0, 0, 0, 100, cut}).value, 1);
        const Bytes zeros(4 * 6, 0);
        EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_CameraInterpolate, kPlayer,
                                                 BitThen(true, Cat({zeros, U32(100), U8(sent)}))}}))
            << cut;
    }
}

TEST_F(CameraNatives, ZoomAndAspectScales) {
    struct Case {
        uint8_t zoom, weaponState, aspect;
        float zoomOut, aspectOut;
    };
    const Case cases[] = {
        {0, 0, 0, 35.0f, 1.0f},
        {63, 0, 255, 70.0f, 2.0f},
        {0, 3, 0, 35.0f, 1.0f},  // the weapon-state bits are not zoom
        {9, 2, 51, 9.0f / 63.0f * 35.0f + 35.0f, 51.0f / 255.0f + 1.0f},
    };
    for (const Case& c : cases) {
        AimSyncRecord aim;
        aim.cameraZoom = c.zoom;
        aim.weaponState = c.weaponState;
        aim.aspectRatio = c.aspect;
        alice->StoreAimSync(aim);
        EXPECT_EQ(script.Call("GetPlayerCameraZoom", {kPlayer}).value, F(c.zoomOut)) << int(c.zoom);
        EXPECT_EQ(script.Call("GetPlayerCameraAspectRatio", {kPlayer}).value, F(c.aspectOut))
            << int(c.aspect);
    }
}

// The camera follows a global object or one of the player's own, never the other kind or another
// player's.
TEST_F(CameraNatives, CameraFollowsOnlyObjectsOfItsKind) {
    ObjectPool* objects = game_->GetObjectPool();
    ASSERT_EQ(objects->Create(1337, {}, {}, 100.0f), 1);
    ASSERT_EQ(objects->CreatePlayerObject(kPlayer, 1337, {}, {}, 100.0f), 2);
    ASSERT_EQ(objects->CreatePlayerObject(7, 1337, {}, {}, 100.0f), 2);
    ASSERT_EQ(objects->CreatePlayerObject(7, 1337, {}, {}, 100.0f), 3);
    struct Case {
        const char* native;
        cell object;
        cell result;
    };
    const Case cases[] = {
        {"AttachCameraToObject", 1, 1},          {"AttachCameraToObject", 2, 0},
        {"AttachCameraToObject", 0, 0},          {"AttachCameraToObject", 2000, 0},
        {"AttachCameraToObject", 65535, 0},      {"AttachCameraToObject", -1, 0},
        {"AttachCameraToPlayerObject", 2, 1},    {"AttachCameraToPlayerObject", 1, 0},
        {"AttachCameraToPlayerObject", 3, 0},  // player 7's
        {"AttachCameraToPlayerObject", 2000, 0}, {"AttachCameraToPlayerObject", -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(script.Call(c.native, {kPlayer, c.object}).value, c.result) << c.native << " " << c.object;
        EXPECT_EQ(TakeRpcs().size(), size_t(c.result)) << c.native << " " << c.object;
    }
}

// The client's reports count only while targeting is on; switching it off forgets them.
TEST_F(CameraNatives, CameraTargetsFollowTheReportsWhileEnabled) {
    const auto targets = [&] {
        std::vector<cell> out;
        for (const char* native : {"GetPlayerCameraTargetObject", "GetPlayerCameraTargetVehicle",
                                   "GetPlayerCameraTargetPlayer", "GetPlayerCameraTargetActor"})
            out.push_back(script.Call(native, {kPlayer}).value);
        return out;
    };
    const std::vector<cell> none(4, 0xFFFF);
    alice->StoreCameraTarget(1, 2, 7, 4);
    EXPECT_EQ(targets(), none);
    EXPECT_EQ(script.Call("EnablePlayerCameraTarget", {kPlayer, 1}).value, 1);
    alice->StoreCameraTarget(1, 2, 7, 4);
    EXPECT_EQ(targets(), (std::vector<cell>{1, 2, 7, 4}));
    // Enabling again changes nothing and tells the client nothing new.
    EXPECT_EQ(script.Call("EnablePlayerCameraTarget", {kPlayer, 1}).value, 1);
    EXPECT_EQ(TakeRpcs(), (std::vector<Rpc>{{RPC_CameraTargetEnable, kPlayer, U8(0x80)}}));
    EXPECT_EQ(script.Call("EnablePlayerCameraTarget", {kPlayer, 0}).value, 1);
    EXPECT_EQ(targets(), none);
    alice->StoreCameraTarget(1, 2, 7, 4);
    EXPECT_EQ(targets(), none);
}

}  // namespace
}  // namespace velt::scripttest
