// The game server's RPC handlers and packet readers fed fuzz-chosen calls, in process, through the
// recording fake transport: one long-lived server with a few joined players, each input one call
// (or one packet) from one slot, now and then an intermission. Players the input kicks are joined
// again so later inputs keep reaching handlers that need a connected sender; objects exist for the
// edit and selection reports to name, and one of them keeps moving. Each joined player is shown a
// menu and text draws, his own and a global one, as a gamemode would.
//
// A few vehicles (a car, a locomotive with its carriages, a trailer) stand among the players and
// are streamed in for them, so vehicle reports and records reach past their id checks.
//
// Input: [selector][slot][bit trim][payload...]. Selectors below the RPC table's size pick an RPC;
// 250 ends the gamemode, 251 restarts it, 252 destroys or creates the label, pickup or actor the
// payload names (so that reports and streaming meet entities coming and going); any other value is
// sent as a packet whose first byte is the selector. The world always holds a few labels, pickups
// and actors around the players.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/game/ArtworkList.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "server/protocol/ServerRpcTable.h"
#include "server/world/MenuPool.h"
#include "server/world/TextDrawPool.h"
#include "tests/server/dispatch_fake_net.h"

namespace {

using namespace velt;

constexpr uint16_t kBasePlayers = 4;
constexpr uint16_t kSlots = 8;  // slots 4..7 have addresses but no player until a join
constexpr int32_t kVehicleModels[] = {411, 538, 570, 570, 435};

struct World {
    ServerSettings settings;
    std::unique_ptr<Console> console;
    StandInScripts scripts;
    std::unique_ptr<StandInScriptHostFactory> hosts;
    std::unique_ptr<GameServer> game;
    std::unique_ptr<ArtworkList> artwork;
    test::ProtocolFakeNet* net = nullptr;
    uint32_t now = 1000;

    World() {
        static char pattern[] = "/tmp/velt_fuzz_rpc_XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        std::filesystem::current_path(pattern);
        // The scratch directory (gamemode file, a ban file the console may write) goes at exit.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::current_path("/tmp", ignored);
            std::filesystem::remove_all(pattern, ignored);
        });
        std::filesystem::create_directories("gamemodes");
        std::ofstream("gamemodes/a.vmb") << "x";
        // One custom model, so download requests reach the whole download path.
        std::filesystem::create_directories("models");
        std::ofstream("models/a.dff") << std::string(5000, 'm');
        std::ofstream("models/a.txd") << "texture";

