#include "npc/NpcScriptTimers.h"

#include <cstring>
#include <limits>
#include <utility>

namespace velt {

NpcScriptTimers::NpcScriptTimers(std::function<bool()> scriptLoaded) : scriptLoaded_(std::move(scriptLoaded)) {}

int32_t NpcScriptTimers::SetTimer(const char* name, int32_t intervalMs, bool repeating, VmInstance* script) {
    Timer t;
    if (name != nullptr) t.name.assign(name, strnlen(name, kNpcTimerNameMax));
    t.interval = intervalMs;
    t.remaining = intervalMs;
    t.repeating = repeating;
    t.script = LiveScriptRef(script);
    t.serial = nextSerial_++;
    // Made during a pass: it starts counting with the next one.
    t.bornPass = pass_;
    do {
        lastId_ = lastId_ == std::numeric_limits<int32_t>::max() ? 1 : lastId_ + 1;
    } while (timers_.count(lastId_) != 0);
    timers_.emplace(lastId_, std::move(t));
    return lastId_;
}

void NpcScriptTimers::KillTimer(int32_t id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.remaining = 0;
    it->second.killed = true;
    it->second.repeating = false;
}

void NpcScriptTimers::Process(uint32_t elapsedMs) {
    ++pass_;
    const bool mayRun = !scriptLoaded_ || scriptLoaded_();
    auto it = timers_.begin();
    while (it != timers_.end()) {
        const int32_t id = it->first;
        Timer& t = it->second;
        if (t.bornPass == pass_) {
            ++it;
            continue;
        }
        const int64_t left = int64_t(t.remaining) - int64_t(elapsedMs);
        t.remaining = left < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min() : int32_t(left);
        if (t.remaining > 0) {
            ++it;
            continue;
        }
        if (!IsScriptAlive(t.script)) {
            // Its script is gone: it can never run again.
            it = timers_.erase(it);
            continue;
        }
        const uint64_t serial = t.serial;
        if (!t.killed && mayRun) {
            int index = -1;
            if (vm_LookupPublic(t.script.instance, t.name.c_str(), &index) == VM_ERR_NONE && index >= 0) {
                cell result = 0;
                ExecScript(t.script.instance, &result, index);
            }
        }
        // The public may have killed or set timers: find this one again.
        auto again = timers_.find(id);
        if (again != timers_.end() && again->second.serial == serial) {
            if (again->second.repeating) {
                again->second.remaining = again->second.interval;
            } else {
                timers_.erase(again);
            }
        }
        it = timers_.upper_bound(id);
    }
}

}  // namespace velt
