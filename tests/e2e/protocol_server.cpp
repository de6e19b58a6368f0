// velt-server-test: the server program on the stand-in script hosts, with a few test verbs a wire
// client reaches through OnPlayerCommandText, so end-to-end tests can make the core act. Built for
// tests only; the verbs exist nowhere else.
//
//   /t addclass <skin>   adds a player class with a fixed spawn place; answers "class <index>"
//   /t world <n>         puts the sender into virtual world n
//   /t muteupdate        OnPlayerUpdate returns 0 for the sender from now on
//   /t denyspawn         OnPlayerRequestSpawn returns 0 for the sender from now on
//   /t objects           a global object and one of the sender's own, and the sender's object
//                        and worn-object editors open; answers "objects <global> <own>"
//   /t vehicle <model>   adds a vehicle where the sender stands, streamed in for him; answers
//                        "vehicle <id>"
//   /t entities          places a label, a pickup and an actor at the origin (ids 0 when first)
//
// Every command, every death, every vehicle entered, every menu report, every text draw click,
// every object editor or selection report and every report about a pickup or an actor is logged as
// "[test] ..." so a test can see what reached the gamemode.

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <variant>

#include "net/NetworkFactory.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"

namespace {

using velt::ScriptCall;

int32_t IntArg(const ScriptCall& call, size_t i) {
    const int32_t* v = i < call.args.size() ? std::get_if<int32_t>(&call.args[i]) : nullptr;
    return v != nullptr ? *v : -1;
}

std::string TextArg(const ScriptCall& call, size_t i) {
    const std::string* v = i < call.args.size() ? std::get_if<std::string>(&call.args[i]) : nullptr;
    return v != nullptr ? *v : std::string();
}

class TestVerbs {
public:
    void Run(ScriptCall& call) {
        const int32_t player = IntArg(call, 0);
        if (call.name == "OnPlayerCommandText") {
            velt::LogPrintf("[test] OnPlayerCommandText(%d, %s)", int(player), TextArg(call, 1).c_str());
            call.result = Command(uint16_t(player), TextArg(call, 1)) ? 1 : 0;
        } else if (call.name == "OnPlayerUpdate") {
            call.result = muted_.count(player) != 0 ? 0 : 1;
        } else if (call.name == "OnPlayerRequestSpawn") {
            call.result = denied_.count(player) != 0 ? 0 : 1;
        } else if (call.name == "OnPlayerDeath") {
            velt::LogPrintf("[test] OnPlayerDeath(%d, %d, %d)", int(player), int(IntArg(call, 1)),
                            int(IntArg(call, 2)));
        } else if (call.name == "OnPlayerEditObject" || call.name == "OnPlayerEditAttachedObject" ||
                   call.name == "OnPlayerSelectObject") {
            velt::LogPrintf("[test] %s(%d)", call.name.c_str(), int(player));
        } else if (call.name == "OnPlayerEnterVehicle") {
            velt::LogPrintf("[test] OnPlayerEnterVehicle(%d, %d, %d)", int(player), int(IntArg(call, 1)),
                            int(IntArg(call, 2)));
        } else if (call.name == "OnPlayerSelectedMenuRow" || call.name == "OnPlayerClickTextDraw" ||
                   call.name == "OnPlayerClickPlayerTextDraw" || call.name == "OnPlayerPickUpPickup" ||
                   call.name == "OnPlayerGiveDamageActor") {
            velt::LogPrintf("[test] %s(%d, %d)", call.name.c_str(), int(player), int(IntArg(call, 1)));
        } else if (call.name == "OnPlayerExitedMenu") {
            velt::LogPrintf("[test] OnPlayerExitedMenu(%d)", int(player));
        } else if (call.name == "OnPlayerDisconnect") {
            muted_.erase(player);
            denied_.erase(player);
        }
    }

private:
    bool Command(uint16_t player, const std::string& text) {
        std::istringstream words(text);
        std::string prefix, verb;
        words >> prefix >> verb;
        velt::GameServer* server = velt::TheGameServer;
        if (prefix != "/t" || server == nullptr || server->GetPlayerPool() == nullptr) return false;
        if (verb == "addclass") {
            int32_t skin = 0;
            words >> skin;
            velt::SpawnInfo spawn;
            spawn.team = 1;
            spawn.skin = skin;
            spawn.position = {1958.5f, 1343.25f, 15.5f};
            spawn.facingAngle = 270.0f;
            spawn.weapons = {24, 31, 0};
            spawn.ammo = {100, 500, 0};
            server->SendClientMessage(player, 0xFFFFFFFF, "class %u",
                                      unsigned(server->AddPlayerClass(spawn)));
            return true;
        }
        if (verb == "world") {
            int32_t world = 0;
            words >> world;
            server->GetPlayerPool()->SetVirtualWorld(player, world);
            return true;
        }
        if (verb == "objects") {
            velt::ObjectPool* objects = server->GetObjectPool();
            velt::Player* sender = server->GetPlayerPool()->GetAt(player);
            if (objects == nullptr || sender == nullptr) return false;
            const uint16_t global = objects->Create(1337, {1, 2, 3}, {}, 300.0f);
            const uint16_t own = objects->CreatePlayerObject(player, 1338, {4, 5, 6}, {}, 300.0f);
            sender->SetEditingObject();
            sender->SetEditingAttachedObject();
            server->SendClientMessage(player, 0xFFFFFFFF, "objects %u %u", unsigned(global), unsigned(own));
            return true;
        }
        if (verb == "vehicle") {
            int32_t model = 0;
            words >> model;
            velt::Player* p = server->GetPlayerPool()->GetAt(player);
            velt::VehiclePool* vehicles = server->GetVehiclePool();
            if (p == nullptr || vehicles == nullptr) return false;
            const uint16_t id = vehicles->New(model, p->GetPosition(), 0.0f, 1, 1, -1);
            p->StreamInVehicle(id, false);
            server->SendClientMessage(player, 0xFFFFFFFF, "vehicle %u", unsigned(id));
            return true;
        }
        if (verb == "entities") {
            if (server->GetTextLabelPool() == nullptr || server->GetPickupPool() == nullptr ||
                server->GetActorPool() == nullptr)
                return false;
            const velt::Vector3 origin{0.0f, 0.0f, 10.0f};
            server->GetTextLabelPool()->Create("sweep", 0xFFFFFFFF, origin, 50.0f, 0, 0);
            server->GetPickupPool()->Create(1239, 2, origin, 0);
            server->GetActorPool()->Create(100, origin, 0.0f);
            return true;
        }
        if (verb == "muteupdate") return muted_.insert(player), true;
        if (verb == "denyspawn") return denied_.insert(player), true;
        return false;
    }

