#include "server/hosts/ScriptServicesStandIn.h"

#include <cstdio>
#include <cstring>

namespace velt {

std::vector<std::string> StandInScripts::RanNames() const {
    std::vector<std::string> names;
    names.reserve(calls.size());
    for (const ScriptCall& c : calls) names.push_back(c.name);
    return names;
}

namespace standin_detail {

void WriteBack(const ScriptArg& arg, char* buffer, size_t originalLength) {
    if (buffer == nullptr) return;
    const std::string* text = std::get_if<std::string>(&arg);
    if (text == nullptr) return;
    size_t n = text->size() < originalLength ? text->size() : originalLength;
    std::memcpy(buffer, text->data(), n);
    buffer[n] = '\0';
}

size_t TextLength(char* text) { return text != nullptr ? std::strlen(text) : 0; }

}  // namespace standin_detail

// ---------------------------------------------------------------------------------------------

StandInFilterScripts::~StandInFilterScripts() {
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        if (used_[slot]) UnloadFilterScript(names_[slot].c_str());
    }
}

void StandInFilterScripts::Occupy(int slot, const std::string& name) {
    if (slot < 0 || slot >= kMaxFilterScripts || used_[slot]) return;
    used_[slot] = true;
    names_[slot] = name;
    ++count_;
}

bool StandInFilterScripts::Load(const char* name, bool needFile) {
    if (name == nullptr || count_ >= kMaxFilterScripts) return false;
    if (needFile && scripts_.filterScriptFiles.count(name) == 0) return false;
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        if (used_[slot] && names_[slot] == name) return false;
    }
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        if (used_[slot]) continue;
        Occupy(slot, name);
        int32_t ignored = 0;
        RunInSlot(slot, "OnFilterScriptInit", std::tuple<>{}, ignored);
        return true;
    }
    return false;
}

bool StandInFilterScripts::LoadFilterScript(const char* name) {
    scripts_.events.push_back(std::string("LoadFilterScript ") + (name ? name : "(null)"));
    return Load(name, true);
}

int StandInFilterScripts::LoadFilterScriptFromMemory(const char* name, const void* image) {
    scripts_.events.push_back(std::string("LoadFilterScriptFromMemory ") + (name ? name : "(null)"));
    if (image == nullptr) return 0;
    return Load(name, false) ? 1 : 0;
}

int StandInFilterScripts::UnloadFilterScript(const char* name) {
    scripts_.events.push_back(std::string("UnloadFilterScript ") + (name ? name : "(null)"));
    if (name == nullptr) return 0;
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        if (!used_[slot] || names_[slot] != name) continue;
        int32_t ignored = 0;
        RunInSlot(slot, "OnFilterScriptExit", std::tuple<>{}, ignored);
        // The exit public may have unloaded its own script through a console line.
        if (used_[slot] && names_[slot] == name) {
            used_[slot] = false;
            names_[slot].clear();
            --count_;
        }
        return 1;
    }
    return 0;
}

int32_t StandInFilterScripts::CallPublic(const char* name) {
    if (name == nullptr) return 0;
    return DispatchFilterScriptSlots(FsRule::StopAtZero, 0, [&](int slot, int32_t& r) {
        return RunInSlot(slot, name, std::tuple<>{}, r);
    });
}

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)         \
    int32_t StandInFilterScripts::name params {                            \
        return Dispatch(ScriptCallback::name, std::forward_as_tuple args); \
    }
VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

// ---------------------------------------------------------------------------------------------

StandInGameMode::~StandInGameMode() { scripts_.events.push_back("GameMode::~GameMode"); }

int StandInGameMode::Load(const char* path) {
    scripts_.events.push_back(std::string("GameMode::Load ") + (path ? path : "(null)"));
    loaded_ = scripts_.gameModeLoads;
    return loaded_ ? 1 : 0;
}

void StandInGameMode::Process(float elapsedSeconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "GameMode::Process %g", static_cast<double>(elapsedSeconds));
    scripts_.events.push_back(buf);
}

int32_t StandInGameMode::CallPublic(const char* name) {
    if (!loaded_ || name == nullptr) return 0;
    auto pub = scripts_.gameModePublics.find(name);
    if (pub == scripts_.gameModePublics.end()) return 0;
    return standin_detail::RunPublic(scripts_, ScriptSide::GameMode, -1, name, pub->second, std::tuple<>{});
}

bool StandInGameMode::PlayerConnected(int32_t playerid) const {
    if (scripts_.isPlayerConnected) return scripts_.isPlayerConnected(playerid);
    return playerid >= 0 && playerid < kMaxPlayerId;
}

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)         \
    VELT_IF_GAMEMODE_SIDE_##gmKind(int32_t StandInGameMode::name params {  \
        return Dispatch(ScriptCallback::name, std::forward_as_tuple args); \
    })
VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

// ---------------------------------------------------------------------------------------------

void StandInScriptTimers::Process(uint32_t elapsedMs) {
    scripts_.events.push_back("ScriptTimers::Process " + std::to_string(elapsedMs));
}

void StandInHttpRequestPool::Process() { scripts_.events.push_back("HttpRequestPool::Process"); }

std::unique_ptr<GameMode> StandInScriptHostFactory::CreateGameMode() {
    return std::make_unique<StandInGameMode>(scripts_);
}
std::unique_ptr<FilterScripts> StandInScriptHostFactory::CreateFilterScripts() {
    return std::make_unique<StandInFilterScripts>(scripts_);
}
std::unique_ptr<ScriptTimers> StandInScriptHostFactory::CreateScriptTimers() {
    return std::make_unique<StandInScriptTimers>(scripts_);
}
std::unique_ptr<HttpRequestPool> StandInScriptHostFactory::CreateHttpRequestPool() {
    return std::make_unique<StandInHttpRequestPool>(scripts_);
}

}  // namespace velt
