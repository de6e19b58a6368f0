#pragma once

// Starts a bot program (velt-npc from the working directory) that connects back to this server.
// The bot gets its options as an argument vector, never through a shell: a script hands in texts
// that may come from players, and no character of them may become a command.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace velt {

// The limits of the texts a bot start carries, as the bot's command line was always bounded.
inline constexpr size_t kNpcLaunchHostMax = 255;
inline constexpr size_t kNpcLaunchArgumentsMax = 511;
inline constexpr size_t kNpcLaunchDirectoryMax = 260;
inline constexpr size_t kNpcLaunchCommandMax = 527;

struct NpcLaunchRequest {
    std::string name;
    std::string script;
    std::string bind;  // the "bind" variable; empty means loopback
    int port = 0;
    std::string password;   // empty: none
    std::string directory;  // where velt-npc lives (the working directory)
};

enum class NpcLaunchStatus {
    Ok,
    Empty,         // name or script empty
    BadCharacter,  // a control character anywhere, or a name no player could join with
    TooLong,       // beyond one of the limits above
};

struct NpcLaunch {
    std::string program;            // directory + "/velt-npc"
    std::vector<std::string> argv;  // argv[0] is "velt-npc"
};

// Checks the request and builds the program path and arguments; `out` is only filled on Ok.
NpcLaunchStatus BuildNpcLaunch(const NpcLaunchRequest& request, NpcLaunch& out);

// Starts the program in the background with this process's environment and standard streams, and
// nothing else of its open files. A thread of its own waits for it to end, so no finished bot is
// left behind as a zombie. The child's id, or -1 when it could not be started.
pid_t SpawnNpc(const NpcLaunch& launch);

}  // namespace velt
