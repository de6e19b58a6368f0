#pragma once

// Server variables: named values that every script of the server sets and reads (SetSVarInt,
// SetSVarString, SetSVarFloat, GetSVarInt, GetSVarString, GetSVarFloat, DeleteSVar, GetSVarType,
// GetSVarNameAtIndex, GetSVarsUpperIndex). One table for the whole process: values outlive
// gamemode changes and filterscript reloads, so scripts use it to hand data to each other.

#include "server/game/PlayerVariables.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows ServerVarNatives();

// The process's table. Main thread only.
ServerVarTable& ServerVars();

}  // namespace velt
