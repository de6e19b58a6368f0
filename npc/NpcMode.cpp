#include "npc/NpcMode.h"

#include <cstdio>

#include "npc/NpcLog.h"
#include "npc/NpcNatives.h"
#include "server/runtime/CallbackDispatch.h"
#include "server/vm/ScriptLoader.h"
#include "server/vm/vmlib.h"

namespace velt {

namespace {

constexpr const char* kCallbackNames[size_t(NpcCallback::Count)] = {
    "OnNPCModeInit",      "OnNPCModeExit",          "OnNPCConnect",      "OnNPCSpawn",
    "OnNPCEnterVehicle",  "OnNPCExitVehicle",       "OnClientMessage",   "OnPlayerText",
    "OnPlayerDeath",      "OnPlayerStreamIn",       "OnPlayerStreamOut", "OnVehicleStreamIn",
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

    main_.Reset();
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
    LogUnregisteredNatives(inst, path);

    inst_ = inst;
    loaded_ = true;
    ref_ = RegisterLiveScript(inst, ScriptKind::NpcMode, -1, path);
    for (size_t i = 0; i < publics_.size(); ++i) publics_[i] = FindScriptPublic(inst, kCallbackNames[i]);

    Call(NpcCallback::OnNPCModeInit, 0);
    main_.Start(ref_);
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
    main_.Stop();
    // The exit public may have been raised from inside the script's own run; its memory goes once
    // that run has returned.
    ReleaseScriptWhenIdle(inst, [inst] { ReleaseInstance(inst); });
}

void NpcMode::Process(float elapsedSeconds) {
    if (loaded_) main_.Process(ref_, elapsedSeconds);
}

template <class... Args>
int32_t NpcMode::Call(NpcCallback cb, int32_t fallback, Args... args) {
    // Arguments go on the stack last first, so the public receives them in order; texts as
    // unpacked copies on the script's heap, given back afterwards. A heap or stack too full for
    // them skips the public; a public that ended its own script has no say in the result.
    int32_t result = fallback;
    if (!loaded_ || !RunScriptPublic(ref_, publics_[size_t(cb)], result, args...)) return fallback;
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
int32_t NpcMode::OnPlayerStreamIn(int32_t playerid) {
    return Call(NpcCallback::OnPlayerStreamIn, 1, playerid);
}
int32_t NpcMode::OnPlayerStreamOut(int32_t playerid) {
    return Call(NpcCallback::OnPlayerStreamOut, 1, playerid);
}
int32_t NpcMode::OnVehicleStreamIn(int32_t vehicleid) {
    return Call(NpcCallback::OnVehicleStreamIn, 1, vehicleid);
}
int32_t NpcMode::OnVehicleStreamOut(int32_t vehicleid) {
    return Call(NpcCallback::OnVehicleStreamOut, 1, vehicleid);
}
int32_t NpcMode::OnRecordingPlaybackEnd() { return Call(NpcCallback::OnRecordingPlaybackEnd, 0); }

}  // namespace velt
