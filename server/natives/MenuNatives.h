#pragma once

// Menu natives: menus built once (a title, one or two columns of up to 12 rows, a header per
// column), shown to and hidden from single players, made inert as a whole or row by row, and the
// menu each player was shown last. Menu ids are the low 8 bits of their cell.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows MenuNatives();

}  // namespace velt
