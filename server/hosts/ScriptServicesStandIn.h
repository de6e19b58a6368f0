#pragma once

// Script hosts without a virtual machine, for the core and its tests until the real hosts exist.
// A "script" here is a name with a set of publics, each returning a fixed result; the hosts apply
// the real dispatch rules (the shared helpers of ScriptCallbacks.h) and record every public that
// runs and every host operation.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "server/game/ScriptServices.h"
#include "server/runtime/ScriptTimers.h"

namespace velt {

using ScriptArg = std::variant<int32_t, float, std::string>;

enum class ScriptSide : uint8_t { FilterScript, GameMode };

struct ScriptCall {
    ScriptSide side = ScriptSide::GameMode;
    int slot = -1;  // filterscript slot; -1 on the gamemode side
    std::string name;
    std::vector<ScriptArg> args;
    int32_t result = 0;  // what the public returned; onRun may change it
};

// Behaviour and record shared by every stand-in host created for it.
struct StandInScripts {
    // Filterscript files that "exist": LoadFilterScript succeeds only for these names.
    std::set<std::string> filterScriptFiles;
    // Publics of each filterscript (by script name) and of the gamemode, with their results.
    std::map<std::string, std::map<std::string, int32_t>> filterScriptPublics;
    std::map<std::string, int32_t> gameModePublics;
    bool gameModeLoads = true;

    // Player test of gamemode dispatchers; when empty every id below 1000 counts as connected.
    std::function<bool(int32_t)> isPlayerConnected;
    // The gamemode's chat broadcast after a non-zero OnPlayerText.
    std::function<void(int32_t playerid, const char* text)> broadcastChat;
    // Runs as a public "executes": may change call.result, may shorten a writable text argument,
    // may call back into the core (nested dispatch).
    std::function<void(ScriptCall& call)> onRun;

    std::vector<ScriptCall> calls;    // every public that ran, in the order they started
    std::vector<std::string> events;  // host operations, e.g. "LoadFilterScript admin"

    // Names of the publics that ran, in order (handy for asserting stop rules).
    std::vector<std::string> RanNames() const;
    void Clear() {
        calls.clear();
        events.clear();
    }
};

namespace standin_detail {

inline ScriptArg ToArg(int32_t v) { return v; }
inline ScriptArg ToArg(float v) { return v; }
inline ScriptArg ToArg(const char* v) { return std::string(v != nullptr ? v : ""); }

inline void WriteBack(const ScriptArg&, int32_t, size_t) {}
inline void WriteBack(const ScriptArg&, float, size_t) {}
inline void WriteBack(const ScriptArg&, const char*, size_t) {}
// A script may shorten a writable text, never lengthen it: at most the original length is copied.
void WriteBack(const ScriptArg& arg, char* buffer, size_t originalLength);

template <class Tuple, size_t... I>
std::vector<ScriptArg> ToArgs(const Tuple& t, std::index_sequence<I...>) {
    return {ToArg(std::get<I>(t))...};
}

template <class Tuple, size_t... I>
void WriteBackAll(const std::vector<ScriptArg>& args, const Tuple& t,
                  const std::array<size_t, sizeof...(I)>& lengths, std::index_sequence<I...>) {
    (WriteBack(args[I], std::get<I>(t), lengths[I]), ...);
}

template <class T>
size_t TextLength(const T&) {
    return 0;
}
size_t TextLength(char* text);

template <class Tuple, size_t... I>
std::array<size_t, sizeof...(I)> TextLengths(const Tuple& t, std::index_sequence<I...>) {
    return {TextLength(std::get<I>(t))...};
}

template <class Tuple>
int32_t FirstIntArg(const Tuple& t) {
    if constexpr (std::tuple_size_v < Tuple >> 0) {
        using First = std::decay_t<std::tuple_element_t<0, Tuple>>;
        if constexpr (std::is_same_v<First, int32_t>) return std::get<0>(t);
    }
    return -1;
}

// Records and "runs" a public whose result is preset. Writable texts are read back afterwards.
template <class Tuple>
int32_t RunPublic(StandInScripts& scripts, ScriptSide side, int slot, const char* name, int32_t presetResult,
                  const Tuple& args) {
    constexpr size_t kCount = std::tuple_size_v<Tuple>;
    auto seq = std::make_index_sequence<kCount>{};
    std::array<size_t, kCount> lengths = TextLengths(args, seq);
    ScriptCall call{side, slot, name, ToArgs(args, seq), presetResult};
    size_t index = scripts.calls.size();
    scripts.calls.push_back(call);
    if (scripts.onRun) scripts.onRun(call);
    scripts.calls[index].result = call.result;
    WriteBackAll(call.args, args, lengths, seq);
    return call.result;
}

}  // namespace standin_detail

template <class Tuple>
constexpr bool IsChatArgs() {
    if constexpr (std::tuple_size_v<Tuple> == 2)
        return std::is_same_v<std::decay_t<std::tuple_element_t<1, Tuple>>, char*>;
    return false;
}

class StandInFilterScripts : public FilterScripts {
public:
    explicit StandInFilterScripts(StandInScripts& scripts) : scripts_(scripts) {}
    ~StandInFilterScripts() override;

