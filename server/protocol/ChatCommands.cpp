#include "server/protocol/ChatCommands.h"

#include <cstring>

#include "net/BitStream.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/RpcCall.h"
#include "server/shared/StringUtil.h"

namespace velt {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

}  // namespace

void RpcChatText(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    BitStream bs;
    if (server == nullptr || !OpenRpcPayload(params, bs)) return;
    uint8_t length = 0;
    if (!bs.Read(length) || length > kMaxChatLength) return;
    char text[kMaxChatLength + 1] = {};
    if (!bs.ReadBytes(text, length)) return;
    const uint16_t id = RpcConnectedSender(params, true);
    if (id == kNoPlayer) return;

    // Only the colour embeds go; the scripts see every other character the player typed.
    StripColourEmbeds(text, sizeof text);
    PlayerPool* pool = server->GetPlayerPool();
    if (server->Settings().chatLogging != 0) LogPrintf("[chat] [%s]: %s", pool->GetName(id), text);

    Player* player = pool->GetAt(id);
    if (player == nullptr) return;
    // A filterscript's 0 keeps the line back. The gamemode host relays the line itself when its
    // script lets it through; without a loaded gamemode the server relays it.
    const CallbackOutcome said = RaiseCallback(
        *server, {.stop = CallbackStop::AtZero, .initial = 1, .loadedGameModeOnly = true},
        [&] { return StillConnected(*server, id); }, [&](auto& side) { return side.OnPlayerText(id, text); });
    if (said.secondSkipped) return;
    if (!said.gameModeRan) player->BroadcastChat(text, uint8_t(std::strlen(text)));
}

void RpcCommandText(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return;
    const uint16_t id = RpcConnectedSender(params, true);
    BitStream bs;
    if (id == kNoPlayer || !OpenRpcPayload(params, bs)) return;
    uint32_t length = 0;
    if (!bs.Read(length) || length < kMinCommandLength || length > kMaxCommandLength) return;
    char text[kMaxCommandLength + 1] = {};
    if (!bs.ReadBytes(text, int32_t(length))) return;
    StripColourEmbeds(text, sizeof text);
    // "/" alone, or a command that was nothing but colour embeds, names nothing.
    if (std::strlen(text) <= 1) return;

    // The first script that handles the command ends its walk; one the gamemode leaves unhandled
    // is answered.
    const CallbackOutcome command = RaiseCallback(
        *server, {.stop = CallbackStop::AtNonZero, .loadedGameModeOnly = true},
        [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerCommandText(id, text); });
    if (command.gameModeRan && command.result == 0 && StillConnected(*server, id))
        server->SendClientMessage(id, kWhite, "SERVER: Unknown command.");
}

void RpcDialogResponse(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    BitStream bs;
    if (!OpenRpcPayload(params, bs)) {
        LogPrintf("Warning: PlayerDialogResponse crash exploit from PlayerId: %u",
                  unsigned(RpcSenderId(params)));
        return;
    }
    const uint16_t id = RpcConnectedSender(params, true);
    if (id == kNoPlayer) return;
    uint16_t dialog = 0;
    uint8_t response = 0;
    uint16_t listItem = 0;
    uint8_t length = 0;
    if (!bs.Read(dialog) || !bs.Read(response) || !bs.Read(listItem) || !bs.Read(length)) return;
    // Room for the longest text a client may send, zero-filled so it always ends.
    char text[256] = {};
    // A length out of range leaves the answer without text; the rest of it still counts.
    if (length >= 1 && length <= kMaxDialogTextLength && !bs.ReadBytes(text, length)) return;

    Player* player = server->GetPlayerPool()->GetAt(id);
    if (player == nullptr || player->GetDialogId() != dialog) return;
    RaiseCallback(
        *server, {}, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnDialogResponse(id, dialog, response, listItem, text); });
}

}  // namespace velt
