#pragma once

// One player's own text draws, indexes 0 to 255, seen by that player alone. Clients know them by
// index + 2048, above the global ids. They share the global text draws' record and messages; a
// changed look reaches the client only with the next show.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "server/world/OwnerSend.h"
#include "server/world/TextDrawAttributes.h"

namespace velt {

inline constexpr uint16_t kMaxPlayerTextDraws = 256;
inline constexpr uint16_t kPlayerTextDrawWireBase = 2048;

class PlayerTextDrawPool {
public:
    PlayerTextDrawPool(uint16_t owner, OwnerSend send) : owner_(owner), send_(std::move(send)) {}
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

    // The lowest free index, not yet shown, with the default look at (x, y); 0xFFFF when every
    // index is taken or memory runs out.
    uint16_t Create(float x, float y, std::string_view text);
    bool Exists(uint16_t index) const { return index < kMaxPlayerTextDraws && entries_[index] != nullptr; }
    // Hidden first, then freed.
    void Destroy(uint16_t index);
    // Indexes that name no text draw are ignored by these and by SetString.
    void Show(uint16_t index);
    // Sends the hide only when the text draw is shown.
    void Hide(uint16_t index);
    // Stored (cut to kMaxTextDrawText); sent at once only while shown, else with the next show.
    void SetString(uint16_t index, std::string_view text);

    TextDrawAttributes* Attributes(uint16_t index) {
        return Exists(index) ? &entries_[index]->draw.attributes : nullptr;
    }
    const TextDraw* Get(uint16_t index) const { return Exists(index) ? &entries_[index]->draw : nullptr; }
    bool IsShown(uint16_t index) const { return Exists(index) && entries_[index]->shown; }

private:
    struct Entry {
        TextDraw draw;
        bool shown = false;
    };

    static uint16_t WireId(uint16_t index) { return uint16_t(index + kPlayerTextDrawWireBase); }

    uint16_t owner_;
    OwnerSend send_;
    std::array<std::unique_ptr<Entry>, kMaxPlayerTextDraws> entries_;
};

}  // namespace velt
