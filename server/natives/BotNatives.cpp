#include "server/natives/BotNatives.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "server/console/Console.h"
#include "server/console/Log.h"
#include "server/game/NpcLauncher.h"
#include "server/natives/NativeIds.h"
#include "server/runtime/ScriptMemory.h"

namespace velt {

namespace {

const char* LaunchRefusal(NpcLaunchStatus status) {
    switch (status) {
        case NpcLaunchStatus::BadCharacter: return "a character a bot name or option cannot hold";
        case NpcLaunchStatus::TooLong: return "the bot's command line would be too long";
        default: return "bad parameters";
    }
}

// ConnectNPC(const name[], const script[]): 1 once the bot program runs; 0 when the texts are
// refused or the program cannot be started.
cell n_ConnectNPC(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    NpcLaunchRequest request;
    ReadScriptString(vm, params[1], request.name);
    ReadScriptString(vm, params[2], request.script);
    if (request.name.empty() || request.script.empty()) {
        LogPrintf("ConnectNPC: Bad parameters");
        return 0;
    }
    const Console& console = TheGameServer->GetConsole();
    const char* bind = console.GetStringVariable("bind");
    const char* password = console.GetStringVariable("password");
    request.bind = bind != nullptr ? bind : "";
    request.password = password != nullptr ? password : "";
    request.port = console.GetIntVariable("port");
    char directory[kNpcLaunchDirectoryMax + 1];
    if (getcwd(directory, sizeof directory) == nullptr) {
        LogPrintf("ConnectNPC: the working directory is not usable (%s)", std::strerror(errno));
        return 0;
    }
    request.directory = directory;

    NpcLaunch launch;
    const NpcLaunchStatus status = BuildNpcLaunch(request, launch);
    if (status != NpcLaunchStatus::Ok) {
        LogPrintf("ConnectNPC: Bad parameters (%s)", LaunchRefusal(status));
        return 0;
    }
    if (SpawnNpc(launch) < 0) {
        LogPrintf("ConnectNPC: cannot start %s", launch.program.c_str());
        return 0;
    }
    return 1;
}

// IsPlayerNPC(playerid)
cell n_IsPlayerNPC(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const PlayerPool* pool = TheGameServer->GetPlayerPool();
    const uint16_t id = NativeId(params[1]);
    return pool != nullptr && pool->IsConnected(id) && pool->IsBot(id) ? 1 : 0;
}

const VmNativeEntry kBotNatives[] = {
    {"ConnectNPC", n_ConnectNPC},
    {"IsPlayerNPC", n_IsPlayerNPC},
};

}  // namespace

ScriptNativeRows BotNatives() { return kBotNatives; }

}  // namespace velt
