#pragma once

// The bot's natives, registered beside the standard libraries on every npcmode load.

#include <cstddef>

#include "server/vm/vm.h"

namespace velt {

// Registers the bot's native table with the script (count -1: the table ends with an empty row).
int RegisterNpcNatives(VmInstance* inst);

// The table, closed by a row with an empty name.
const VmNativeEntry* NpcNatives();

// The natives themselves, for tests that call them with a hand-made argument array.
cell NpcNative_format(VmInstance* vm, const cell* params);
cell NpcNative_SetTimer(VmInstance* vm, const cell* params);
cell NpcNative_KillTimer(VmInstance* vm, const cell* params);

}  // namespace velt
