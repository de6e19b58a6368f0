#pragma once

// A bot game over the fake client, in a scratch directory with the fixtures, with the process end
// and the millisecond clock under the test's control.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NpcTestUtil.h"
#include "server/shared/GameRpc.h"

namespace velt::test {

class NetGameFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentFake() = &fake;
        game = std::make_unique<NetGame>(FakeFactory());
    }
    void TearDown() override {
        game.reset();
        CurrentFake() = nullptr;
    }

    bool Start(const char* mode = "npc_recorder", const char* name = "Bot", const char* password = "") {
        return game->Start("127.0.0.1", 7777, name, password, mode);
    }
    void Frame(float seconds = 0.0f) { game->ProcessFrame(seconds); }
    void Rpc(uint8_t id, const BitStream& payload) {
        fake.QueueRpc(id, payload);
        Frame();
    }
    void Rpc(uint8_t id, const std::vector<uint8_t>& bytes) {
        fake.QueueRpc(id, bytes, uint32_t(bytes.size() * 8));
        Frame();
    }
    void Deliver(const std::vector<uint8_t>& bytes) {
        fake.QueuePacket(bytes);
        Frame();
    }
    // Accepted, then GameInit: the bot is in game (and has asked for class 0).
    void EnterGame(const GameInitFields& fields = {}) {
        Deliver(ConnAccepted(0));
        BitStream init;
        WriteGameInit(init, fields);
        Rpc(RPC_GameInit, init);
    }
    // In game, then the class and spawn replies allow the spawn.
    void EnterAndSpawn() {
        EnterGame();
        std::vector<uint8_t> reply{1};
        const std::vector<uint8_t> spawn = SpawnInfo(10.0f, 20.0f, 3.0f, 90.0f);
        reply.insert(reply.end(), spawn.begin(), spawn.end());
        Rpc(RPC_ClassRequest, reply);
        Rpc(RPC_SpawnRequest, std::vector<uint8_t>{1});
    }
    void AddPlayer(uint16_t id, const std::string& name, bool streamIn) {
        BitStream bs;
        bs.Write(id);
        bs.Write(uint32_t(0));
        bs.Write(uint8_t(0));
        bs.Write(uint8_t(name.size()));
        bs.WriteBytes(name.data(), int32_t(name.size()));
        Rpc(RPC_PlayerJoined, bs);
        if (streamIn) {
            BitStream in;
            in.Write(id);
            Rpc(RPC_PlayerStreamIn, in);
        }
    }
    std::vector<cell> Log() { return ScriptLog(game->Mode().Instance()); }
    std::vector<uint8_t> RpcIds() const {
        std::vector<uint8_t> ids;
        for (const SentRpc& r : fake.rpcs) ids.push_back(r.id);
        return ids;
    }

    NpcRunDir dir;
    ExitCatcher exits;
    FakeClock clock;
    FakeNetClient fake;
    std::unique_ptr<NetGame> game;
};

}  // namespace velt::test
