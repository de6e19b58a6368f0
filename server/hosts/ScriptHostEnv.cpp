#include "server/hosts/ScriptHostEnv.h"

#include "server/natives/ScriptNatives.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/vm/ScriptLoader.h"
#include "server/vm/vmlib.h"

namespace velt {

void BindScriptNatives(VmInstance* inst, ScriptHostEnv& env, const char* file) {
    vm_AttachCoreLib(inst);
    vm_AttachFloatLib(inst);
    vm_AttachStringLib(inst);
    vm_AttachFileLib(inst);
    vm_AttachTimeLib(inst);
    RegisterScriptNatives(inst);
    env.RegisterDatabaseNatives(inst);
    env.Plugins().VmLoad(inst);
    LogUnregisteredNatives(inst, file);
}

void ReleaseUnloadedScript(VmInstance* inst, ScriptHostEnv& env, ScriptCleanupOrder order,
                           void (*deleteInstance)(VmInstance*)) {
    ScriptHostEnv* e = &env;
    ReleaseScriptWhenIdle(inst, [inst, e, order, deleteInstance] {
        // Plugins hear of the unload while the script is still whole: a zeroed record would tell
        // them nothing about which of their per-script data to drop.
        e->Plugins().VmUnload(inst);
        FreeScript(inst);
        if (order == ScriptCleanupOrder::DatabaseFirst) e->DatabaseNativesCleanup(inst);
        vm_DetachTimeLib(inst);
        vm_DetachFileLib(inst);
        vm_DetachStringLib(inst);
        vm_DetachFloatLib(inst);
        vm_DetachCoreLib(inst);
        if (order == ScriptCleanupOrder::DatabaseLast) e->DatabaseNativesCleanup(inst);
        if (deleteInstance != nullptr) deleteInstance(inst);
    });
}

}  // namespace velt
