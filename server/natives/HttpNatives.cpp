// HTTP(index, type, const url[], const data[], const callback[]): queues a script's request in the
// game server's request table (ScriptHttpRequests.h). 1 when queued, else 0.

#include <string>

#include "server/game/GameServer.h"
#include "server/natives/ScriptHttpRequests.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

cell n_HTTP(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 5)) return 0;
    auto* requests = dynamic_cast<ScriptHttpRequests*>(TheGameServer->GetHttpRequestPool());
    if (requests == nullptr) return 0;
    std::string url;
    std::string data;
    std::string callback;
    ReadScriptString(vm, params[3], url);
    ReadScriptString(vm, params[4], data);
    ReadScriptString(vm, params[5], callback);
    return requests->AddRequest(params[1], params[2], url.c_str(), data.c_str(), vm, callback.c_str());
}

const VmNativeEntry kHttpNatives[] = {
    {"HTTP", n_HTTP},
};

}  // namespace

ScriptNativeRows HttpNatives() { return kHttpNatives; }

}  // namespace velt
