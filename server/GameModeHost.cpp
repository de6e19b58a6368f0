#include "server/GameModeHost.h"

#include <cstdio>
#include <tuple>

#include "server/Log.h"
#include "server/vm/ScriptLoader.h"

namespace velt {

namespace {

void DeleteInstance(VmInstance* inst) { delete inst; }

// Clears a flag when the scope ends, whichever way it is left.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
};

}  // namespace

VmGameMode::VmGameMode(ScriptHostEnv& env) : env_(env) {}

VmGameMode::~VmGameMode() { Unload(); }

int VmGameMode::Load(const char* path) {
    if (busy_ || path == nullptr) return 0;
    if (loaded_) Unload();
    BusyScope busy(busy_);

    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    std::fclose(f);

    sleepRemaining_ = 0.0f;
    sleeping_ = false;
    SetCurrentScriptPath(path);

    VmInstance* inst = new VmInstance{};
    if (int err = LoadScriptFromFile(inst, path)) {
        LogScriptError(inst, err);
        LogPrintf("Failed to load '%s' script.", path);
        delete inst;
        return 0;
    }
    BindScriptNatives(inst, env_);
    inst_ = inst;
    loaded_ = true;
    ref_ = RegisterLiveScript(inst, ScriptKind::GameMode);
    publics_.Fill(inst);
    const ScriptRef ref = ref_;

    int32_t ignored = 0;
    RunScriptPublic(ref, publics_.Get(ScriptCallback::OnGameModeInit), ignored);
    if (FilterScripts* fs = env_.GetFilterScripts()) fs->OnGameModeInit();

    if (IsScriptAlive(ref)) {
        cell ret = 0;
        const int err = ExecScript(inst, &ret, VM_EXEC_MAIN);
        if (IsScriptAlive(ref)) AfterMainRun(err);
    }
    return 1;
}

void VmGameMode::Unload() {
    if (busy_) return;
    BusyScope busy(busy_);
    const ScriptRef ref = ref_;
    if (loaded_) {
        int32_t ignored = 0;
        RunScriptPublic(ref, publics_.Get(ScriptCallback::OnGameModeExit), ignored);
    }
    // Every unload tells the filterscripts, also when no gamemode script was loaded.
    if (FilterScripts* fs = env_.GetFilterScripts()) fs->OnGameModeExit();
    if (loaded_) {
        VmInstance* inst = inst_;
        env_.RemoveScriptTimers(inst);
        UnregisterLiveScript(inst);
        inst_ = nullptr;
        ref_ = ScriptRef{};
        publics_.Clear();
        ReleaseUnloadedScript(inst, env_, ScriptCleanupOrder::DatabaseFirst, DeleteInstance);
    }
    loaded_ = false;
    sleeping_ = false;
}

void VmGameMode::Process(float elapsedSeconds) {
    if (!loaded_ || !sleeping_) return;
    if (sleepRemaining_ > 0.0f) {
        sleepRemaining_ -= elapsedSeconds;
        return;
    }
    const ScriptRef ref = ref_;
    RestoreSleepState();
    cell ret = 0;
    const int err = ExecScript(inst_, &ret, VM_EXEC_CONTINUE);
    if (IsScriptAlive(ref)) AfterMainRun(err);
}

int32_t VmGameMode::CallPublic(const char* name) {
    if (!loaded_ || name == nullptr) return 0;
    int32_t result = 0;
    if (!RunScriptPublic(ref_, FindScriptPublic(inst_, name), result)) return 0;
    return result;
}

void VmGameMode::AfterMainRun(int err) {
    if (err == VM_ERR_SLEEP) {
        sleeping_ = true;
        // The sleep value is the machine's PRI at the sleep, whether a halt or a native slept.
        sleepRemaining_ = static_cast<float>(inst_->reg_pri) / 1000.0f;
        SaveSleepState();
        return;
    }
    sleeping_ = false;
    LogScriptError(inst_, err);
}

void VmGameMode::SaveSleepState() {
    saved_.cip = inst_->cip;
    saved_.frame = inst_->frame;
    saved_.pri = inst_->reg_pri;
    saved_.alt = inst_->reg_alt;
    saved_.stack = inst_->stack;
    saved_.heap = inst_->heap;
    saved_.resumeStack = inst_->resume_stack;
    saved_.resumeHeap = inst_->resume_heap;
}

void VmGameMode::RestoreSleepState() {
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

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)                          \
    VELT_IF_GAMEMODE_SIDE_##gmKind(int32_t VmGameMode::name params {                        \
        return std::apply([this](auto... a) { return Dispatch(ScriptCallback::name, a...); }, \
                          std::make_tuple args);                                              \
    })
VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

}  // namespace velt
