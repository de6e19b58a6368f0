#include "npc/NpcMode.h"

#include <cstdio>

#include "npc/NpcLog.h"
#include "npc/NpcNatives.h"
#include "server/vm/ScriptLoader.h"
#include "server/vm/vmlib.h"

namespace velt {

namespace {

constexpr const char* kCallbackNames[size_t(NpcCallback::Count)] = {
    "OnNPCModeInit",     "OnNPCModeExit",     "OnNPCConnect",       "OnNPCSpawn",
    "OnNPCEnterVehicle", "OnNPCExitVehicle",  "OnClientMessage",    "OnPlayerText",
    "OnPlayerDeath",     "OnPlayerStreamIn",  "OnPlayerStreamOut",  "OnVehicleStreamIn",
    "OnVehicleStreamOut", "OnRecordingPlaybackEnd",
};

void ReleaseInstance(VmInstance* inst) {
    FreeScript(inst);
    vm_DetachTimeLib(inst);
    vm_DetachFileLib(inst);
    vm_DetachStringLib(inst);
    vm_DetachFloatLib(inst);
    vm_DetachCoreLib(inst);
    delete inst;
}

}  // namespace

NpcMode::~NpcMode() { Unload(); }

int NpcMode::Load(const char* path) {
    if (path == nullptr) return 0;
    if (loaded_) Unload();

    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    std::fclose(f);

    sleepRemaining_ = 0.0f;
    sleeping_ = false;
    SetScriptLogFunction(NpcLog);
    SetCurrentScriptPath(path);

    VmInstance* inst = new VmInstance{};
    if (int err = LoadScriptFromFile(inst, path)) {
        LogScriptError(inst, err);
        delete inst;
        return 0;
    }
    vm_AttachCoreLib(inst);
    vm_AttachFloatLib(inst);
    vm_AttachStringLib(inst);
    vm_AttachFileLib(inst);
    vm_AttachTimeLib(inst);
    RegisterNpcNatives(inst);

    inst_ = inst;
    loaded_ = true;
    ref_ = RegisterLiveScript(inst, ScriptKind::NpcMode);
    for (size_t i = 0; i < publics_.size(); ++i) {
        int index = -1;
        publics_[i] = vm_LookupPublic(inst, kCallbackNames[i], &index) == VM_ERR_NONE ? index : -1;
    }

    Call(NpcCallback::OnNPCModeInit, 0);
    if (IsScriptAlive(ref_)) {
        cell ret = 0;
        const int err = ExecScript(inst_, &ret, VM_EXEC_MAIN);
        if (IsScriptAlive(ref_)) AfterMainRun(err);
    }
    return 1;
}

void NpcMode::Unload() {
    if (!loaded_) return;
    Call(NpcCallback::OnNPCModeExit, 0);
    VmInstance* inst = inst_;
    UnregisterLiveScript(inst);
    inst_ = nullptr;
    ref_ = ScriptRef{};
    publics_.fill(-1);
    loaded_ = false;
    sleeping_ = false;
    // The exit public may have been raised from inside the script's own run; its memory goes once
    // that run has returned.
    ReleaseScriptWhenIdle(inst, [inst] { ReleaseInstance(inst); });
}

void NpcMode::Process(float elapsedSeconds) {
    if (!loaded_ || !sleeping_) return;
    if (sleepRemaining_ > 0.0f) {
        sleepRemaining_ -= elapsedSeconds;
        return;
    }
    RestoreSleepState();
    cell ret = 0;
    const ScriptRef ref = ref_;
    const int err = ExecScript(inst_, &ret, VM_EXEC_CONTINUE);
    if (IsScriptAlive(ref)) AfterMainRun(err);
}

void NpcMode::AfterMainRun(int err) {
    if (err == VM_ERR_SLEEP) {
        sleeping_ = true;
        // The sleep value is the machine's PRI at the sleep, whether a halt or a native slept.
        sleepRemaining_ = float(inst_->reg_pri) / 1000.0f;
        SaveSleepState();
        return;
    }
    sleeping_ = false;
    LogScriptError(inst_, err);
}

void NpcMode::SaveSleepState() {
    saved_ = SleepState{inst_->cip,   inst_->frame, inst_->reg_pri,     inst_->reg_alt,
                        inst_->stack, inst_->heap,  inst_->resume_stack, inst_->resume_heap};
}

void NpcMode::RestoreSleepState() {
    inst_->cip = saved_.cip;
    inst_->frame = saved_.frame;
    inst_->reg_pri = saved_.pri;
    inst_->reg_alt = saved_.alt;
    inst_->stack = saved_.stack;
    inst_->heap = saved_.heap;
    inst_->resume_stack = saved_.resumeStack;
    inst_->resume_heap = saved_.resumeHeap;
    inst_->pushed_args = 0;
}

namespace {

// Arguments go on the stack last first, so the public receives them in order; texts as unpacked
// copies on the script's heap.
bool PushArgs(VmInstance*) { return true; }
template <class... Rest>
bool PushArgs(VmInstance* inst, int32_t value, Rest... rest);
template <class... Rest>
bool PushArgs(VmInstance* inst, const char* text, Rest... rest);

template <class... Rest>
bool PushArgs(VmInstance* inst, int32_t value, Rest... rest) {
    return PushArgs(inst, rest...) && vm_PushCell(inst, value) == VM_ERR_NONE;
}

template <class... Rest>
bool PushArgs(VmInstance* inst, const char* text, Rest... rest) {
    cell address = 0;
    return PushArgs(inst, rest...) &&
           vm_PushString(inst, &address, nullptr, text != nullptr ? text : "", 0, 0) == VM_ERR_NONE;
}

}  // namespace

template <class... Args>
int32_t NpcMode::Call(NpcCallback cb, int32_t fallback, Args... args) {
    const int32_t index = publics_[size_t(cb)];
    if (!loaded_ || index < 0 || !IsScriptAlive(ref_)) return fallback;
    VmInstance* inst = inst_;
    const ScriptRef ref = ref_;
    const cell heap = inst->heap;
    const cell stack = inst->stack;
    const int32_t pushed = inst->pushed_args;
    cell result = fallback;
    // A heap or stack too full for the arguments skips the public.
    if (PushArgs(inst, args...)) ExecScript(inst, &result, index);
    // The public may have ended its own script; only a live one gets its texts' heap back.
    if (!IsScriptAlive(ref)) return fallback;
    inst->heap = heap;
    inst->stack = stack;
    inst->pushed_args = pushed;
    return result;
}

int32_t NpcMode::OnNPCConnect(int32_t playerid) { return Call(NpcCallback::OnNPCConnect, 0, playerid); }
int32_t NpcMode::OnNPCSpawn() { return Call(NpcCallback::OnNPCSpawn, 0); }
int32_t NpcMode::OnNPCEnterVehicle(int32_t vehicleid, int32_t seat) {
    return Call(NpcCallback::OnNPCEnterVehicle, 0, vehicleid, seat);
}
int32_t NpcMode::OnNPCExitVehicle() { return Call(NpcCallback::OnNPCExitVehicle, 0); }
int32_t NpcMode::OnClientMessage(int32_t color, const char* text) {
    return Call(NpcCallback::OnClientMessage, 1, color, text);
}
int32_t NpcMode::OnPlayerText(int32_t playerid, const char* text) {
    return Call(NpcCallback::OnPlayerText, 1, playerid, text);
}
int32_t NpcMode::OnPlayerDeath(int32_t playerid) { return Call(NpcCallback::OnPlayerDeath, 0, playerid); }
int32_t NpcMode::OnPlayerStreamIn(int32_t playerid) { return Call(NpcCallback::OnPlayerStreamIn, 1, playerid); }
int32_t NpcMode::OnPlayerStreamOut(int32_t playerid) { return Call(NpcCallback::OnPlayerStreamOut, 1, playerid); }
int32_t NpcMode::OnVehicleStreamIn(int32_t vehicleid) { return Call(NpcCallback::OnVehicleStreamIn, 1, vehicleid); }
int32_t NpcMode::OnVehicleStreamOut(int32_t vehicleid) {
    return Call(NpcCallback::OnVehicleStreamOut, 1, vehicleid);
}
int32_t NpcMode::OnRecordingPlaybackEnd() { return Call(NpcCallback::OnRecordingPlaybackEnd, 0); }

}  // namespace velt
