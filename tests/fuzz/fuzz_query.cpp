// What strangers send to the query port, answered in process as the main thread answers it: one
// long-lived game server on the fake transport with a few players, each input one datagram
// (header included) or, with the first byte odd, one line of a custom-model configuration. The
// remote-console password is "fuzz", so the fuzzer can reach console commands too.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/game/ArtworkList.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "server/protocol/QueryResponder.h"
#include "tests/server/dispatch_fake_net.h"

namespace {

using namespace velt;

struct World {
    ServerSettings settings;
    std::unique_ptr<Console> console;
    StandInScripts scripts;
    std::unique_ptr<StandInScriptHostFactory> hosts;
    std::unique_ptr<GameServer> game;
    std::unique_ptr<ArtworkList> artwork;
    uint32_t now = 1000;

    World() {
        static char pattern[] = "/tmp/velt_fuzz_query_XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        std::filesystem::current_path(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::current_path("/tmp", ignored);
            std::filesystem::remove_all(pattern, ignored);
        });
        std::filesystem::create_directories("gamemodes");
        std::filesystem::create_directories("models");
        std::ofstream("gamemodes/a.vmb") << "x";
        std::ofstream("models/a.dff") << "model";
        std::ofstream("models/a.txd") << "texture";

        console = std::make_unique<Console>();
        RegisterServerVariables(*console, settings, MakeServerVariableCallbacks(*console, settings));
        console->SetStringVariable("gamemode0", "a");
        console->SetStringVariable("rcon_password", "fuzz");
        settings.logQueries = 1;
        hosts = std::make_unique<StandInScriptHostFactory>(scripts);
        game = std::make_unique<GameServer>(*console, settings, test::ProtocolFakeNet::Factory(), *hosts);
        auto* net = static_cast<test::ProtocolFakeNet*>(test::FakeNetServer::last);
        TheGameServer = game.get();
        game->SetClock([this] { return now; });
        artwork = std::make_unique<ArtworkList>("models");
        game->SetArtworkList(artwork.get());
        game->Init(true);
        for (uint16_t slot = 0; slot < 3; ++slot) {
            net->AddSlot(slot, test::FakeNetServer::AddressOf(slot));
            std::string name = "Player" + std::to_string(slot);
            game->GetPlayerPool()->Connect(slot, name.c_str(), nullptr, nullptr, slot == 2);
        }
        game->GetQueryResponder()->SetReplySink([](const QueuedQuery&, const uint8_t* data, size_t length) {
            // Touch every byte of the reply, so a read past a buffer shows.
            volatile uint8_t sum = 0;
            for (size_t i = 0; i < length; ++i) sum = uint8_t(sum + data[i]);
        });
    }
};

World& TheWorld() {
    static World* world = new World();
    return *world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    World& w = TheWorld();
    w.now += 13;
    ExitRequested.store(0);
    GameModeChangePending.store(0);
    if (data[0] & 1) {
        // Keep the list small: a configuration line may add a model.
        if (w.artwork->Size() > 64)
            for (size_t i = 0; i < w.artwork->Size(); ++i) w.artwork->RemoveModel(int32_t(i));
        std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
        w.artwork->ParseLine(line.c_str());
        return 0;
    }
    QueuedQuery q;
    q.binaryAddress = 0x0100007F;
    q.port = 5000;
    q.length = uint16_t(size - 1 < kQueryDatagramCapacity ? size - 1 : kQueryDatagramCapacity);
    std::memcpy(q.data, data + 1, q.length);
    // What the network thread lets through: the magic, then at least the header.
    if (q.length >= kQueryHeaderSize) std::memcpy(q.data, "VELT", 4);
    w.game->GetQueryResponder()->Answer(q);
    return 0;
}
