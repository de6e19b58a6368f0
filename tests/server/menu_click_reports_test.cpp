// A player's menu choices and text draw clicks: what reaches which script, in which order, and
// what is dropped (reports from connections that never joined, short payloads, clicks during an
// intermission).

#include <string>
#include <vector>

#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

Payload U8Payload(uint8_t v) {
    BitStream bs;
    bs.Write(v);
    return PayloadOf(bs);
}
Payload U16Payload(uint16_t v) {
    BitStream bs;
    bs.Write(v);
    return PayloadOf(bs);
}

class MenuClickTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
        const std::map<std::string, int32_t> publics = {{"OnPlayerSelectedMenuRow", 1},
                                                        {"OnPlayerExitedMenu", 1},
                                                        {"OnPlayerClickTextDraw", 0},
                                                        {"OnPlayerClickPlayerTextDraw", 0}};
        scripts_.filterScriptPublics["fs"] = publics;
        scripts_.gameModePublics = publics;
        StartProtocol();
        Join(2, "Ann");
        fake()->AddSlot(5, FakeNetServer::AddressOf(5));  // connected to the transport, never joined
        scripts_.Clear();
    }
};

TEST_F(MenuClickTest, MenuReportsReachTheGamemodeThenTheFilterscriptsFromJoinedPlayersOnly) {
    CallRpc(RPC_MenuRowSelect, 2, U8Payload(7));
    CallEmptyRpc(RPC_MenuExit, 2);
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"gm:OnPlayerSelectedMenuRow(2,7)", "fs:OnPlayerSelectedMenuRow(2,7)",
                                        "gm:OnPlayerExitedMenu(2)", "fs:OnPlayerExitedMenu(2)"}));
    scripts_.Clear();

    CallRpc(RPC_MenuRowSelect, 5, U8Payload(1));
    CallEmptyRpc(RPC_MenuExit, 5);
    CallRpcFrom(RPC_MenuRowSelect, PlayerID{0x0A000001, 1}, U8Payload(1));  // no slot at all
    CallEmptyRpc(RPC_MenuRowSelect, 2);                                     // no row
    CallRpc(RPC_MenuRowSelect, 2, Payload{{0x80}, 7});                      // a row cut short
    EXPECT_EQ(Calls(), (std::vector<std::string>{}));

    // Both scripts always hear of it, unless the gamemode made the player leave.
    scripts_.gameModePublics["OnPlayerExitedMenu"] = 0;
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.side == ScriptSide::GameMode) pool()->Disconnect(2, 0);
    };
    CallEmptyRpc(RPC_MenuExit, 2);
    EXPECT_EQ(CallsNamed("OnPlayerExitedMenu"), (std::vector<std::string>{"gm:OnPlayerExitedMenu(2)"}));
}

TEST_F(MenuClickTest, ClicksMapPlayerTextDrawIdsAndDefaultToCancelled) {
    const struct {
        Payload payload;
        std::string call;
    } cases[] = {
        {U16Payload(0), "OnPlayerClickTextDraw(2,0)"},
        {U16Payload(2047), "OnPlayerClickTextDraw(2,2047)"},
        {U16Payload(2048), "OnPlayerClickPlayerTextDraw(2,0)"},
        {U16Payload(2050), "OnPlayerClickPlayerTextDraw(2,2)"},
        {U16Payload(2303), "OnPlayerClickPlayerTextDraw(2,255)"},
        {U16Payload(2304), "OnPlayerClickTextDraw(2,2304)"},
        {U16Payload(0xFFFF), "OnPlayerClickTextDraw(2,65535)"},
        {Payload{}, "OnPlayerClickTextDraw(2,65535)"},
        {U8Payload(0x08), "OnPlayerClickTextDraw(2,65535)"},
    };
    for (const auto& c : cases) {
        scripts_.Clear();
        CallRpc(RPC_TextDrawSelect, 2, c.payload);
        EXPECT_EQ(Calls(), (std::vector<std::string>{"fs:" + c.call, "gm:" + c.call})) << c.call;
    }
}

TEST_F(MenuClickTest, AFilterscriptThatHandlesAClickKeepsItFromTheGamemode) {
    scripts_.filterScriptPublics["fs"]["OnPlayerClickPlayerTextDraw"] = 1;
    CallRpc(RPC_TextDrawSelect, 2, U16Payload(2049));
    CallRpc(RPC_TextDrawSelect, 2, U16Payload(3));
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"fs:OnPlayerClickPlayerTextDraw(2,1)",
                                        "fs:OnPlayerClickTextDraw(2,3)", "gm:OnPlayerClickTextDraw(2,3)"}));
}

TEST_F(MenuClickTest, ClicksFromConnectionsThatNeverJoinedOrDuringAnIntermissionAreDropped) {
    CallRpc(RPC_TextDrawSelect, 5, U16Payload(1));
    game_->EndGameMode();
    scripts_.Clear();
    CallRpc(RPC_TextDrawSelect, 2, U16Payload(1));
    EXPECT_EQ(Calls(), (std::vector<std::string>{}));
}

}  // namespace
}  // namespace velt::test
