#include "server/protocol/ChatCommands.h"

#include <cstring>

#include "net/BitStream.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/RpcCall.h"
#include "server/shared/StringUtil.h"

namespace velt {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

// Still there after a script ran? A callback may kick the player it was called for.
bool StillConnected(GameServer& server, uint16_t id) {
    PlayerPool* pool = server.GetPlayerPool();
    return pool != nullptr && pool->IsConnected(id);
}

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
    int32_t allowed = 1;
    if (FilterScripts* fs = server->GetFilterScripts()) allowed = fs->OnPlayerText(id, text);
    if (allowed == 0 || !StillConnected(*server, id)) return;
    if (GameMode* gm = LoadedGameMode(*server)) {
        // The gamemode host relays the line itself when its script lets it through.
        gm->OnPlayerText(id, text);
    } else {
        player->BroadcastChat(text, uint8_t(std::strlen(text)));
    }
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

    int32_t handled = 0;
    if (FilterScripts* fs = server->GetFilterScripts()) handled = fs->OnPlayerCommandText(id, text);
    if (handled != 0 || !StillConnected(*server, id)) return;
    GameMode* gm = LoadedGameMode(*server);
    if (gm == nullptr) return;
    if (gm->OnPlayerCommandText(id, text) == 0 && StillConnected(*server, id))
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
    if (FilterScripts* fs = server->GetFilterScripts())
        fs->OnDialogResponse(id, dialog, response, listItem, text);
    if (!StillConnected(*server, id)) return;
    if (GameMode* gm = server->GetGameMode()) gm->OnDialogResponse(id, dialog, response, listItem, text);
}

}  // namespace velt
