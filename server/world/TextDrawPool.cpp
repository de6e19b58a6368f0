#include "server/world/TextDrawPool.h"

#include <new>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"

namespace velt {

static_assert(kWorldPlayerIds == kMaxPlayers);

TextDrawPool::TextDrawPool(GameServer& server) : server_(server) {}

TextDrawPool::~TextDrawPool() = default;

uint16_t TextDrawPool::Create(float x, float y, std::string_view text) {
    for (uint16_t id = 0; id < kMaxTextDraws; ++id) {
        if (draws_[id] != nullptr) continue;
        std::unique_ptr<TextDraw> draw(new (std::nothrow) TextDraw);
        if (draw == nullptr) return kNoTextDraw;
        draw->attributes.x = x;
        draw->attributes.y = y;
        draw->SetText(text);
        shown_[id].reset();
        draws_[id] = std::move(draw);
        return id;
    }
    return kNoTextDraw;
}

void TextDrawPool::Destroy(uint16_t id) {
    if (!Exists(id)) return;
    HideForAll(id);
    draws_[id].reset();
}

void TextDrawPool::ShowForPlayer(uint16_t player, uint16_t id) {
    if (!Exists(id) || player >= kWorldPlayerIds) return;
    BitStream bs;
    WriteTextDrawShow(bs, id, *draws_[id]);
    server_.SendRpcToPlayer(RPC_TextDrawShow, &bs, player, RpcChannel::World);
    shown_[id].set(player);
}

void TextDrawPool::ShowForAll(uint16_t id) {
    if (!Exists(id)) return;
    BitStream bs;
    WriteTextDrawShow(bs, id, *draws_[id]);
    server_.SendRpcToAll(RPC_TextDrawShow, &bs, kNoPlayer, RpcChannel::World);
    shown_[id].set();
}

void TextDrawPool::HideForPlayer(uint16_t player, uint16_t id) {
    if (!Exists(id) || player >= kWorldPlayerIds) return;
    if (shown_[id][player]) {
        BitStream bs;
        WriteTextDrawHide(bs, id);
        server_.SendRpcToPlayer(RPC_TextDrawHide, &bs, player, RpcChannel::World);
    }
    shown_[id].reset(player);
}

void TextDrawPool::HideForAll(uint16_t id) {
    if (!Exists(id)) return;
    BitStream bs;
    WriteTextDrawHide(bs, id);
    for (uint16_t player = 0; player < kWorldPlayerIds; ++player) {
        if (!shown_[id][player]) continue;
        server_.SendRpcToPlayer(RPC_TextDrawHide, &bs, player, RpcChannel::World);
        shown_[id].reset(player);
    }
}

void TextDrawPool::SetString(uint16_t id, std::string_view text) {
    if (!Exists(id)) return;
    draws_[id]->SetText(text);
    if (shown_[id].none()) return;
    BitStream bs;
    WriteTextDrawString(bs, id, draws_[id]->text);
    for (uint16_t player = 0; player < kWorldPlayerIds; ++player) {
        if (shown_[id][player])
            server_.SendRpcToPlayer(RPC_TextDrawStringSet, &bs, player, RpcChannel::World);
    }
}

}  // namespace velt
