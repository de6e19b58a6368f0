#pragma once

// Script timers: publics that scripts ask to have run later, once or repeatedly (SetTimer,
// SetTimerEx), counted down by the main loop.
//
// - Ids start at 1 and grow by one per timer; past the largest id they wrap to 1, skipping ids
//   whose timers are still pending, so an id never names two live timers.
// - A repeating timer restarts from its full interval after each run: the overshoot of the pass
//   is not carried over, so its period drifts later by up to one pass per run. Scripts rely on
//   "every N ms, never twice in one pass", not on an exact period.
// - SetTimerEx arguments are copied to the host when the timer is made and placed on the script's
//   heap only when the timer runs: whatever the script does with its heap in between (every
//   public's heap use is given back when it returns), the public receives what was passed.
// - Timers belong to their script (instance plus load generation): a script's timers die with it,
//   and a timer never runs in a script that has since been unloaded or replaced.
// - A public may create, kill or unload anything, its own script included: after every run the
//   pass looks its place up again by id instead of trusting what it held.
// - Timers made while a pass runs: see TimersMadeInPass. Either way a public that keeps starting
//   zero-interval timers cannot hold a pass for ever.
//
// The server's timers (SetTimer, SetTimerEx, one object the game server owns) and the bot
// program's (SetTimer of its npcmode script) are this one class; the caller turns its own clock
// into the elapsed milliseconds of each pass. Main thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/runtime/ScriptArgs.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/vm/vm.h"

namespace velt {

// Longest public name a timer keeps.
inline constexpr size_t kTimerNameMax = 254;

// When a timer made during a pass (by a public that a timer, or anything it calls, ran) starts.
// What a timer table is to its owner (the game server, the bot): one call per main-loop pass.
class ScriptTimers {
public:
    virtual ~ScriptTimers() = default;
    // Per main-loop pass: counts timers down by the elapsed milliseconds and runs the due ones.
    virtual void Process(uint32_t elapsedMs) = 0;
};

enum class TimersMadeInPass : uint8_t {
    // Counted down and run in the same pass when its id comes after the one running, unless the
    // timer that made it was itself made in this pass: that one's timers wait for the next pass.
    JoinThePass,
    // Every timer made during a pass starts counting with the next pass (the bot's frames).
    WaitForNextPass,
};

struct ScriptTimer {
    std::string functionName;
    int32_t interval = 0;
    int32_t remaining = 0;
    bool repeat = false;
    bool killed = false;
    ScriptRef script;
    ScriptArgList arguments;

    uint64_t serial = 0;        // tells a timer from a later one under the same id
    uint64_t deferredPass = 0;  // made during that pass and waiting for the next one
    uint64_t bornPass = 0;      // the pass it was made in, 0 outside a pass
};

class VmScriptTimers : public ScriptTimers {
public:
    // `mayRun` tells whether timers may run their publics now (the game has a gamemode, the bot
    // has its script); they are counted down and retired either way. Null: always.
    explicit VmScriptTimers(std::function<bool()> mayRun = {},
                            TimersMadeInPass madeInPass = TimersMadeInPass::JoinThePass);
    ~VmScriptTimers() override;
    VmScriptTimers(const VmScriptTimers&) = delete;
    VmScriptTimers& operator=(const VmScriptTimers&) = delete;

    // SetTimer: a timer of `script`'s public `name` (cut to kTimerNameMax characters). Returns the
    // new id.
    int32_t CreateTimer(const char* name, int32_t interval, bool repeat, VmInstance* script);
    // SetTimerEx: as CreateTimer, with the arguments described by the format text in params[4]
    // and taken from params[5] on, as the native received them (CopyScriptArgs).
    int32_t CreateTimerEx(const char* name, int32_t interval, bool repeat, const cell* params,
                          VmInstance* script);
    // Marks the timer killed (not repeating, nothing left to wait): it is dropped when the pass
    // next reaches it, without running. Unknown ids are ignored.
    void KillTimer(int32_t id);
    // Deletes every timer of the script at `script`, whatever its load.
    void RemoveScriptTimers(VmInstance* script);

    // Per main-loop pass: counts every timer down by the elapsed milliseconds and runs the due
    // ones in ascending id order.
    void Process(uint32_t elapsedMs) override;

    size_t Count() const { return timers_.size(); }
    const ScriptTimer* Find(int32_t id) const;

protected:
    int32_t lastId_ = 0;  // the last id handed out

private:
    int32_t Insert(std::unique_ptr<ScriptTimer> timer);
    std::unique_ptr<ScriptTimer> NewTimer(const char* name, int32_t interval, bool repeat,
                                          VmInstance* script);
    void Run(const ScriptTimer& timer, int32_t publicIndex);

    std::map<int32_t, std::unique_ptr<ScriptTimer>> timers_;
    uint64_t nextSerial_ = 1;
    uint64_t pass_ = 0;
    bool inPass_ = false;
    bool runningNewborn_ = false;  // the timer running now was made in this pass
    std::function<bool()> mayRun_;
    TimersMadeInPass madeInPass_;
};

}  // namespace velt
