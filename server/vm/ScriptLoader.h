#pragma once

// Brings a script file or a plugin's in-memory image into a VmInstance, releases it again, and
// turns the machine's error codes into the runtime-error log line. Shared by the server's script
// hosts and the bot program's npcmode host: it needs nothing but the machine and a log function.
// It registers no natives and runs no script code; the hosts do that after a successful load.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

namespace velt {

// Largest block (code, data, heap and stack) a script may ask for. The header's stack-top field
// comes from the file; a hostile or corrupt value must not make the server reserve gigabytes.
inline constexpr size_t kMaxScriptBlockBytes = size_t(64) << 20;

// Loads the file at `path` into `inst` (zeroed first) and prepares it with vm_Init. Returns 0 or a
// machine error code: 19 file cannot be opened, 17 bad magic or a header whose sizes do not fit
// the file, 16 no memory (or a block above kMaxScriptBlockBytes), else vm_Init's code. On any
// failure the instance owns nothing: its image pointer is null.
int LoadScriptFromFile(VmInstance* inst, const char* path);

// The same from an image in the caller's memory, which the caller keeps. `length` bounds what may
// be read from `image`; a plugin's image comes without one and is trusted to hold the size its
// header gives (pass SIZE_MAX).
int LoadScriptFromMemory(VmInstance* inst, const void* image, size_t length = SIZE_MAX);

// Releases a loaded script: the machine's per-instance clean-up, the image, then the whole record
// zeroed. An instance without an image is left alone. Returns 0.
int FreeScript(VmInstance* inst);

// The text of a machine error code; "(unknown)" above 25 (the code taken as unsigned).
const char* ScriptErrorName(int code);

// Where LogScriptError writes: the server installs its log function, the bot one that discards.
// Nothing is written while none is installed.
using ScriptLogFunction = void (*)(const char* format, ...);
void SetScriptLogFunction(ScriptLogFunction fn);

// The path of the gamemode (or npcmode) file last loaded, which the runtime-error line names.
void SetCurrentScriptPath(const char* path);
const char* CurrentScriptPath();

// Nothing for code 0; else "Script[<current path>]: Run time error <code>: "<name>"".
void LogScriptError(VmInstance* inst, int code);

// The same line for a public of any script that ended in an error, naming the script's file and
// the public: "Script[<file>]: Run time error <code>: "<name>" in <public>".
void LogScriptRunError(const char* file, int code, const char* publicName);

// Once its natives are registered: when some of the script's natives are still unbound (the
// machine then refuses every run of it before its first instruction), logs one line naming them
// and returns true.
bool LogUnregisteredNatives(VmInstance* inst, const char* file);

}  // namespace velt
