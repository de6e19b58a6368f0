#pragma once

// What the script hosts tell the plugins about scripts. The plugin manager implements it; until it
// exists the hosts use the do-nothing default.

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
};

// The do-nothing hooks, shared.
inline ScriptPluginHooks& NoScriptPluginHooks() {
    static ScriptPluginHooks none;
    return none;
}

}  // namespace velt
