#include "server/runtime/ScriptTimers.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace velt {

VmScriptTimers::VmScriptTimers(std::function<bool()> mayRun, TimersMadeInPass madeInPass)
    : mayRun_(std::move(mayRun)), madeInPass_(madeInPass) {}

VmScriptTimers::~VmScriptTimers() = default;

const ScriptTimer* VmScriptTimers::Find(int32_t id) const {
    auto it = timers_.find(id);
    return it == timers_.end() ? nullptr : it->second.get();
}

std::unique_ptr<ScriptTimer> VmScriptTimers::NewTimer(const char* name, int32_t interval, bool repeat,
                                                      VmInstance* script) {
    auto timer = std::make_unique<ScriptTimer>();
    if (name != nullptr) timer->functionName.assign(name, strnlen(name, kTimerNameMax));
    timer->interval = interval;
    timer->remaining = interval;
    timer->repeat = repeat;
    timer->script = LiveScriptRef(script);
    timer->serial = nextSerial_++;
    if (inPass_) {
        timer->bornPass = pass_;
        // A timer made by a timer that was itself made in this pass waits for the next pass: a
        // public that keeps starting short timers from short timers would otherwise never let
        // the pass end.
        if (runningNewborn_ || madeInPass_ == TimersMadeInPass::WaitForNextPass) timer->deferredPass = pass_;
    }
    return timer;
}

int32_t VmScriptTimers::Insert(std::unique_ptr<ScriptTimer> timer) {
    // Ids wrap to 1 rather than overflow, and skip ids that are still pending.
    do {
        lastId_ = lastId_ == std::numeric_limits<int32_t>::max() ? 1 : lastId_ + 1;
    } while (timers_.count(lastId_) != 0);
    timers_.emplace(lastId_, std::move(timer));
    return lastId_;
}

int32_t VmScriptTimers::CreateTimer(const char* name, int32_t interval, bool repeat, VmInstance* script) {
    return Insert(NewTimer(name, interval, repeat, script));
}

int32_t VmScriptTimers::CreateTimerEx(const char* name, int32_t interval, bool repeat, const cell* params,
                                      VmInstance* script) {
    auto timer = NewTimer(name, interval, repeat, script);
    timer->arguments = CopyScriptArgs(script, params, 4);
    return Insert(std::move(timer));
}

void VmScriptTimers::KillTimer(int32_t id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->killed = true;
    it->second->remaining = 0;
    it->second->repeat = false;
}

void VmScriptTimers::RemoveScriptTimers(VmInstance* script) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second->script.instance == script) {
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void VmScriptTimers::Run(const ScriptTimer& timer, int32_t publicIndex) {
    const ScriptRef ref = timer.script;
    VmInstance* vm = ref.instance;
    ScriptArgFrame frame;
    // A full stack skips the public; a heap too full for a copy passes nothing for it.
    if (!PushScriptArgs(vm, timer.arguments, frame)) return;
    cell result = 0;
    ExecScript(vm, &result, publicIndex);
    // The public may have unloaded its own script; only a live one gets its heap back.
    if (IsScriptAlive(ref)) ReleaseScriptArgs(vm, frame);
}

void VmScriptTimers::Process(uint32_t elapsedMs) {
    ++pass_;
    inPass_ = true;
    const bool mayRun = !mayRun_ || mayRun_();
    auto it = timers_.begin();
    while (it != timers_.end()) {
        const int32_t id = it->first;
        ScriptTimer& timer = *it->second;
        if (timer.deferredPass == pass_) {
            ++it;
            continue;
        }
        const int64_t left = static_cast<int64_t>(timer.remaining) - static_cast<int64_t>(elapsedMs);
        timer.remaining = static_cast<int32_t>(std::max<int64_t>(left, std::numeric_limits<int32_t>::min()));
        if (timer.remaining > 0) {
            ++it;
            continue;
        }
        const uint64_t serial = timer.serial;
        if (!IsScriptAlive(timer.script)) {
            // Its script is gone (or was never a live script): it can never run again.
            it = timers_.erase(it);
            continue;
        }
        if (!timer.killed && mayRun) {
            int index = -1;
            if (vm_LookupPublic(timer.script.instance, timer.functionName.c_str(), &index) == VM_ERR_NONE) {
                runningNewborn_ = timer.bornPass == pass_;
                Run(timer, index);
                runningNewborn_ = false;
            }
        }
        // The public may have killed, removed or replaced anything: find the timer again.
        auto again = timers_.find(id);
        if (again != timers_.end() && again->second->serial == serial) {
            if (again->second->repeat) {
                again->second->remaining = again->second->interval;
            } else {
                timers_.erase(again);
            }
        }
        it = timers_.upper_bound(id);
    }
    inPass_ = false;
}

}  // namespace velt
