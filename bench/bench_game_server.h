#pragma once

// What the benchmarks that run the real game server in their own process share: a transport that
// hands out the simulated clients' packets from a queue the bench refills (without allocating per
// packet) and leaves counting what goes out to the bench, the game server started on it on the
// bench's clock, the thread's processor time, the --name=value arguments, and the scratch
// directory with the gamemode file the server wants to pick.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/ServerStartup.h"
#include "server/shared/SyncRecords.h"
#include "tests/server/FakeNetServer.h"

namespace velt::bench {

class QueueNet : public test::FakeNetServer {
public:
    Packet* Receive() override {
        if (incoming.empty()) return nullptr;
        Packet* p = incoming.front();
        incoming.pop_front();
        return p;
    }
    // The bench owns its packets and sends each again and again.
    void FreePacket(Packet*) override {}
    PlayerID GetPlayerIDFromIndex(int32_t index) const override {
        return index >= 0 && size_t(index) < addresses.size() ? addresses[index] : UNASSIGNED_PLAYER_ID;
    }

    // The record behind its message id in the bench's packet p, and p queued.
    template <class Record>
    void QueueRecord(Packet* p, uint8_t id, const Record& r) {
        p->data[0] = id;
        p->length = 1 + Record::kSize;
        Encode(r, p->data + 1);
        p->bitLength = p->length * 8u;
        incoming.push_back(p);
    }

    std::deque<Packet*> incoming;
    std::vector<PlayerID> addresses;
};

// A healthy player walking on foot at `at`: the on-foot record both crowd benches send.
inline OnFootSyncRecord WalkingRecord(const Vector3& at) {
    OnFootSyncRecord r;
    r.position = at;
    r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
    r.health = 100;
    r.velocity = {0.1f, 0.0f, 0.0f};
    return r;
}

// The game server makes its transport through plain functions: the one of kind Net it made last.
template <class Net>
struct NetMaker {
    static inline Net* made = nullptr;
    static NetServerInterface* Create() { return made = new Net(); }
    static void Destroy(NetServerInterface* net) { delete net; }
};

// The game server on a transport of kind Net (returned in `net`), room for every slot, its log
// lines nowhere (no file, no standard output), on the bench's clock, and without the coin of the
// relays: within the stream distance everyone is nearer than the thinning distance.
template <class Net>
std::unique_ptr<GameServer> StartBenchServer(Console& console, ServerSettings& settings,
                                             ScriptHostFactory& hosts, std::function<uint32_t()> clock,
                                             Net*& net) {
    RegisterServerVariables(console, settings, MakeServerVariableCallbacks(console, settings));
    console.SetStringVariable("gamemode0", "a");
    settings.maxPlayers = kMaxPlayers;
    LogAttachConsole(&console, false, false, "");
    // The game server announces its start on standard output; the table needs it alone.
    std::fflush(stdout);
    const int saved = dup(1);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    auto game = std::make_unique<GameServer>(
        console, settings, NetServerFactory{&NetMaker<Net>::Create, &NetMaker<Net>::Destroy}, hosts);
    std::fflush(stdout);
    if (saved >= 0) dup2(saved, 1);
    if (devnull >= 0) close(devnull);
    if (saved >= 0) close(saved);
    net = NetMaker<Net>::made;
    TheGameServer = game.get();
    game->SetClock(std::move(clock));
    game->Init(false);
    game->SetRelayRandom([] { return 0; });
    return game;
}

inline void StopBenchServer(std::unique_ptr<GameServer>& game, Console& console) {
    TheGameServer = nullptr;
    game.reset();
    LogDetachConsole(&console);
}

// The pass's own processor time: on a shared machine the wall clock also counts the time other
// programs had the processor.
inline double ThreadMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

inline double Arg(int argc, char** argv, const char* name, double fallback) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, n) == 0 && argv[i][n] == '=') return std::atof(argv[i] + n + 1);
    return fallback;
}

// Makes the directory from the mkdtemp template `dir` and works in it, with a gamemode file for
// the server to pick (the stand-in hosts never load it); false when it cannot be made.
inline bool EnterScratchDir(char* dir) {
    if (mkdtemp(dir) == nullptr) return false;
    std::filesystem::current_path(dir);
    std::filesystem::create_directories("gamemodes");
    std::ofstream("gamemodes/a.vmb") << "x";
    return true;
}

inline void LeaveScratchDir(const char* dir) {
    std::filesystem::current_path("/tmp");
    std::filesystem::remove_all(dir);
}

}  // namespace velt::bench
