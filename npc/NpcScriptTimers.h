#pragma once

// The npcmode script's timers (SetTimer, KillTimer): the script timers the server runs, counted
// down by the bot's frames while it is in game. Ids, the drift of repeating timers, killing from
// inside a timer and the tie of a timer to the script load that set it are the server's rules.
//
// One rule is the bot's own: every timer set during a frame starts counting with the next frame,
// also when the timer that set it was older (the server lets such a timer join the pass running).

#include <cstdint>
#include <functional>
#include <utility>

#include "server/runtime/ScriptTimers.h"
#include "server/vm/vm.h"

namespace velt {

class NpcScriptTimers : public VmScriptTimers {
public:
    // `scriptLoaded` tells whether a due timer may run its public now; due timers go (or rearm)
    // either way.
    explicit NpcScriptTimers(std::function<bool()> scriptLoaded)
        : VmScriptTimers(std::move(scriptLoaded), TimersMadeInPass::WaitForNextPass) {}

    // A timer of `script`'s public `name` (cut to kTimerNameMax characters; an empty name calls
    // nothing). Returns its id.
    int32_t SetTimer(const char* name, int32_t intervalMs, bool repeating, VmInstance* script) {
        return CreateTimer(name, intervalMs, repeating, script);
    }
};

}  // namespace velt
