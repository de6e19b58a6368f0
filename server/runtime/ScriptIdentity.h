#pragma once

// Which scripts are alive right now, and a way to recognise "the same script" later.
//
// A script is its VmInstance plus the generation of the load that put it there. Instances are
// reused (the gamemode's record serves every gamemode in turn) and freed ones can be reallocated at
// the same address, so a pointer alone never proves that the script is still the one that asked.
// Anything that outlives a call into a script (timers, HTTP requests, a dispatch that runs other
// code between two steps) keeps a ScriptRef and asks IsScriptAlive before touching the script.
//
// The hosts register a script once its natives are bound (before its first public runs) and
// unregister it before its exit clean-ups free anything. Main thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "server/vm/vm.h"

namespace velt {

enum class ScriptKind : uint8_t { GameMode, FilterScript, NpcMode, Other };

struct ScriptRef {
    VmInstance* instance = nullptr;
    uint64_t generation = 0;  // 0: no script
    uint32_t entry = 0;       // where the registry keeps it, so the liveness test is one compare

    explicit operator bool() const { return instance != nullptr && generation != 0; }
    bool operator==(const ScriptRef&) const = default;
};

// Longest script file name kept for the run-time error lines ("filterscripts/<name>.vmb").
inline constexpr size_t kScriptFileMax = 288;

// Marks `inst` as holding a live script of that kind (slot: the filterscript slot, else -1) and
// returns its new identity. Registering an instance that is still registered replaces the entry.
// `file` is what the script's run-time error lines call it.
ScriptRef RegisterLiveScript(VmInstance* inst, ScriptKind kind, int slot = -1, const char* file = nullptr);
// The instance no longer holds that script. Unknown instances are ignored.
void UnregisterLiveScript(VmInstance* inst);

// The identity of the live script at `inst`, or an empty ref when none is registered there.
ScriptRef LiveScriptRef(const VmInstance* inst);
// True while the script that `ref` named is still loaded (same instance, same load).
bool IsScriptAlive(const ScriptRef& ref);
// Kind and slot of a live script; false when `inst` holds none.
bool LiveScriptInfo(const VmInstance* inst, ScriptKind* kind, int* slot);

// The live scripts in the order publics reach them across scripts: the gamemode first, then the
// filterscripts by slot, then any others in registration order. Writes at most `max` refs into
// `out` (no allocation) and returns how many it wrote.
size_t LiveScriptsInOrder(ScriptRef* out, size_t max);

// ---------------------------------------------------------------------------------------------
// Running script code.
//
// Every host and native that runs script code calls ExecScript instead of vm_Exec. It counts the
// runs in progress on each instance, so that a script unloaded while one of its own publics is on
// the host stack (a console command sent by the script, another script's public, a timer) keeps
// its memory until the outermost run has returned; the interpreter is still executing inside that
// memory when the unload happens.
//
// A public (index >= 0) that ends in the sleep state is abandoned: only a gamemode's main is ever
// continued, so the sleeping public's stack and heap are given back at once instead of leaking.
// Nesting deeper than kMaxScriptNesting runs refuses with the stack error (3) instead of
// exhausting the host stack. A public of a live script that ends in an error is logged, once per
// public and load, with the script's file and the public's name.
int ExecScript(VmInstance* inst, cell* retval, int index);
bool IsScriptRunning(const VmInstance* inst);

// Runs `release` now when no run is in progress on `inst`, else as soon as the last one returns.
// A script that is running is also stopped (forced exit) when the native now executing returns:
// the script has been unloaded, its remaining code must not act any more.
// Hosts call this after their unload steps that need the script alive (exit public, timers).
template <class F>
void ReleaseScriptWhenIdle(VmInstance* inst, F&& release);

inline constexpr int kMaxScriptNesting = 256;

// Live scripts at most: the gamemode, 16 filterscripts, one npcmode and room for a few others
// (tests, plugins' own instances).
inline constexpr size_t kMaxLiveScripts = 32;

namespace script_identity_detail {
void ReleaseWhenIdle(VmInstance* inst, std::function<void()> release);
}

template <class F>
void ReleaseScriptWhenIdle(VmInstance* inst, F&& release) {
    script_identity_detail::ReleaseWhenIdle(inst, std::function<void()>(std::forward<F>(release)));
}

}  // namespace velt
