#pragma once

// The npcmode script's timers (SetTimer, KillTimer): a public of the script run after a delay,
// once or repeatedly, counted down by the game's frames while the bot is in game.
//
// - Ids start at 1 and grow by one per timer; past the largest id they wrap to 1, skipping ids
//   still in use, so an id never names two live timers.
// - A repeating timer restarts from its full interval after each run: a timer fires at most once
//   per frame, and a late frame delays all later runs by its lateness.
// - A public may set or kill timers, its own among them; after each run the timer is looked up
//   again by id rather than trusted. Timers set during a frame start counting with the next one,
//   so publics that keep setting zero-interval timers cannot hold a frame for ever.
// - A timer belongs to the script load that set it and never runs in another.
//
// Main thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "server/ScriptIdentity.h"
#include "server/vm/vm.h"

namespace velt {

// Longest public name a timer keeps.
inline constexpr size_t kNpcTimerNameMax = 254;

class NpcScriptTimers {
public:
    // `scriptLoaded` tells whether a due timer may run its public now; due timers go (or rearm)
    // either way.
    explicit NpcScriptTimers(std::function<bool()> scriptLoaded);

    // A timer of `script`'s public `name` (cut to 254 characters; an empty name calls nothing).
    // Returns its id.
    int32_t SetTimer(const char* name, int32_t intervalMs, bool repeating, VmInstance* script);
    // The timer goes at its next count-down without running; unknown ids change nothing.
    void KillTimer(int32_t id);
    // Once per frame in game: counts every timer down and runs the due ones in ascending id order.
    void Process(uint32_t elapsedMs);

    size_t Count() const { return timers_.size(); }

private:
    struct Timer {
        std::string name;
        int32_t interval = 0;
        int32_t remaining = 0;
        bool repeating = false;
        bool killed = false;
        ScriptRef script;
        uint64_t serial = 0;  // tells a timer from a later one under a reused id
        uint64_t bornPass = 0;
    };

    std::map<int32_t, Timer> timers_;
    int32_t lastId_ = 0;
    uint64_t nextSerial_ = 1;
    uint64_t pass_ = 0;
    std::function<bool()> scriptLoaded_;
};

}  // namespace velt
