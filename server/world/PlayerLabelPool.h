#pragma once

// One player's own 3D text labels, rows 0 to 1023, seen by that player alone and at any distance:
// each is sent to him when created instead of being streamed. Clients know them by row + 1024,
// above the global labels' ids. Labels left when the pool goes are deleted on the client.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "server/world/OwnerSend.h"
#include "server/world/TextLabelPool.h"

namespace velt {

inline constexpr uint16_t kMaxPlayerLabels = 1024;
inline constexpr uint16_t kPlayerLabelWireBase = 1024;

// The global labels' record: a player's own always shows in every world (virtualWorld -1).
using PlayerLabel = TextLabel;

class PlayerLabelPool {
public:
    PlayerLabelPool(uint16_t owner, OwnerSend send) : owner_(owner), send_(std::move(send)) {}
    ~PlayerLabelPool() { DeleteAll(); }
    PlayerLabelPool(const PlayerLabelPool&) = delete;
    PlayerLabelPool& operator=(const PlayerLabelPool&) = delete;

    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

    // The lowest free row, sent to the owner at once; 0xFFFF when all rows are used. The attached
    // ids are the client's concern and are kept as given.
    uint16_t Create(std::string_view text, uint32_t colour, const Vector3& position, float drawDistance,
                    uint16_t attachedPlayer, uint16_t attachedVehicle, uint8_t testLineOfSight);
    bool Exists(uint16_t row) const { return row < kMaxPlayerLabels && rows_[row] != nullptr; }
    const PlayerLabel* Get(uint16_t row) const { return Exists(row) ? rows_[row].get() : nullptr; }
    // Deleted on the client and freed; false for a row not in use.
    bool Delete(uint16_t row);
    // New colour and text, shown by deleting and creating the label again; false for a row not in
    // use.
    bool UpdateText(uint16_t row, uint32_t colour, std::string_view text);
    void DeleteAll();

private:
    static uint16_t WireId(uint16_t row) { return uint16_t(row + kPlayerLabelWireBase); }
    void SendCreate(uint16_t row);
    void SendDelete(uint16_t row);

    uint16_t owner_;
    OwnerSend send_;
    std::array<std::unique_ptr<PlayerLabel>, kMaxPlayerLabels> rows_;
};

}  // namespace velt
