#pragma once

// The 3D text labels of the world.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <cstdint>

namespace velt {

inline constexpr uint16_t kMaxLabels = 1024;

class TextLabelPool {};

}  // namespace velt
