#pragma once

// Starting bots from a script and telling bots from people.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows BotNatives();

}  // namespace velt
