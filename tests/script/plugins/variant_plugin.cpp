// One more test plugin, built several ways to provoke each rule of loading (the build names the
// variant):
//   VARIANT_TICKS    interface 0x220 with ticks only: it exports VmLoad and VmUnload, which must
//                    never be called, and has no Unload
//   VARIANT_NEWER    needs interface 0x221
//   VARIANT_REFUSES  its Load returns false
//   VARIANT_NOLOAD   exports no Load at all
// Every call it receives is recorded for VariantEvents().

#include <string>

#include "server/game/PluginApi.h"

namespace {

std::string g_events;

void Note(const char* event) {
    if (!g_events.empty()) g_events += ",";
    g_events += event;
}

}  // namespace

VELT_PLUGIN_EXPORT uint32_t Supports() {
#if defined(VARIANT_NEWER)
    return 0x221 | velt::plugin::kScriptNotices;
#elif defined(VARIANT_TICKS)
    return 0x220 | velt::plugin::kProcessTick;
#else
    return velt::plugin::kVersion | velt::plugin::kScriptNotices | velt::plugin::kProcessTick;
#endif
}

#if !defined(VARIANT_NOLOAD)
VELT_PLUGIN_EXPORT bool Load(void**) {
    Note("Load");
#if defined(VARIANT_REFUSES)
    return false;
#else
    return true;
#endif
}
#endif

VELT_PLUGIN_EXPORT int VmLoad(velt::VmInstance*) {
    Note("VmLoad");
    return 0;
}

VELT_PLUGIN_EXPORT int VmUnload(velt::VmInstance*) {
    Note("VmUnload");
    return 0;
}

VELT_PLUGIN_EXPORT void ProcessTick() { Note("ProcessTick"); }

VELT_PLUGIN_EXPORT const char* VariantEvents() { return g_events.c_str(); }
