#pragma once

// One player's own 3D text labels, tagged with their owner's id, the only audience of their
// messages.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <cstdint>

namespace velt {

class PlayerLabelPool {
public:
    explicit PlayerLabelPool(uint16_t owner) : owner_(owner) {}
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

private:
    uint16_t owner_;
};

}  // namespace velt
