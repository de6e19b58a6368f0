#pragma once

// The menus of the world.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

namespace velt {

class MenuPool {};

}  // namespace velt
