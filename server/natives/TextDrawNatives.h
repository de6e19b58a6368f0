#pragma once

// Text draw natives: the global text draws (created, styled, shown and hidden per player or for
// all), each player's own text draws (the same, for that player alone), and putting a player's
// client into text-draw selection mode. Styling changes only the stored record: a text draw on a
// client's screen changes when it is shown again; only a new text is pushed at once.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows TextDrawNatives();

}  // namespace velt
