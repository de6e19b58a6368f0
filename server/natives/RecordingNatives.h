#pragma once

// Recording a player's movement into a file a bot can play back later.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows RecordingNatives();

}  // namespace velt
