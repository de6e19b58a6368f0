// The bot's RPC handlers and sync readers on hostile input. One bot, in game and spawned, with a
// script that defines every callback, takes each input as a sequence of calls and packets:
//   [selector][bit trim][length][bytes...] repeated, where the selector picks a registered call
//   id (or, above the table, a sync packet), the trim drops 0..7 bits off the last byte.
// Anything but a refusal ending the bot, or a sanitizer report, is a finding.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "npc/NpcExit.h"
#include "npc/net/netgame/NetGame.h"
#include "npc/net/netgame/NetGameRpc.h"
#include "server/shared/GameRpc.h"
#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "tests/npc/FakeNetClient.h"

using namespace velt;

namespace {

test::FakeNetClient* g_fake = nullptr;
NetGame* g_game = nullptr;
bool g_ended = false;

// An npcmode whose every callback returns 1 at once: the handlers' texts and ids reach the script.
bool WriteScript(const std::string& path) {
    static const char* const names[] = {"OnNPCModeInit",      "OnNPCModeExit",         "OnNPCConnect",
                                        "OnNPCSpawn",         "OnNPCEnterVehicle",     "OnNPCExitVehicle",
                                        "OnClientMessage",    "OnPlayerText",          "OnPlayerDeath",
                                        "OnPlayerStreamIn",   "OnPlayerStreamOut",     "OnVehicleStreamIn",
                                        "OnVehicleStreamOut", "OnRecordingPlaybackEnd"};
    VmImageBuilder b;
    for (const char* name : names) {
        b.Label(name);
        b.Op(OP_PROC);
        b.Op(OP_CONST_PRI, 1);
        b.Op(OP_RETN);
        b.AddPublic(name, name);
    }
    std::vector<uint8_t> image;
    if (!b.Build(image)) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    std::fclose(f);
    return ok;
}

void Call(uint8_t id, const std::vector<uint8_t>& bytes, uint32_t bits) { g_fake->Call(id, bytes, bits); }

char g_dir[] = "/tmp/velt-npc-fuzz-XXXXXX";

// The script is read once at the start; its scratch directory need not outlive the run.
void RemoveScratch() {
    const std::string dir = g_dir;
    std::remove((dir + "/npcmodes/fuzz.vmb").c_str());
    rmdir((dir + "/npcmodes").c_str());
    rmdir(dir.c_str());
}

void Init() {
    if (mkdtemp(g_dir) == nullptr || chdir(g_dir) != 0) std::abort();
    mkdir("npcmodes", 0755);
    if (!WriteScript("npcmodes/fuzz.vmb")) std::abort();
    std::atexit(RemoveScratch);
    SetNpcExitHandler([](int) { g_ended = true; });
    g_fake = new test::FakeNetClient();
    g_game = new NetGame(
        NetGame::ClientFactory{[]() -> NetClientInterface* { return g_fake; }, [](NetClientInterface*) {}});
    if (!g_game->Start("127.0.0.1", 7777, "Fuzz", "", "fuzz")) std::abort();
}

void Rejoin() {
    // In game and spawned, whatever the previous input left behind.
    BitStream init;
    for (int i = 0; i < 4; ++i) init.Write(false);
    init.Write(uint32_t(0));
    init.Write(false);
    init.Write(uint32_t(0));
    for (int i = 0; i < 3; ++i) init.Write(false);
    init.Write(uint32_t(0));
    init.Write(uint16_t(0));
    init.Write(false);
    init.Write(uint32_t(0));
    init.Write(uint8_t(12));
    init.Write(uint8_t(10));
    init.Write(0.008f);
    init.Write(false);
    init.Write(uint32_t(0));
    init.Write(false);
    for (int i = 0; i < 5; ++i) init.Write(uint32_t(0));
    init.Write(uint8_t(0));
    const std::vector<uint8_t> opaque(212 + 4, 0);
    init.WriteBytes(opaque.data(), int32_t(opaque.size()));
    Call(RPC_GameInit, std::vector<uint8_t>(init.GetData(), init.GetData() + init.GetNumberOfBytesUsed()),
         uint32_t(init.GetNumberOfBitsUsed()));
    Call(RPC_SpawnRequest, {1}, 8);
    for (uint16_t id : {0, 1, 2}) {
        const std::vector<uint8_t> joined{uint8_t(id), 0, 0, 0, 0, 0, 0, 1, 'P'};
        Call(RPC_PlayerJoined, joined, uint32_t(joined.size() * 8));
        const std::vector<uint8_t> in{uint8_t(id), 0};
        Call(RPC_PlayerStreamIn, in, 16);
    }
    // Drop what the handlers sent, so memory stays flat over a long run.
    g_fake->rpcs.clear();
    g_fake->sends.clear();
    g_fake->disconnects.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialised = (Init(), true);
    (void)initialised;
    Rejoin();

    std::vector<uint8_t> ids;
    for (const NpcRpcEntry& e : kNpcCoreRpcs) ids.push_back(e.id);
    for (const NpcRpcEntry& e : kNpcScriptingRpcs) ids.push_back(e.id);
    const uint8_t syncIds[] = {ID_PLAYER_SYNC, ID_VEHICLE_SYNC, ID_PASSENGER_SYNC, ID_AIM_SYNC,
                               ID_TRAILER_SYNC};

    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t selector = data[at];
        const uint8_t trim = data[at + 1] & 7;
        size_t length = data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        std::vector<uint8_t> bytes(data + at, data + at + length);
        at += length;
        if (selector < 2 * ids.size()) {
            const uint8_t id = ids[selector % ids.size()];
            // A refusal ends the bot by design; it is no finding and would stop the run.
            if (id == RPC_ConnectionRejected) continue;
            const uint32_t bits = length == 0 ? 0 : uint32_t(length * 8 - trim);
            Call(id, bytes, bits);
        } else {
            bytes.insert(bytes.begin(), syncIds[selector % sizeof syncIds]);
            g_fake->QueuePacket(bytes);
            g_game->ProcessFrame(0.0f);
        }
        if (g_ended) std::abort();
    }
    g_game->ProcessFrame(0.02f);
    if (g_ended) std::abort();
    return 0;
}
