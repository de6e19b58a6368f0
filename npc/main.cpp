// velt-npc: the bot program the server starts for a script. It connects back to the server as a
// client, joins under its bot name, runs its npcmode script and ends when its connection ends.
// Every failure ends the process with status 1 (see npc/NpcExit.h).

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "npc/NpcCommandLine.h"
#include "npc/NpcLog.h"
#include "npc/net/netgame/NetGame.h"

namespace {

// How long a bot told to stop waits for the server to take its goodbye: without one, the server
// keeps the bot's slot until the connection times out.
constexpr uint32_t kGoodbyeMs = 500;

std::atomic<int> g_stopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void RequestStop(int) { g_stopRequested.store(1); }

void InstallStopHandler() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT}) sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velt;
    InstallStopHandler();
    NpcLog("----- NPC Starting -----");

    char line[kNpcCommandLineMax + 1];
    JoinNpcArguments(argc, argv, line, sizeof line);
    NpcCommandLine options;
    ParseNpcCommandLine(line, options);

    NetGame* game = new NetGame();
    game->Start(options.host, NpcPortFromText(options.port), options.name, options.password, options.mode);

    while (g_stopRequested.load() == 0) {
        game->Process();
        usleep(5000);
        if (game->State() == NpcConnectionState::InGame && !game->Client()->IsConnected()) break;
    }
    // Told to stop: the disconnection notice goes out (and is acknowledged, or the wait runs out)
    // before the game is torn down.
    if (g_stopRequested.load() != 0 && game->Client() != nullptr) game->Client()->Disconnect(kGoodbyeMs, 0);

    delete game;
    NpcLog("----- NPC: End -----");
    return 0;
}
