#include "server/hosts/GameModeHost.h"

#include <cstdio>
#include <tuple>

#include "server/console/Log.h"
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

    main_.Reset();
    SetCurrentScriptPath(path);

    VmInstance* inst = new VmInstance{};
    if (int err = LoadScriptFromFile(inst, path)) {
        LogScriptError(inst, err);
        LogPrintf("Failed to load '%s' script.", path);
        delete inst;
        return 0;
    }
    BindScriptNatives(inst, env_, path);
    inst_ = inst;
    loaded_ = true;
    ref_ = RegisterLiveScript(inst, ScriptKind::GameMode, -1, path);
    publics_.Fill(inst);
    const ScriptRef ref = ref_;

    int32_t ignored = 0;
    RunScriptPublic(ref, publics_.Get(ScriptCallback::OnGameModeInit), ignored);
    if (FilterScripts* fs = env_.GetFilterScripts()) fs->OnGameModeInit();

    main_.Start(ref);
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
    main_.Stop();
}

void VmGameMode::Process(float elapsedSeconds) {
    if (loaded_) main_.Process(ref_, elapsedSeconds);
}

int32_t VmGameMode::CallPublic(const char* name) {
    if (!loaded_ || name == nullptr) return 0;
    int32_t result = 0;
    if (!RunScriptPublic(ref_, FindScriptPublic(inst_, name), result)) return 0;
    return result;
}

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)                            \
    VELT_IF_GAMEMODE_SIDE_##gmKind(int32_t VmGameMode::name params {                          \
        return std::apply([this](auto... a) { return Dispatch(ScriptCallback::name, a...); }, \
                          std::make_tuple args);                                              \
    })
VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

}  // namespace velt
