#include "server/game/PluginManager.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstring>

#include "server/console/Console.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/ScriptServices.h"

namespace velt {

namespace {

template <class Fn>
void* Address(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

int CallFilterScriptPublic(const char* name) {
    GameServer* game = TheGameServer;
    FilterScripts* fs = game != nullptr ? game->GetFilterScripts() : nullptr;
    return fs != nullptr && name != nullptr ? fs->CallPublic(name) : 0;
}

int CallGameModePublic(const char* name) {
    GameServer* game = TheGameServer;
    GameMode* gm = game != nullptr ? game->GetGameMode() : nullptr;
    return gm != nullptr && name != nullptr ? gm->CallPublic(name) : 0;
}

void* GetGameServer() { return TheGameServer; }

void* GetNetServer() {
    GameServer* game = TheGameServer;
    return game != nullptr ? game->GetNetServer() : nullptr;
}

int LoadFilterScriptImage(const char* name, const void* image) {
    GameServer* game = TheGameServer;
    FilterScripts* fs = game != nullptr ? game->GetFilterScripts() : nullptr;
    return fs != nullptr ? fs->LoadFilterScriptFromMemory(name, image) : 0;
}

void* GetConsole() { return ServerConsole; }

int UnloadFilterScript(const char* name) {
    GameServer* game = TheGameServer;
    FilterScripts* fs = game != nullptr ? game->GetFilterScripts() : nullptr;
    return fs != nullptr ? fs->UnloadFilterScript(name) : 0;
}

template <class Fn>
Fn Symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

bool EndsWithSo(const char* name) {
    const size_t n = std::strlen(name);
    return n > 3 && std::strcmp(name + n - 3, ".so") == 0;
}

std::string WithSlash(const char* directory) {
    std::string dir = directory != nullptr ? directory : "";
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

void PluginManager::ProvideDataWord(size_t word, void* value) {
    if (word < data_.size()) data_[word] = value;
}

PluginManager::PluginManager() {
    using namespace plugin;
    data_[kDataLogPrintf] = Address(&LogPrintf);
    data_[kDataVmFunctions] = vm_.data();
    data_[kDataCallFilterScriptPublic] = Address(&CallFilterScriptPublic);
    data_[kDataCallGameModePublic] = Address(&CallGameModePublic);
    data_[kDataGetGameServer] = Address(&GetGameServer);
    data_[kDataGetNetServer] = Address(&GetNetServer);
    data_[kDataLoadFilterScriptImage] = Address(&LoadFilterScriptImage);
    data_[kDataGetConsole] = Address(&GetConsole);
    data_[kDataUnloadFilterScript] = Address(&UnloadFilterScript);

    vm_[kVmAllot] = Address(&vm_Allot);
    vm_[kVmCallback] = Address(&vm_Callback);
    vm_[kVmTeardown] = Address(&vm_Teardown);
    vm_[kVmClone] = Address(&vm_Clone);
    vm_[kVmExec] = Address(&vm_Exec);
    vm_[kVmLookupNative] = Address(&vm_LookupNative);
    vm_[kVmLookupPublic] = Address(&vm_LookupPublic);
    vm_[kVmLookupPubVar] = Address(&vm_LookupPubVar);
    vm_[kVmFindTagId] = Address(&vm_FindTagId);
    vm_[kVmHeaderFlags] = Address(&vm_HeaderFlags);
    vm_[kVmGetAddr] = Address(&vm_GetAddr);
    vm_[kVmGetNative] = Address(&vm_GetNative);
    vm_[kVmGetPublic] = Address(&vm_GetPublic);
    vm_[kVmGetPubVar] = Address(&vm_GetPubVar);
    vm_[kVmReadString] = Address(&vm_ReadString);
    vm_[kVmGetTag] = Address(&vm_GetTag);
    vm_[kVmGetUserData] = Address(&vm_GetUserData);
    vm_[kVmInit] = Address(&vm_Init);
    vm_[kVmJitSetup] = Address(&vm_JitSetup);
    vm_[kVmMemorySizes] = Address(&vm_MemorySizes);
    vm_[kVmNameLength] = Address(&vm_NameLength);
    vm_[kVmMakeNativeEntry] = Address(&vm_MakeNativeEntry);
    vm_[kVmNumNatives] = Address(&vm_NumNatives);
    vm_[kVmCountPublics] = Address(&vm_CountPublics);
    vm_[kVmNumPubVars] = Address(&vm_NumPubVars);
    vm_[kVmNumTags] = Address(&vm_NumTags);
    vm_[kVmPushCell] = Address(&vm_PushCell);
    vm_[kVmPushArray] = Address(&vm_PushArray);
    vm_[kVmPushString] = Address(&vm_PushString);
    vm_[kVmRaiseError] = Address(&vm_RaiseError);
    vm_[kVmRegister] = Address(&vm_Register);
    vm_[kVmUnallot] = Address(&vm_Unallot);
    vm_[kVmSetCallback] = Address(&vm_SetCallback);
    vm_[kVmSetDebugHook] = Address(&vm_SetDebugHook);
    vm_[kVmSetString] = Address(&vm_SetString);
    vm_[kVmSetUserData] = Address(&vm_SetUserData);
    vm_[kVmStrLen] = Address(&vm_StrLen);
}

PluginManager::~PluginManager() { UnloadAll(); }

void PluginManager::LoadAndReport(const std::string& path, bool reportSuccess) {
    if (LoadPlugin(path.c_str())) {
        if (reportSuccess) LogPrintf("  Loaded.");
        return;
    }
    if (const char* why = dlerror())
        LogPrintf("  Failed (%s)", why);
    else
        LogPrintf("  Failed.");
}

void PluginManager::LoadFromConfig(const Console& console, const char* directory) {
    const std::string dir = WithSlash(directory);
    LogPrintf("%s", "");
    LogPrintf("Server Plugins");
    LogPrintf("--------------");
    const char* list = console.GetStringVariable("plugins");
    const std::string names = list != nullptr ? list : "";
    size_t pos = 0;
    while (pos < names.size()) {
        size_t end = names.find(' ', pos);
        if (end == std::string::npos) end = names.size();
        const std::string name = names.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;
        LogPrintf(" Loading plugin: %s", name.c_str());
        LoadAndReport(dir + name, true);
    }
    LogPrintf(" Loaded %d plugins.\n", int(plugins_.size()));
}

void PluginManager::LoadFromDirectory(const char* directory) {
    DIR* d = opendir(directory != nullptr ? directory : "");
    if (d == nullptr) return;
    const std::string dir = WithSlash(directory);
    LogPrintf("%s", "");
    LogPrintf("Server Plugins");
    LogPrintf("--------------");
    // Names first: a plugin's Load may touch the directory while it is being read.
    std::vector<std::string> names;
    while (const dirent* entry = readdir(d)) {
        if (EndsWithSo(entry->d_name)) names.emplace_back(entry->d_name);
    }
    closedir(d);
    for (const std::string& name : names) {
        LogPrintf(" Loading plugin: %s", name.c_str());
        LoadAndReport(dir + name, false);
    }
    LogPrintf("%s", "");
}

bool PluginManager::LoadPlugin(const char* path) {
    dlerror();
    void* handle = dlopen(path != nullptr ? path : "", RTLD_LAZY);
    if (handle == nullptr) return false;

    Plugin p;
    p.handle = handle;
    auto load = Symbol<plugin::LoadFn>(handle, plugin::kLoadName);
    p.unload = Symbol<plugin::UnloadFn>(handle, plugin::kUnloadName);
    auto supports = Symbol<plugin::SupportsFn>(handle, plugin::kSupportsName);
    auto refuse = [&] {
        dlclose(handle);
        // What the lookups of missing names left behind is no reason the caller should print.
        dlerror();
        return false;
    };
    if (load == nullptr || supports == nullptr) {
        LogPrintf("  Plugin does not conform to architecture.");
        return refuse();
    }
    p.flags = supports();
    if ((p.flags & plugin::kVersionMask) > plugin::kVersion) {
        LogPrintf("  Unsupported version - This plugin requires version %x.", p.flags & plugin::kVersionMask);
        return refuse();
    }
    if (p.flags & plugin::kScriptNotices) {
        p.vmLoad = Symbol<plugin::VmLoadFn>(handle, plugin::kVmLoadName);
        p.vmUnload = Symbol<plugin::VmUnloadFn>(handle, plugin::kVmUnloadName);
    }
    if (p.flags & plugin::kProcessTick)
        p.processTick = Symbol<plugin::ProcessTickFn>(handle, plugin::kProcessTickName);
    dlerror();
    if (!load(data_.data())) return refuse();
    plugins_.push_back(p);
    return true;
}

void PluginManager::VmLoad(VmInstance* inst) {
    for (const Plugin& p : plugins_)
        if ((p.flags & plugin::kScriptNotices) && p.vmLoad != nullptr) p.vmLoad(inst);
}

void PluginManager::VmUnload(VmInstance* inst) {
    for (const Plugin& p : plugins_)
        if ((p.flags & plugin::kScriptNotices) && p.vmUnload != nullptr) p.vmUnload(inst);
}

void PluginManager::ProcessTick() {
    for (const Plugin& p : plugins_)
        if ((p.flags & plugin::kProcessTick) && p.processTick != nullptr) p.processTick();
}

void PluginManager::UnloadAll() {
    // Taken out first: an Unload that reaches back into the server finds no plugin half gone.
    std::vector<Plugin> plugins = std::move(plugins_);
    plugins_.clear();
    for (const Plugin& p : plugins) {
        if (p.unload != nullptr) p.unload();
        dlclose(p.handle);
    }
}

}  // namespace velt
