#pragma once

// A script's main function, which may sleep: its first run, the count-down of its sleep and its
// continuation where it slept. The gamemode host and the bot program's npcmode host run their
// script's main this way.
//
// While main sleeps, other publics of the same script (callbacks, timers) run on the instance and
// overwrite the machine's registers with their own; the state main continues from is kept here and
// put back right before it continues.

#include "server/runtime/ScriptIdentity.h"
#include "server/vm/vm.h"

namespace velt {

class SleepingMain {
public:
    // The script is taken by value: a run may unload it, and even load another in its host.
    //
    // Runs the main function of the script `ref` names, when that script is alive. A sleep starts
    // the count-down (the value passed to sleep, in milliseconds); any other error is logged
    // (LogScriptError) and leaves main not sleeping.
    void Start(ScriptRef ref);
    // Once per pass: while the sleep has time left, counts it down by `elapsedSeconds`; once it had
    // none left at the start of the pass, continues main where it slept (which may sleep again).
    // Nothing when main is not sleeping or the script is no longer alive.
    void Process(ScriptRef ref, float elapsedSeconds);

    // Before a load: not sleeping, no time left.
    void Reset() {
        sleeping_ = false;
        remaining_ = 0.0f;
    }
    // The script is going away: main will never continue.
    void Stop() { sleeping_ = false; }

    bool IsSleeping() const { return sleeping_; }
    float Remaining() const { return remaining_; }

private:
    struct Registers {
        cell cip = 0, frame = 0, pri = 0, alt = 0, stack = 0, heap = 0, resumeStack = 0, resumeHeap = 0;
    };

    void AfterRun(VmInstance* inst, int err);

    Registers saved_;
    bool sleeping_ = false;
    float remaining_ = 0.0f;
};

}  // namespace velt
