#pragma once

// What the script hosts tell the plugins about scripts. The plugin manager implements it; until it
// exists the hosts use the do-nothing default.

#include <cstddef>

#include "server/vm/vm.h"

namespace velt {

class ScriptPluginHooks {
public:
    virtual ~ScriptPluginHooks() = default;
    // A script has been loaded and the server's natives are bound; plugins may register more.
    virtual void VmLoad(VmInstance* /*inst*/) {}
    // A script is about to be released. The instance is still intact (image, natives, memory), so
    // a plugin can look up what it attached to it; it is freed right after this returns.
    virtual void VmUnload(VmInstance* /*inst*/) {}
    // A word of the plugins' data table that only the script side can fill (the database handle
    // lookups). Given before any plugin loads, so a plugin may copy the word in its Load.
    virtual void ProvideDataWord(size_t /*word*/, void* /*value*/) {}
};

// The do-nothing hooks, shared.
inline ScriptPluginHooks& NoScriptPluginHooks() {
    static ScriptPluginHooks none;
    return none;
}

}  // namespace velt
