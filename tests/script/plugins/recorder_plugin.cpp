// A test plugin built against the plugin interface alone: it asks for script notices and ticks,
// registers the native PluginTwice(value) in every script, and records what the server called, in
// order, for the test to read back through RecorderEvents().

#include <string>

#include "server/game/PluginApi.h"

namespace {

namespace plugin = velt::plugin;

std::string g_events;
void** g_data = nullptr;
void** g_vm = nullptr;

void Note(const std::string& event) {
    if (!g_events.empty()) g_events += ",";
    g_events += event;
}

velt::cell PluginTwice(velt::VmInstance*, const velt::cell* params) {
    if (params[0] < 4) return 0;
    Note("native " + std::to_string(params[1]));
    return params[1] * 2;
}

const velt::VmNativeEntry kNatives[] = {{"PluginTwice", PluginTwice}, {nullptr, nullptr}};

}  // namespace

VELT_PLUGIN_EXPORT uint32_t Supports() {
    return plugin::kVersion | plugin::kScriptNotices | plugin::kProcessTick;
}

VELT_PLUGIN_EXPORT bool Load(void** data) {
    g_events.clear();
    g_data = data;
    g_vm = static_cast<void**>(data[plugin::kDataVmFunctions]);
    Note("Load");
    plugin::Word<plugin::LogPrintfFn>(data, plugin::kDataLogPrintf)("[recorder] loaded");
    return true;
}

VELT_PLUGIN_EXPORT void Unload() {
    Note("Unload");
    g_data = nullptr;
    g_vm = nullptr;
}

VELT_PLUGIN_EXPORT int VmLoad(velt::VmInstance* inst) {
    Note("VmLoad");
    plugin::Word<decltype(&velt::vm_Register)>(g_vm, plugin::kVmRegister)(inst, kNatives, -1);
    return 0;
}

VELT_PLUGIN_EXPORT int VmUnload(velt::VmInstance*) {
    Note("VmUnload");
    return 0;
}

VELT_PLUGIN_EXPORT void ProcessTick() { Note("ProcessTick"); }

VELT_PLUGIN_EXPORT const char* RecorderEvents() { return g_events.c_str(); }
