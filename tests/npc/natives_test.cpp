// The bot's natives over a running bot game: the table, the count checks, the degree functions,
// questions about other players, and the playback natives' edge cases.

#include <cmath>
#include <cstring>
#include <string>

#include "NetGameFixture.h"
#include "npc/NpcNatives.h"

namespace velt {
namespace {

class NpcNativesTest : public test::NetGameFixture {
protected:
    void SetUp() override {
        NetGameFixture::SetUp();
        ASSERT_TRUE(Start());
        EnterAndSpawn();
        vm = game->Mode().Instance();
        ASSERT_NE(vm, nullptr);
    }
    cell Call(const char* name, std::vector<cell> args) {
        for (const VmNativeEntry* e = NpcNatives(); e->name[0] != '\0'; ++e) {
            if (std::strcmp(e->name, name) != 0) continue;
            args.insert(args.begin(), cell(4 * args.size()));
            return e->func(vm, args.data());
        }
        ADD_FAILURE() << "no native " << name;
        return 0;
    }
    cell Cells(size_t n) {
        cell addr = 0;
        cell* host = nullptr;
        EXPECT_EQ(vm_Allot(vm, int(n), &addr, &host), VM_ERR_NONE);
        for (size_t i = 0; i < n; ++i) host[i] = 0x5A5A5A5A;
        return addr;
    }
    cell At(cell addr, int i = 0) {
        cell* host = nullptr;
        EXPECT_EQ(vm_GetAddr(vm, addr + i * 4, &host), VM_ERR_NONE);
        return host != nullptr ? *host : 0;
    }
    static cell F(float f) { return FloatToCell(f); }
    VmInstance* vm = nullptr;
};

TEST_F(NpcNativesTest, TableHoldsAllThirtyFour) {
    int n = 0;
    for (const VmNativeEntry* e = NpcNatives(); e->name[0] != '\0'; ++e) ++n;
    EXPECT_EQ(n, 34);
}

TEST_F(NpcNativesTest, DegreesAndCountChecks) {
    EXPECT_FLOAT_EQ(CellToFloat(Call("atan2", {F(1.0f), F(0.0f)})), 90.0f);
    EXPECT_TRUE(std::isnan(CellToFloat(Call("asin", {F(2.0f)}))));
    EXPECT_FLOAT_EQ(CellToFloat(Call("acos", {F(0.0f)})), 90.0f);
    EXPECT_FLOAT_EQ(CellToFloat(Call("atan", {F(1.0f)})), 45.0f);
    EXPECT_EQ(Call("asin", {F(0.5f), F(0.5f)}), 0);
    EXPECT_EQ(Call("GetTickCount", {1}), 0);
    EXPECT_EQ(uint32_t(Call("GetTickCount", {})), test::FakeNow());
    const cell name = Cells(8);
    EXPECT_EQ(Call("SetTimer", {name, 100}), 0);
}

TEST_F(NpcNativesTest, OtherPlayersAndTheBotItself) {
    AddPlayer(5, "Walker", true);
    EXPECT_EQ(Call("IsPlayerConnected", {5}), 1);
    EXPECT_EQ(Call("IsPlayerConnected", {6}), 0);
    EXPECT_EQ(Call("IsPlayerStreamedIn", {5}), 1);
    const cell name = Cells(4);
    EXPECT_EQ(Call("GetPlayerName", {5, name, 4}), 3);
    EXPECT_EQ(At(name, 0), 'W');
    EXPECT_EQ(At(name, 3), 0);
    EXPECT_EQ(Call("GetPlayerName", {1000, name, 4}), 0);
    // Without a sync record: no position, nothing written.
    const cell xyz = Cells(3);
    EXPECT_EQ(Call("GetPlayerPos", {5, xyz, xyz + 4, xyz + 8}), 0);
    EXPECT_EQ(At(xyz), 0x5A5A5A5A);
    EXPECT_EQ(Call("GetPlayerState", {6}), 0);

    EXPECT_EQ(Call("SetMyPos", {F(1.0f), F(2.0f), F(3.0f)}), 1);
    EXPECT_EQ(Call("GetMyPos", {xyz, xyz + 4, xyz + 8}), 1);
    EXPECT_EQ(CellToFloat(At(xyz, 2)), 3.0f);
    const cell d = Cells(1);
    EXPECT_EQ(Call("GetDistanceFromMeToPoint", {F(1.0f), F(2.0f), F(13.0f), d}), 1);
    EXPECT_FLOAT_EQ(CellToFloat(At(d)), 10.0f);
    EXPECT_EQ(Call("SetMyFacingAngle", {F(90.0f)}), 1);
    EXPECT_EQ(Call("GetMyFacingAngle", {d}), 1);
    EXPECT_NEAR(CellToFloat(At(d)), 90.0f, 1e-3f);
}

TEST_F(NpcNativesTest, PlaybackNativesLeaveNothingRunningWithoutARecording) {
    const cell name = Cells(8);
    EXPECT_EQ(Call("StartRecordingPlayback", {3, name}), 1);
    EXPECT_FALSE(game->Playback().IsRunning());
    EXPECT_EQ(Call("ResumeRecordingPlayback", {}), 1);
    EXPECT_EQ(Call("PauseRecordingPlayback", {}), 1);
    EXPECT_EQ(Call("StopRecordingPlayback", {}), 1);
    EXPECT_FALSE(game->Playback().IsRunning());
    EXPECT_TRUE(exits.Seen().empty());
}

}  // namespace
}  // namespace velt
