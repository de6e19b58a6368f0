#pragma once

// Gang zone natives: coloured rectangles on the players' radar and map, shown, hidden, flashed and
// stopped for one player or for all. The server keeps only the rectangles.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows GangZoneNatives();

}  // namespace velt
