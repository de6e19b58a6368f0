#include "server/runtime/SleepingMain.h"

#include "server/vm/ScriptLoader.h"

namespace velt {

void SleepingMain::Start(ScriptRef ref) {
    if (!IsScriptAlive(ref)) return;
    cell ret = 0;
    const int err = ExecScript(ref.instance, &ret, VM_EXEC_MAIN);
    // Main may have unloaded its own script: then there is nothing left to sleep or to log.
    if (IsScriptAlive(ref)) AfterRun(ref.instance, err);
}

void SleepingMain::Process(ScriptRef ref, float elapsedSeconds) {
    if (!sleeping_) return;
    if (remaining_ > 0.0f) {
        remaining_ -= elapsedSeconds;
        return;
    }
    if (!IsScriptAlive(ref)) return;
    VmInstance* inst = ref.instance;
    inst->cip = saved_.cip;
    inst->frame = saved_.frame;
    inst->reg_pri = saved_.pri;
    inst->reg_alt = saved_.alt;
    inst->stack = saved_.stack;
    inst->heap = saved_.heap;
    inst->resume_stack = saved_.resumeStack;
    inst->resume_heap = saved_.resumeHeap;
    inst->pushed_args = 0;
    cell ret = 0;
    const int err = ExecScript(inst, &ret, VM_EXEC_CONTINUE);
    if (IsScriptAlive(ref)) AfterRun(inst, err);
}

void SleepingMain::AfterRun(VmInstance* inst, int err) {
    if (err == VM_ERR_SLEEP) {
        sleeping_ = true;
        // The sleep value is the machine's PRI at the sleep, whether a halt or a native slept.
        remaining_ = static_cast<float>(inst->reg_pri) / 1000.0f;
        saved_ = Registers{inst->cip,   inst->frame, inst->reg_pri,      inst->reg_alt,
                           inst->stack, inst->heap,  inst->resume_stack, inst->resume_heap};
        return;
    }
    sleeping_ = false;
    LogScriptError(inst, err);
}

}  // namespace velt
