#pragma once

// One script callback raised on both sides, the filterscripts and the gamemode, the way every
// event of the game raises it: one side after the other, the second only when the first side's
// result lets it through and the player the event concerns is still there. Any script may kick
// that player, and a player who has left raises no further callback.

#include <cstdint>

#include "server/game/ScriptServices.h"

namespace velt {

// Whether the second side still hears the callback, given the first side's result.
enum class CallbackStop : uint8_t {
    Never,      // whatever the first side returned
    AtZero,     // not after a 0 (the first side refused)
    AtNonZero,  // not after a non-0 (the first side handled it)
};

struct CallbackRule {
    CallbackStop stop = CallbackStop::Never;
    // The result when no side ran.
    int32_t initial = 0;
    // A gamemode that is not loaded (the intermission, a failed load) has no say and does not run.
    bool loadedGameModeOnly = false;
    // The gamemode hears the callback before the filterscripts.
    bool gameModeFirst = false;
};

struct CallbackOutcome {
    // The result of the last side that ran, else the rule's initial value.
    int32_t result = 0;
    // The stop rule, or the player's leaving, kept the second side from hearing it.
    bool secondSkipped = false;
    bool gameModeRan = false;
};

// `scripts` is whatever holds the two sides (GetFilterScripts() and GetGameMode(): the game
// server, the console's host); each side is fetched when its turn comes, as the first side may
// have changed what the holder holds. `call(side)` raises the callback on one side and returns
// its result; it is called with a FilterScripts& and a GameMode&, for instance
//     [&](auto& side) { return side.OnPlayerSpawn(playerid); }
// `stillThere()` is asked after the first side ran: false keeps the second side out.
template <class Scripts, class StillThere, class Call>
CallbackOutcome RaiseCallback(Scripts& scripts, const CallbackRule& rule, StillThere&& stillThere,
                              Call&& call) {
    CallbackOutcome out;
    out.result = rule.initial;
    auto raiseInFilterScripts = [&] {
        if (FilterScripts* fs = scripts.GetFilterScripts()) out.result = call(*fs);
    };
    auto raiseInGameMode = [&] {
        GameMode* gm = scripts.GetGameMode();
        if (gm == nullptr || (rule.loadedGameModeOnly && !gm->IsLoaded())) return;
        out.result = call(*gm);
        out.gameModeRan = true;
    };
    if (rule.gameModeFirst)
        raiseInGameMode();
    else
        raiseInFilterScripts();
    const bool stopped = (rule.stop == CallbackStop::AtZero && out.result == 0) ||
                         (rule.stop == CallbackStop::AtNonZero && out.result != 0);
    if (stopped || !stillThere()) {
        out.secondSkipped = true;
        return out;
    }
    if (rule.gameModeFirst)
        raiseInFilterScripts();
    else
        raiseInGameMode();
    return out;
}

// For a callback that concerns no player (or one whose leaving does not matter).
inline bool NoPlayerToLose() { return true; }

}  // namespace velt
