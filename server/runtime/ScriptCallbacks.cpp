#include "server/runtime/ScriptCallbacks.h"

namespace velt {

const ScriptCallbackInfo* FindScriptCallback(std::string_view name) {
    for (const ScriptCallbackInfo& info : kScriptCallbacks) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

}  // namespace velt
