#include "server/protocol/MenuTextDrawReports.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/RaiseCallback.h"
#include "server/protocol/RpcCall.h"
#include "server/world/PlayerTextDrawPool.h"

namespace velt {

namespace {

constexpr uint16_t kNoTextDrawClicked = 0xFFFF;

// The gamemode hears of a menu first; the filterscripts always do too.
constexpr CallbackRule kMenuRule{.gameModeFirst = true};
// A filterscript that handles the click keeps it from the gamemode.
constexpr CallbackRule kClickRule{.stop = CallbackStop::AtNonZero};

}  // namespace

// A connection that never joined holds a slot but is no player: its menu reports would reach the
// scripts under an id that names nobody (or someone who joins there later).
void RpcMenuRowSelect(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    BitStream bs;
    if (server == nullptr || !OpenRpcPayload(params, bs)) return;
    const uint16_t id = RpcConnectedSender(params, false);
    uint8_t row = 0;
    if (id == kNoPlayer || !bs.Read(row)) return;
    RaiseCallback(
        *server, kMenuRule, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerSelectedMenuRow(id, row); });
}

void RpcMenuExit(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, false);
    if (id == kNoPlayer) return;
    RaiseCallback(
        *server, kMenuRule, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerExitedMenu(id); });
}

void RpcTextDrawSelect(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return;
    const uint16_t id = RpcConnectedSender(params, false);
    if (id == kNoPlayer) return;
    uint16_t clicked = kNoTextDrawClicked;
    BitStream bs;
    if (OpenRpcPayload(params, bs) && !bs.Read(clicked)) clicked = kNoTextDrawClicked;

    const auto stillThere = [&] { return StillConnected(*server, id); };
    if (clicked >= kPlayerTextDrawWireBase && clicked < kPlayerTextDrawWireBase + kMaxPlayerTextDraws) {
        const int32_t index = clicked - kPlayerTextDrawWireBase;
        RaiseCallback(*server, kClickRule, stillThere,
                      [&](auto& side) { return side.OnPlayerClickPlayerTextDraw(id, index); });
    } else {
        RaiseCallback(*server, kClickRule, stillThere,
                      [&](auto& side) { return side.OnPlayerClickTextDraw(id, clicked); });
    }
}

}  // namespace velt
