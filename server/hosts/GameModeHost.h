#pragma once

// The gamemode host: one gamemode script at a time, its start-up publics, its main function with
// sleep and resume, its exit, and the gamemode side of every callback.

#include <cstdint>
#include <tuple>
#include <type_traits>

#include "server/game/ScriptServices.h"
#include "server/hosts/ScriptHostEnv.h"
#include "server/runtime/CallbackDispatch.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/runtime/SleepingMain.h"
#include "server/vm/vm.h"

namespace velt {

class VmGameMode final : public GameMode {
public:
    explicit VmGameMode(ScriptHostEnv& env);
    ~VmGameMode() override;
    VmGameMode(const VmGameMode&) = delete;
    VmGameMode& operator=(const VmGameMode&) = delete;

    // Loads the script at `path` ("gamemodes/<name>.vmb"), binds its natives, runs OnGameModeInit
    // in it and then in the filterscripts, then its main. 1 when loaded (also when main failed),
    // 0 when the file is missing or does not load. A Load or Unload asked for while another one of
    // this host is under way (from inside the publics it runs) is refused.
    int Load(const char* path) override;
    // Runs OnGameModeExit in the script and then in the filterscripts, drops the script's timers
    // and releases it.
    void Unload();
    bool IsLoaded() const override { return loaded_; }
    void Process(float elapsedSeconds) override;
    int32_t CallPublic(const char* name) override;

    bool IsSleeping() const { return main_.IsSleeping(); }
    float SleepRemaining() const { return main_.Remaining(); }
    // The loaded script (plugins' data table), or null.
    VmInstance* Instance() const { return loaded_ ? inst_ : nullptr; }
    ScriptRef Ref() const { return ref_; }

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) \
    VELT_IF_GAMEMODE_SIDE_##gmKind(int32_t name params override;)
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

private:
    template <class... Args>
    int32_t Dispatch(ScriptCallback cb, Args... args);

    ScriptHostEnv& env_;
    VmInstance* inst_ = nullptr;  // one record per load, owned by this host
    ScriptRef ref_;
    ScriptPublicCache publics_;
    bool loaded_ = false;
    SleepingMain main_;
    bool busy_ = false;  // a Load or Unload is under way
};

namespace gamemode_detail {
inline int32_t FirstPlayerId() { return -1; }
template <class First, class... Rest>
int32_t FirstPlayerId(First first, Rest...) {
    if constexpr (std::is_same_v<First, int32_t>)
        return first;
    else
        return -1;
}
inline char* WritableText() { return nullptr; }
template <class First, class... Rest>
char* WritableText(First first, Rest... rest) {
    if constexpr (std::is_same_v<First, char*>)
        return first;
    else
        return WritableText(rest...);
}
}  // namespace gamemode_detail

template <class... Args>
int32_t VmGameMode::Dispatch(ScriptCallback cb, Args... args) {
    const ScriptCallbackInfo& info = GetScriptCallbackInfo(cb);
    // Only locals after the public has run: the script may have ended this gamemode meanwhile.
    ScriptHostEnv& env = env_;
    const ScriptRef ref = ref_;
    const bool loaded = loaded_ && IsScriptAlive(ref);
    const int32_t index = loaded ? publics_.Get(cb) : -1;
    const int32_t playerid = gamemode_detail::FirstPlayerId(args...);
    auto connected = [&env](int32_t id) { return env.IsPlayerConnected(id); };
    const int32_t result = DispatchGameModePublic(info, loaded, playerid, connected, [&](int32_t& r) {
        r = info.gmInitial;
        return RunScriptPublic(ref, index, r, args...);
    });
    if (info.gmKind == GmKind::Chat && result != 0 && playerid >= 0 && playerid < kMaxPlayerId) {
        char* text = gamemode_detail::WritableText(args...);
        if (text != nullptr && env.IsPlayerConnected(playerid))
            env.BroadcastChat(playerid, text, std::char_traits<char>::length(text));
    }
    return result;
}

}  // namespace velt
