#include "server/hosts/FilterScriptHost.h"

#include <cstdio>
#include <cstring>
#include <tuple>

#include "server/console/Log.h"
#include "server/vm/ScriptLoader.h"

namespace velt {

namespace {

void DeleteInstance(VmInstance* inst) { delete inst; }

bool ValidName(const char* name) {
    return name != nullptr && std::strlen(name) <= VmFilterScripts::kMaxNameLength;
}

}  // namespace

VmFilterScripts::VmFilterScripts(ScriptHostEnv& env) : env_(env) { env_.FilterScriptsCreated(this); }

VmFilterScripts::~VmFilterScripts() {
    UnloadAll();
    env_.FilterScriptsDestroyed(this);
}

VmInstance* VmFilterScripts::SlotInstance(int slot) const {
    if (slot < 0 || slot >= kMaxFilterScripts) return nullptr;
    return slots_[static_cast<size_t>(slot)].inst;
}

const char* VmFilterScripts::SlotName(int slot) const {
    if (slot < 0 || slot >= kMaxFilterScripts) return "";
    return slots_[static_cast<size_t>(slot)].name;
}

int VmFilterScripts::FindName(const char* name) const {
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        const Slot& s = slots_[static_cast<size_t>(slot)];
        if (s.inst != nullptr && std::strcmp(s.name, name) == 0) return slot;
    }
    return -1;
}

template <class LoadImage>
bool VmFilterScripts::LoadInto(const char* name, LoadImage&& loadImage, bool logFailure) {
    if (FindName(name) >= 0) return false;
    int slot = -1;
    for (int i = 0; i < kMaxFilterScripts; ++i) {
        if (slots_[static_cast<size_t>(i)].inst == nullptr) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return false;

    VmInstance* inst = new VmInstance{};
    if (loadImage(inst) != VM_ERR_NONE) {
        if (logFailure) LogPrintf("Failed to load '%s.vmb' filterscript.", name);
        delete inst;
        return false;
    }
    char file[kMaxNameLength + 32];
    std::snprintf(file, sizeof file, "filterscripts/%s.vmb", name);
    BindScriptNatives(inst, env_, file);

    Slot& s = slots_[static_cast<size_t>(slot)];
    s.inst = inst;
    s.ref = RegisterLiveScript(inst, ScriptKind::FilterScript, slot, file);
    s.publics.Fill(inst);
    s.unloading = false;
    // The name is in place before the script's first public runs, so a load or unload by name
    // from inside OnFilterScriptInit sees this script (no second copy under the same name).
    std::snprintf(s.name, sizeof s.name, "%s", name);
    ++count_;

    int32_t ignored = 0;
    RunScriptPublic(s.ref, FindScriptPublic(inst, "OnFilterScriptInit"), ignored);
    return true;
}

bool VmFilterScripts::LoadFilterScript(const char* name) {
    if (!ValidName(name)) return false;
    char path[VmFilterScripts::kMaxNameLength + 32];
    std::snprintf(path, sizeof path, "filterscripts/%s.vmb", name);
    if (count_ >= kMaxFilterScripts) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return LoadInto(
        name, [&path](VmInstance* inst) { return LoadScriptFromFile(inst, path); }, true);
}

int VmFilterScripts::LoadFilterScriptFromMemory(const char* name, const void* image) {
    return LoadFilterScriptFromMemory(name, image, SIZE_MAX);
}

int VmFilterScripts::LoadFilterScriptFromMemory(const char* name, const void* image, size_t length) {
    if (!ValidName(name) || image == nullptr) return 0;
    if (count_ >= kMaxFilterScripts) return 0;
    const bool ok = LoadInto(
        name, [image, length](VmInstance* inst) { return LoadScriptFromMemory(inst, image, length); }, false);
    return ok ? 1 : 0;
}

void VmFilterScripts::UnloadSlot(int slot) {
    if (slot < 0 || slot >= kMaxFilterScripts) return;
    Slot& s = slots_[static_cast<size_t>(slot)];
    // A second unload of the same slot from inside its exit public would run that public again and
    // again; the one under way finishes the job.
    if (s.inst == nullptr || s.unloading) return;
    s.unloading = true;
    const ScriptRef ref = s.ref;
    int32_t ignored = 0;
    RunScriptPublic(ref, FindScriptPublic(s.inst, "OnFilterScriptExit"), ignored);

    VmInstance* inst = s.inst;
    env_.RemoveScriptTimers(inst);
    UnregisterLiveScript(inst);
    s.inst = nullptr;
    s.ref = ScriptRef{};
    s.publics.Clear();
    s.name[0] = '\0';
    s.unloading = false;
    --count_;
    ReleaseUnloadedScript(inst, env_, ScriptCleanupOrder::DatabaseLast, DeleteInstance);
}

int VmFilterScripts::UnloadFilterScript(const char* name) {
    if (name == nullptr) return 0;
    const int slot = FindName(name);
    if (slot < 0 || slots_[static_cast<size_t>(slot)].unloading) return 0;
    UnloadSlot(slot);
    return 1;
}

void VmFilterScripts::UnloadAll() {
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) UnloadSlot(slot);
}

int32_t VmFilterScripts::CallPublic(const char* name) {
    if (name == nullptr) return 0;
    int32_t resultCell = 0;
    return DispatchFilterScriptSlots(FsRule::StopAtZero, 0, [&](int slot, int32_t& r) {
        const Slot& s = slots_[static_cast<size_t>(slot)];
        if (s.inst == nullptr) return false;
        if (!RunScriptPublic(s.ref, FindScriptPublic(s.inst, name), resultCell)) return false;
        r = resultCell;
        return true;
    });
}

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)                            \
    int32_t VmFilterScripts::name params {                                                    \
        return std::apply([this](auto... a) { return Dispatch(ScriptCallback::name, a...); }, \
                          std::make_tuple args);                                              \
    }
VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

}  // namespace velt