        console = std::make_unique<Console>();
        RegisterServerVariables(*console, settings, MakeServerVariableCallbacks(*console, settings));
        console->SetStringVariable("gamemode0", "a");
        console->SetStringVariable("rcon_password", "fuzz");
        settings.maxNpc = 2;
        scripts.gameModePublics = {
            {"OnPlayerCommandText", 0},  {"OnPlayerText", 1},         {"OnPlayerUpdate", 1},
            {"OnPlayerRequestClass", 1}, {"OnPlayerRequestSpawn", 1}, {"OnDialogResponse", 1},
            {"OnPlayerSpawn", 1},        {"OnPlayerEditObject", 0},   {"OnPlayerEditAttachedObject", 0},
            {"OnPlayerSelectObject", 0}, {"OnObjectMoved", 1},        {"OnUnoccupiedVehicleUpdate", 1},
            {"OnVehicleMod", 1},         {"OnVehiclePaintjob", 1},    {"OnVehicleRespray", 1},
            {"OnTrailerUpdate", 1},      {"OnVehicleDeath", 1},       {"OnVehicleSpawn", 1}};
        scripts.gameModePublics.insert({{"OnPlayerSelectedMenuRow", 1},
                                        {"OnPlayerExitedMenu", 1},
                                        {"OnPlayerClickTextDraw", 0},
                                        {"OnPlayerClickPlayerTextDraw", 0}});
        scripts.gameModePublics.insert({{"OnPlayerInteriorChange", 1},
                                        {"OnScriptCash", 1},
                                        {"OnPlayerClickMap", 1},
                                        {"OnPlayerClickPlayer", 1},
                                        {"OnPlayerTakeDamage", 1},
                                        {"OnPlayerGiveDamage", 1}});
        scripts.isPlayerConnected = [this](int32_t id) {
            return game && game->GetPlayerPool() && id >= 0 &&
                   game->GetPlayerPool()->IsConnected(uint16_t(id));
        };
        scripts.broadcastChat = [this](int32_t id, const char* text) {
            if (Player* p = game->GetPlayerPool()->GetAt(uint16_t(id)))
                p->BroadcastChat(text, uint8_t(std::strlen(text)));
        };
        hosts = std::make_unique<StandInScriptHostFactory>(scripts);
        ServerChallenge.store(0x1234ABCD);
        game = std::make_unique<GameServer>(*console, settings, test::ProtocolFakeNet::Factory(), *hosts);
        net = static_cast<test::ProtocolFakeNet*>(test::FakeNetServer::last);
        TheGameServer = game.get();
        game->SetClock([this] { return now; });
        artwork = std::make_unique<ArtworkList>("models");
        artwork->AddModel(ARTWORK_CHARACTER, -1, 7, 20001, "a.dff", "a.txd", 0, 0);
        game->SetArtworkList(artwork.get());
        game->Init(true);
        for (uint16_t slot = 0; slot < kSlots; ++slot)
            net->AddSlot(slot, test::FakeNetServer::AddressOf(slot));
        game->AddPlayerClass(SpawnInfo{});
    }

    // What a gamemode shows a player who joins: the player's own label and text draw, a global
    // text draw and a menu, so kicks, rejoins and intermissions take them down under the input.
    void GiveScreens(uint16_t slot, Player& p) {
        p.GetLabelPool()->Create("label", 0xFFFFFFFF, {}, 20.0f, kNoPlayer, 0xFFFF, 0);
        p.GetTextDrawPool()->Show(p.GetTextDrawPool()->Create(1.0f, 2.0f, "own"));
        if (TextDrawPool* draws = game->GetTextDrawPool()) {
            if (!draws->Exists(0)) draws->Create(0, 0, "all");
            draws->ShowForPlayer(slot, 0);
        }
        if (MenuPool* menus = game->GetMenuPool()) {
            if (!menus->Exists(1)) menus->Create("menu", 0, 0, 2, 1, 1);
            if (Menu* menu = menus->Get(1)) {
                if (menu->ItemCount(0) == 0) menu->AddItem(0, "row");
                menu->ShowForPlayer(slot);
            }
            menus->SetPlayerMenu(slot, 1);
        }
    }

    void Refill() {
        PlayerPool* pool = game->GetPlayerPool();
        if (pool == nullptr) return;
        pool->ReleaseRetired();
        for (uint16_t slot = 0; slot < kBasePlayers; ++slot) {
            if (pool->IsConnected(slot)) continue;
            std::string name = "Base" + std::to_string(slot);
            if (pool->Connect(slot, name.c_str(), nullptr, nullptr, slot == 3) == 1) {
                Player* p = pool->GetAt(slot);
                p->SetState(PLAYER_STATE_ONFOOT);
                p->UpdatePosition(float(slot), float(slot), 10.0f, true);
                GiveScreens(slot, *p);
            }
        }
        PlaceObjects();
        // A restarted gamemode starts with an empty vehicle pool.
        if (VehiclePool* vehicles = game->GetVehiclePool()) {
            if (vehicles->GetUpperIndex() == 0) {
                for (int32_t model : kVehicleModels)
                    vehicles->New(model, {1.0f, 1.0f, 10.0f}, 0.0f, 1, 1, 10);
                vehicles->SetRandom([this] { return int(now % 7); });
            }
            for (uint16_t slot = 0; slot < kBasePlayers; ++slot) {
                Player* p = pool->GetAt(slot);
                for (uint16_t id = 1; p != nullptr && id <= vehicles->GetUpperIndex(); ++id)
                    p->StreamInVehicle(id, false);
            }
        }
        Populate();
        net->sent.clear();
        net->calls.clear();
        scripts.Clear();
    }

    // Objects the edit and selection reports can name (global 1, and 2 of each base player), the
    // base players' editors open, and object 1 moving to and fro so that arrivals come now and then.
    void PlaceObjects() {
        ObjectPool* objects = game->GetObjectPool();
        PlayerPool* pool = game->GetPlayerPool();
        if (objects == nullptr || pool == nullptr) return;
        if (!objects->Exists(1)) objects->Create(1337, {}, {}, 100.0f);
        for (uint16_t slot = 0; slot < kBasePlayers; ++slot) {
            Player* p = pool->GetAt(slot);
            if (p == nullptr) continue;
            p->SetEditingObject();
            p->SetEditingAttachedObject();
            if (!objects->PlayerObjectExists(slot, 2))
                objects->CreatePlayerObject(slot, 1338, {}, {}, 100.0f);
        }
        WorldObject* object = objects->Get(1);
        if (object != nullptr && !object->IsMoving()) {
            const float x = object->GetPosition().x < 2.5f ? 5.0f : 0.0f;
            (void)objects->Move(*object, {x, 0, 0}, 40.0f, {});
        }
    }

    // A few entities of each kind near the players, made again after an intermission emptied the
    // pools; the first actor keeps a looping animation.
    void Populate() {
        TextLabelPool* labels = game->GetTextLabelPool();
        PickupPool* pickups = game->GetPickupPool();
        ActorPool* actors = game->GetActorPool();
        if (labels == nullptr || pickups == nullptr || actors == nullptr || pickups->IsUsed(0)) return;
        for (int i = 0; i < 3; ++i) {
            const Vector3 at{float(i), float(i), 10.0f};
            labels->Create("fuzz {FF0000}label", 0xFFFFFFFF, at, 50.0f, 0, 1);
            pickups->Create(1239, 2, at, i == 2 ? kEveryWorld : 0);
            actors->Create(i == 1 ? 20001 : 100, at, 0.0f);
        }
        labels->AttachToPlayer(1, 1, {0.0f, 0.0f, 1.0f});
        actors->GetAt(0)->ApplyAnimation("PED", "WALK_player", 4.1f, true, false, false, false, 0);
    }

    void Churn(const std::vector<uint8_t>& payload) {
        TextLabelPool* labels = game->GetTextLabelPool();
        PickupPool* pickups = game->GetPickupPool();
        ActorPool* actors = game->GetActorPool();
        if (payload.size() < 2 || labels == nullptr || pickups == nullptr || actors == nullptr) return;
        const uint16_t id = uint16_t(payload[1] % 4);
        const Vector3 at{float(id), 0.0f, 10.0f};
        const int kind = payload[0] % 3;
        if (kind == 0 && labels->IsUsed(id))
            labels->Delete(id);
        else if (kind == 0)
            labels->Create("", 0, at, 20.0f, 0, 0);
        else if (kind == 1 && pickups->IsUsed(id))
            pickups->Destroy(id);
        else if (kind == 1)
            pickups->Create(1, 1, at, 0);
        else if (actors->Exists(id))
            actors->Destroy(id);
        else
            actors->Create(1, at, 0.0f);
    }
};

