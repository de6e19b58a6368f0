#pragma once

// The text draws every player can be shown, ids 0 to 2047. The pool remembers to whom each one is
// shown, so that hides and text changes reach exactly those players; a changed look reaches a
// client only with the next show.

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <string_view>

#include "server/world/TextDrawAttributes.h"
#include "server/world/WorldPlayerIds.h"

namespace velt {

class GameServer;

inline constexpr uint16_t kMaxTextDraws = 2048;
inline constexpr uint16_t kNoTextDraw = 0xFFFF;

class TextDrawPool {
public:
    explicit TextDrawPool(GameServer& server);
    ~TextDrawPool();
    TextDrawPool(const TextDrawPool&) = delete;
    TextDrawPool& operator=(const TextDrawPool&) = delete;

    // The lowest free id with the default look at (x, y); kNoTextDraw when every id is taken or
    // memory runs out.
    uint16_t Create(float x, float y, std::string_view text);
    bool Exists(uint16_t id) const { return id < kMaxTextDraws && draws_[id] != nullptr; }
    // Hidden from everyone it is shown to, then freed.
    void Destroy(uint16_t id);

    // Ids that name no text draw are ignored by these four and by SetString.
    void ShowForPlayer(uint16_t player, uint16_t id);
    // Sent to every connected player, and marked shown for every player id: a player who joins
    // later under one of them still hears of later text changes and hides.
    void ShowForAll(uint16_t id);
    // Sends the hide only to a player the text draw is shown to.
    void HideForPlayer(uint16_t player, uint16_t id);
    void HideForAll(uint16_t id);
    // Stores the text (cut to kMaxTextDrawText) and sends it to the players it is shown to.
    void SetString(uint16_t id, std::string_view text);

    // The record the natives style; null for an id that names no text draw.
    TextDrawAttributes* Attributes(uint16_t id) { return Exists(id) ? &draws_[id]->attributes : nullptr; }
    const TextDraw* Get(uint16_t id) const { return Exists(id) ? draws_[id].get() : nullptr; }
    bool IsShownFor(uint16_t id, uint16_t player) const {
        return Exists(id) && player < kWorldPlayerIds && shown_[id][player];
    }

private:
    GameServer& server_;
    std::array<std::unique_ptr<TextDraw>, kMaxTextDraws> draws_;
    std::array<std::bitset<kWorldPlayerIds>, kMaxTextDraws> shown_;
};

}  // namespace velt