    std::set<int32_t> muted_;
    std::set<int32_t> denied_;
};

}  // namespace

int main() {
    velt::StandInScripts scripts;
    TestVerbs verbs;
    scripts.gameModePublics = {{"OnPlayerCommandText", 0},  {"OnPlayerUpdate", 1},
                               {"OnPlayerRequestSpawn", 1}, {"OnPlayerRequestClass", 1},
                               {"OnPlayerDeath", 1},        {"OnPlayerDisconnect", 1},
                               {"OnPlayerEditObject", 0},   {"OnPlayerEditAttachedObject", 0},
                               {"OnPlayerSelectObject", 0}, {"OnPlayerEnterVehicle", 1},
                               {"OnPlayerPickUpPickup", 1}, {"OnPlayerGiveDamageActor", 1}};
    for (const char* report : {"OnPlayerSelectedMenuRow", "OnPlayerExitedMenu", "OnPlayerClickTextDraw",
                               "OnPlayerClickPlayerTextDraw"})
        scripts.gameModePublics[report] = 0;
    scripts.onRun = [&verbs](ScriptCall& call) { verbs.Run(call); };
    scripts.isPlayerConnected = [](int32_t id) {
        velt::GameServer* server = velt::TheGameServer;
        velt::PlayerPool* pool = server != nullptr ? server->GetPlayerPool() : nullptr;
        return pool != nullptr && id >= 0 && pool->IsConnected(uint16_t(id));
    };
    // What the gamemode host does with a chat line its script lets through.
    scripts.broadcastChat = [](int32_t id, const char* text) {
        velt::GameServer* server = velt::TheGameServer;
        velt::PlayerPool* pool = server != nullptr ? server->GetPlayerPool() : nullptr;
        velt::Player* player = pool != nullptr ? pool->GetAt(uint16_t(id)) : nullptr;
        if (player != nullptr) player->BroadcastChat(text, uint8_t(std::strlen(text)));
    };
    velt::StandInScriptHostFactory hosts(scripts);
    const velt::NetServerFactory net{velt::CreateNetServer, velt::DestroyNetServer};
    return velt::RunServer(net, hosts, [&scripts] { scripts.Clear(); });
}
