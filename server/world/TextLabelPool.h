#pragma once

// The global 3D text labels of the world, ids 0 to 1023: coloured texts floating at a point, or
// following a player or a vehicle at an offset. The pool keeps the records and writes the two
// messages that put one label into one player's world and take it out again; which players see a
// label is decided by their streaming pass (Player::StreamInLabel / StreamOutLabel keep each
// player's flag), and by Create, Delete and Resend here.

#include <array>
#include <cstdint>
#include <string>

#include "server/shared/VectorMath.h"

namespace velt {

class BitStream;
class GameServer;

inline constexpr uint16_t kMaxLabels = 1024;
inline constexpr uint16_t kNoLabel = 0xFFFF;
// The attached player or vehicle of a label that follows none.
inline constexpr uint16_t kLabelNotAttached = 0xFFFF;

struct TextLabel {
    std::string text;  // any length: it travels compressed
    uint32_t colour = 0;
    Vector3 position;  // the offset from the player or vehicle once attached
    float drawDistance = 0.0f;
    uint8_t testLOS = 0;
    int32_t virtualWorld = 0;
    uint16_t attachedPlayer = kLabelNotAttached;
    uint16_t attachedVehicle = kLabelNotAttached;
};

// The create message of one label under the id the client is to know it by (per-player labels
// travel under ids of their own).
void WriteTextLabelCreate(BitStream& bs, uint16_t wireId, const TextLabel& label);

class TextLabelPool {
public:
    explicit TextLabelPool(GameServer& server) : server_(server) {}
    TextLabelPool(const TextLabelPool&) = delete;
    TextLabelPool& operator=(const TextLabelPool&) = delete;

    // The lowest free id, shown at once to the players in play within the draw distance (the
    // world is left to their next streaming pass); kNoLabel when all are in use.
    uint16_t Create(const char* text, uint32_t colour, const Vector3& position, float drawDistance,
                    int32_t virtualWorld, uint8_t testLOS);
    // Hidden from exactly the players who have it, then freed: 1; 0 for an id not in use.
    int Delete(uint16_t id);
    // New colour and text, sent again to the players who have the label.
    void UpdateText(uint16_t id, uint32_t colour, const char* text);
    // The offset becomes the position; sent again. 1, or 0 for a label not in use or a player
    // who is not connected (vehicle: that does not exist). Each attachment leaves the other as it
    // was; the player's decides visibility.
    int AttachToPlayer(uint16_t id, uint16_t player, const Vector3& offset);
    int AttachToVehicle(uint16_t id, uint16_t vehicle, const Vector3& offset);

    // The messages of one label to one player; nothing for a label not in use. Only the
    // player's own stream operations call these, so that his flag and count stay right.
    void ShowForPlayer(uint16_t id, uint16_t player);
    void HideForPlayer(uint16_t id, uint16_t player);

    bool IsUsed(uint16_t id) const { return id < kMaxLabels && used_[id]; }
    // Null for a label not in use.
    const TextLabel* Get(uint16_t id) const { return IsUsed(id) ? &labels_[id] : nullptr; }

private:
    void HideForAll(uint16_t id);
    // Hide and show again to every player who has the label, so that the client takes the
    // changed record.
    void Resend(uint16_t id);

    GameServer& server_;
    std::array<bool, kMaxLabels> used_{};
    std::array<TextLabel, kMaxLabels> labels_{};
};

}  // namespace velt
