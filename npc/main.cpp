// velt-npc: the bot program the server starts for a script. It connects back to the server as a
// client, joins under its bot name, runs its npcmode script and ends when its connection ends.
// Every failure ends the process with status 1 (see npc/NpcExit.h).

#include <unistd.h>

#include "npc/NpcCommandLine.h"
#include "npc/NpcLog.h"
#include "npc/net/netgame/NetGame.h"

int main(int argc, char** argv) {
    using namespace velt;
    NpcLog("----- NPC Starting -----");

    char line[kNpcCommandLineMax + 1];
    JoinNpcArguments(argc, argv, line, sizeof line);
    NpcCommandLine options;
    ParseNpcCommandLine(line, options);

    NetGame* game = new NetGame();
    game->Start(options.host, NpcPortFromText(options.port), options.name, options.password, options.mode);

    for (;;) {
        game->Process();
        usleep(5000);
        if (game->State() == NpcConnectionState::InGame && !game->Client()->IsConnected()) break;
    }

    delete game;
    NpcLog("----- NPC: End -----");
    return 0;
}