    bool LoadFilterScript(const char* name) override;
    int UnloadFilterScript(const char* name) override;
    int LoadFilterScriptFromMemory(const char* name, const void* image) override;
    int32_t CallPublic(const char* name) override;

    // Puts a script into a slot directly (no file check, no init), for tests that need gaps.
    void Occupy(int slot, const std::string& name);
    const std::string& SlotName(int slot) const { return names_[slot]; }
    bool SlotUsed(int slot) const { return used_[slot]; }
    int Count() const { return count_; }

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) int32_t name params override;
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

private:
    bool Load(const char* name, bool needFile);
    // Runs the public in one slot; false when the slot is free or its script lacks the public.
    template <class Tuple>
    bool RunInSlot(int slot, const char* publicName, const Tuple& args, int32_t& result) {
        if (!used_[slot]) return false;
        auto script = scripts_.filterScriptPublics.find(names_[slot]);
        if (script == scripts_.filterScriptPublics.end()) return false;
        auto pub = script->second.find(publicName);
        if (pub == script->second.end()) return false;
        result = standin_detail::RunPublic(scripts_, ScriptSide::FilterScript, slot, publicName, pub->second,
                                           args);
        return true;
    }
    template <class Tuple>
    int32_t Dispatch(ScriptCallback cb, const Tuple& args) {
        const ScriptCallbackInfo& info = GetScriptCallbackInfo(cb);
        return DispatchFilterScriptSlots(info.fsRule, info.fsInitial, [&](int slot, int32_t& r) {
            return RunInSlot(slot, info.name, args, r);
        });
    }

    StandInScripts& scripts_;
    std::array<bool, kMaxFilterScripts> used_{};
    std::array<std::string, kMaxFilterScripts> names_{};
    int count_ = 0;
};

class StandInGameMode : public GameMode {
public:
    explicit StandInGameMode(StandInScripts& scripts) : scripts_(scripts) {}
    ~StandInGameMode() override;

    int Load(const char* path) override;
    bool IsLoaded() const override { return loaded_; }
    void Process(float elapsedSeconds) override;
    int32_t CallPublic(const char* name) override;

    void SetLoaded(bool loaded) { loaded_ = loaded; }

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) \
    VELT_IF_GAMEMODE_SIDE_##gmKind(int32_t name params override;)
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

private:
    bool PlayerConnected(int32_t playerid) const;
    template <class Tuple>
    int32_t Dispatch(ScriptCallback cb, const Tuple& args) {
        const ScriptCallbackInfo& info = GetScriptCallbackInfo(cb);
        int32_t playerid = standin_detail::FirstIntArg(args);
        int32_t result = DispatchGameModePublic(
            info, loaded_, playerid, [&](int32_t id) { return PlayerConnected(id); },
            [&](int32_t& r) {
                auto pub = scripts_.gameModePublics.find(info.name);
                if (pub == scripts_.gameModePublics.end()) return false;
                r = standin_detail::RunPublic(scripts_, ScriptSide::GameMode, -1, info.name, pub->second,
                                              args);
                return true;
            });
        if constexpr (IsChatArgs<Tuple>()) {
            if (info.gmKind == GmKind::Chat && result != 0 && playerid >= 0 && playerid < kMaxPlayerId &&
                PlayerConnected(playerid) && scripts_.broadcastChat)
                scripts_.broadcastChat(playerid, std::get<1>(args));
        }
        return result;
    }

    StandInScripts& scripts_;
    bool loaded_ = false;
};

class StandInScriptTimers : public ScriptTimers {
public:
    explicit StandInScriptTimers(StandInScripts& scripts) : scripts_(scripts) {}
    void Process(uint32_t elapsedMs) override;

private:
    StandInScripts& scripts_;
};

class StandInHttpRequestPool : public HttpRequestPool {
public:
    explicit StandInHttpRequestPool(StandInScripts& scripts) : scripts_(scripts) {}
    void Process() override;

private:
    StandInScripts& scripts_;
};

class StandInScriptHostFactory : public ScriptHostFactory {
public:
    explicit StandInScriptHostFactory(StandInScripts& scripts) : scripts_(scripts) {}
    std::unique_ptr<GameMode> CreateGameMode() override;
    std::unique_ptr<FilterScripts> CreateFilterScripts() override;
    std::unique_ptr<ScriptTimers> CreateScriptTimers() override;
    std::unique_ptr<HttpRequestPool> CreateHttpRequestPool() override;

private:
    StandInScripts& scripts_;
};

}  // namespace velt
