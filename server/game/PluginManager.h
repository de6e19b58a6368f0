#pragma once

// The plugins: shared libraries loaded at start from the "plugins" folder (PluginApi.h is what
// they are built against). The manager hands each one the data table, tells them of every script
// instance that is loaded or released, ticks them once per main-loop pass and unloads them, in
// load order, when it goes. A plugin that cannot be opened, does not follow the interface, needs a
// newer version or refuses its Load is closed again with a log line; the server runs on.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/game/PluginApi.h"
#include "server/hosts/PluginHooks.h"

namespace velt {

class Console;

class PluginManager final : public ScriptPluginHooks {
public:
    // Fills the data table and the machine's function table; no plugin is loaded yet.
    PluginManager();
    // UnloadAll.
    ~PluginManager() override;
    PluginManager(const PluginManager&) = delete;
    PluginManager& operator=(const PluginManager&) = delete;

    // Loads the blank-separated names of the console variable "plugins" from `directory`, with
    // the start-up log lines.
    void LoadFromConfig(const Console& console, const char* directory);
    // Every "*.so" file of the directory.
    void LoadFromDirectory(const char* directory);
    // True when the library at `path` was loaded and kept. After a false, dlerror() tells why the
    // library could not be opened (null for every other refusal, which is logged here).
    bool LoadPlugin(const char* path);

    // ScriptPluginHooks: VmLoad and VmUnload of each plugin that asked for script notices.
    void VmLoad(VmInstance* inst) override;
    void VmUnload(VmInstance* inst) override;
    void ProvideDataWord(size_t word, void* value) override;
    // ProcessTick of each plugin that asked for ticks.
    void ProcessTick();
    // Unload of each plugin in load order (when it has one), then its library is closed.
    void UnloadAll();

    size_t Count() const { return plugins_.size(); }
    void* const* DataTable() const { return data_.data(); }
    void* const* VmFunctionTable() const { return vm_.data(); }

private:
    struct Plugin {
        void* handle = nullptr;
        uint32_t flags = 0;
        plugin::UnloadFn unload = nullptr;
        plugin::ProcessTickFn processTick = nullptr;
        plugin::VmLoadFn vmLoad = nullptr;
        plugin::VmUnloadFn vmUnload = nullptr;
    };

    void LoadAndReport(const std::string& path, bool reportSuccess);

    // The data table comes first: its address is what every plugin's Load receives.
    std::array<void*, plugin::kDataTableWords> data_{};
    std::array<void*, plugin::kVmFunctionWords> vm_{};
    std::vector<Plugin> plugins_;
};

}  // namespace velt