World& TheWorld() {
    static World* world = new World();
    return *world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    World& w = TheWorld();
    w.Refill();
    w.now += 137;  // passes, markers and timeouts come due now and then
    const uint8_t selector = data[0];
    const uint16_t slot = uint16_t(data[1] % kSlots);
    const uint32_t trim = data[2] & 7;
    std::vector<uint8_t> payload(data + 3, data + size);

    if (selector < kServerRpcCount) {
        RpcHandler handler = kServerRpcs[selector].handler;
        if (handler == nullptr) return 0;
        uint32_t bits = uint32_t(payload.size()) * 8;
        bits = bits > trim ? bits - trim : bits;
        RpcCallParams params{payload.empty() ? nullptr : payload.data(), payload.empty() ? 0 : bits,
                             test::FakeNetServer::AddressOf(slot), nullptr};
        handler(&params);
    } else if (selector == 250) {
        if (w.game->GetGameState() == GAME_STATE_RUNNING) w.game->EndGameMode();
    } else if (selector == 251) {
        if (w.game->GetGameState() == GAME_STATE_ENDED) w.game->RestartGameMode();
    } else if (selector == 252) {
        w.Churn(payload);
    } else {
        std::vector<uint8_t> packet(data, data + size);
        packet.erase(packet.begin() + 1, packet.begin() + 3);  // the selector is the id byte
        w.net->QueuePacket(slot, packet);
        w.game->ProcessPackets();
    }
    if (PlayerPool* pool = w.game->GetPlayerPool()) pool->Process(0.05f);
    if (ObjectPool* objects = w.game->GetObjectPool()) objects->Process(0.05f);
    if (VehiclePool* vehicles = w.game->GetVehiclePool()) vehicles->Process(0.05f);
    return 0;
}
