// The bot's RPC handlers and sync readers: what each does to the world model and which callback
// it raises, and that short, malformed or hostile calls are dropped whole.

#include <gtest/gtest.h>

#include <random>

#include "NetGameFixture.h"
#include "npc/net/netgame/NetGameRpc.h"
#include "server/shared/SyncRecordsRelay.h"

namespace velt::test {
namespace {

using NpcRpcTest = NetGameFixture;

BitStream& Id16(BitStream& bs, uint16_t id) {
    bs.Write(id);
    return bs;
}

TEST_F(NpcRpcTest, PlayersJoinStreamAndLeave) {
    ASSERT_TRUE(Start());
    EnterGame();

    // Streaming in a player the bot never heard of changes nothing and raises nothing.
    BitStream unknown;
    Rpc(RPC_PlayerStreamIn, Id16(unknown, 9));
    EXPECT_FALSE(game->Players().IsStreamedIn(9));
    EXPECT_EQ(CountCode(Log(), 10), 0);

    AddPlayer(9, "Dana", true);
    EXPECT_STREQ(game->Players().GetName(9), "Dana");
    EXPECT_TRUE(game->Players().IsStreamedIn(9));
    EXPECT_EQ(LogFrom(Log(), 10), (std::vector<cell>{10, 9}));

    BitStream death, out;
    Rpc(RPC_PlayerDeath, Id16(death, 9));
    Rpc(RPC_PlayerStreamOut, Id16(out, 9));
    EXPECT_FALSE(game->Players().IsStreamedIn(9));
    EXPECT_EQ(LogFrom(Log(), 10), (std::vector<cell>{10, 9, 9, 9, 11, 9}));

    BitStream left;
    Id16(left, 9).Write(uint8_t(1));
    Rpc(RPC_PlayerLeft, left);
    EXPECT_FALSE(game->Players().IsConnected(9));
    EXPECT_EQ(Log().back(), 9) << "leaving raises no callback";

    // A name of 25 bytes or more is refused; ids beyond the pool are never connected.
    AddPlayer(10, std::string(25, 'x'), false);
    EXPECT_FALSE(game->Players().IsConnected(10));
    AddPlayer(1000, "Far", true);
    EXPECT_FALSE(game->Players().IsConnected(1000));
    EXPECT_EQ(CountCode(Log(), 10), 1);
}

TEST_F(NpcRpcTest, TextsReachTheScript) {
    ASSERT_TRUE(Start());
    EnterGame();
    // Chat from a player the bot never saw still reaches the script.
    BitStream chat;
    chat.Write(uint16_t(77));
    chat.Write(uint8_t(3));
    chat.WriteBytes("hey", 3);
    Rpc(RPC_ChatText, chat);
    std::vector<cell> expected{8, 77};
    for (cell c : TextCells("hey")) expected.push_back(c);
    EXPECT_EQ(LogFrom(Log(), 8), expected);

    BitStream message;
    message.Write(uint32_t(0xFF00FFAA));
    message.Write(uint32_t(2));
    message.WriteBytes("ok", 2);
    Rpc(RPC_ClientMessage, message);
    expected = {7, cell(0xFF00FFAA)};
    for (cell c : TextCells("ok")) expected.push_back(c);
    EXPECT_EQ(LogFrom(Log(), 7), expected);

    // A length beyond what the bot takes, or beyond the payload, drops the call.
    const size_t before = Log().size();
    BitStream huge;
    huge.Write(uint32_t(1));
    huge.Write(uint32_t(0xFFFFFFF0));
    huge.WriteBytes("abc", 3);
    Rpc(RPC_ClientMessage, huge);
    BitStream lying;
    lying.Write(uint32_t(1));
    lying.Write(uint32_t(100));
    lying.WriteBytes("abc", 3);
    Rpc(RPC_ClientMessage, lying);
    EXPECT_EQ(Log().size(), before);
}

TEST_F(NpcRpcTest, VehiclesStreamAndTheBotIsSeated) {
    ASSERT_TRUE(Start());
    EnterGame();
    auto streamIn = [&](uint16_t id) {
        BitStream bs;
        bs.Write(id);
        const std::vector<uint8_t> rest(38, 7);
        bs.WriteBytes(rest.data(), 38);
        Rpc(RPC_VehicleStreamIn, bs);
    };
    streamIn(44);
    EXPECT_TRUE(game->Vehicles().IsPresent(44));
    EXPECT_TRUE(game->Vehicles().IsStreamedIn(44));
    // Ids beyond the pool are not kept, but the script still hears of them with the id received.
    streamIn(2500);
    EXPECT_FALSE(game->Vehicles().IsPresent(2500));
    BitStream out;
    Rpc(RPC_VehicleStreamOut, Id16(out, 44));
    EXPECT_TRUE(game->Vehicles().IsPresent(44));
    EXPECT_FALSE(game->Vehicles().IsStreamedIn(44));
    EXPECT_EQ(LogFrom(Log(), 12), (std::vector<cell>{12, 44, 12, 2500, 13, 44}));

    BitStream put;
    put.Write(uint16_t(44));
    put.Write(uint8_t(2));
    Rpc(RPC_PutInVehicle, put);
    EXPECT_EQ(game->Self().vehicleId, 44);
    EXPECT_EQ(game->Self().seat, 2);
    Rpc(RPC_RemoveFromVehicle, std::vector<uint8_t>{});
    EXPECT_EQ(game->Self().vehicleId, kNpcNoVehicle);
    EXPECT_EQ(LogFrom(Log(), 5), (std::vector<cell>{5, 44, 2, 6}));

    BitStream pos;
    pos.Write(1.5f);
    pos.Write(-2.5f);
    pos.Write(8.0f);
    Rpc(RPC_PlayerPosSet, pos);
    EXPECT_FLOAT_EQ(game->Self().onFoot.position.y, -2.5f);
    BitStream angle;
    angle.Write(180.0f);
    Rpc(RPC_PlayerFacingAngleSet, angle);
    game->Self().kind = NpcOwnSyncKind::OnFoot;
    EXPECT_NEAR(game->Self().GetFacing(), 180.0f, 0.01f);
}

// Each prefix of a message that the handler needs whole is dropped without any effect.
TEST_F(NpcRpcTest, CutGameInitAndClassReplyChangeNothing) {
    ASSERT_TRUE(Start());
    Deliver(ConnAccepted(0));
    BitStream init;
    WriteGameInit(init, GameInitFields{});
    const uint32_t bits = uint32_t(init.GetNumberOfBitsUsed());
    const std::vector<uint8_t> bytes = Bytes(init);
    for (uint32_t cut = 0; cut < bits; ++cut) {
        fake.QueueRpc(RPC_GameInit, bytes, cut);
        Frame();
        ASSERT_EQ(game->State(), NpcConnectionState::Joining) << cut << " of " << bits << " bits";
    }
    EXPECT_EQ(RpcIds(), std::vector<uint8_t>{RPC_NpcJoin});
    EXPECT_EQ(CountCode(Log(), 3), 0);
    fake.QueueRpc(RPC_GameInit, bytes, bits);
    Frame();
    ASSERT_EQ(game->State(), NpcConnectionState::InGame);

    std::vector<uint8_t> reply{1};
    const std::vector<uint8_t> spawn = SpawnInfo(5.0f, 6.0f, 7.0f, 0.0f);
    reply.insert(reply.end(), spawn.begin(), spawn.end());
    for (uint32_t cut = 0; cut < reply.size() * 8; ++cut) fake.QueueRpc(RPC_ClassRequest, reply, cut);
    Frame();
    EXPECT_EQ(RpcIds().back(), RPC_ClassRequest);
    EXPECT_EQ(game->Self().onFoot.health, 0);
    EXPECT_FLOAT_EQ(game->Self().onFoot.position.x, 0.0f);
}

// ---- relayed sync ------------------------------------------------------------------------------

// On-foot relay built field by field from the reader's description, independent of the writer.
std::vector<uint8_t> HandMadeOnFoot(uint16_t player) {
    BitStream bs;
    bs.Write(uint8_t(ID_PLAYER_SYNC));
    bs.Write(player);
    bs.Write(true);
    bs.Write(uint16_t(0xFF80));  // left-right
    bs.Write(false);             // no up-down
    bs.Write(uint16_t(0x0208));  // keys
    bs.Write(100.0f);
    bs.Write(-50.0f);
    bs.Write(12.5f);
    bs.WriteCompressedQuaternion(1.0f, 0.0f, 0.0f, 0.0f);
    bs.Write(uint8_t(0xF3));  // health 100, armour 3 x 7
    bs.Write(uint8_t(0xC5));  // weapon 5 in the low 6 bits
    bs.Write(uint8_t(3));     // special action
    bs.Write(0.000005f);      // a move speed too small to carry a direction
    bs.Write(false);          // not surfing
    bs.Write(true);
    bs.Write(uint32_t(0x00010203));
    return Bytes(bs);
}

TEST_F(NpcRpcTest, OnFootSyncFillsTheGettersOfAStreamedInPlayer) {
    ASSERT_TRUE(Start());
    EnterGame();
    AddPlayer(4, "Eve", false);
    Deliver(HandMadeOnFoot(4));
    // Stored, but hidden while the player is not streamed in.
    const NpcPlayerPool& pool = game->Players();
    EXPECT_EQ(pool.GetState(4), 0);
    EXPECT_EQ(pool.GetHealth(4), 0);
    EXPECT_EQ(pool.GetVehicleId(4), -1);
    Vector3 p;
    EXPECT_FALSE(pool.GetPosition(4, p));

    BitStream in;
    Rpc(RPC_PlayerStreamIn, Id16(in, 4));
    EXPECT_EQ(pool.GetState(4), 1);
    ASSERT_TRUE(pool.GetPosition(4, p));
    EXPECT_FLOAT_EQ(p.x, 100.0f);
    EXPECT_FLOAT_EQ(p.z, 12.5f);
    EXPECT_EQ(pool.GetHealth(4), 100);
    EXPECT_EQ(pool.GetArmour(4), 21);
    EXPECT_EQ(pool.GetArmedWeapon(4), 5);
    EXPECT_EQ(pool.GetSpecialAction(4), 3);
    EXPECT_EQ(pool.GetVehicleId(4), -1);
    NpcPlayerKeys keys;
    ASSERT_TRUE(pool.GetKeys(4, keys));
    EXPECT_EQ(keys.keys, 0x0208);
    EXPECT_EQ(keys.leftRight, -128);
    EXPECT_EQ(keys.upDown, 0);

    // Each cut of the packet is dropped: the stored record does not move.
    const std::vector<uint8_t> moved = [] {
        std::vector<uint8_t> b = HandMadeOnFoot(4);
        b[9] ^= 0x40;  // a different x position
        return b;
    }();
    for (size_t n = 0; n + 1 < moved.size(); ++n)
        Deliver(std::vector<uint8_t>(moved.begin(), moved.begin() + long(n)));
    ASSERT_TRUE(pool.GetPosition(4, p));
    EXPECT_FLOAT_EQ(p.x, 100.0f);
}

TEST_F(NpcRpcTest, DriverAndPassengerSync) {
    ASSERT_TRUE(Start());
    EnterGame();
    AddPlayer(6, "Fin", true);
    AddPlayer(8, "Gus", true);
    InCarSyncRecord car;
    car.vehicleId = 321;
    car.position = {1.0f, 2.0f, 3.0f};
    car.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
    car.playerHealth = 50;
    car.armour = 0;
    car.weaponId = 24;
    car.keys = 8;
    car.vehicleHealth = 999.7f;
    car.trailerId = 77;
    BitStream driver;
    WriteDriverRelay(driver, 6, car);
    Deliver(Bytes(driver));
    const NpcPlayerPool& pool = game->Players();
    EXPECT_EQ(pool.GetState(6), 2);
    EXPECT_EQ(pool.GetVehicleId(6), 321);
    EXPECT_EQ(pool.GetHealth(6), 49) << "health travels in sevenths";
    EXPECT_EQ(pool.GetArmedWeapon(6), 24);
    EXPECT_EQ(pool.GetSpecialAction(6), 0);

    PassengerSyncRecord ride;
    ride.vehicleId = 321;
    ride.health = 77;
    ride.armour = 12;
    ride.weaponId = 31;
    ride.position = {4.0f, 5.0f, 6.0f};
    BitStream passenger;
    WritePassengerRelay(passenger, 8, ride);
    // Behind a time stamp the message reads the same.
    std::vector<uint8_t> stamped{ID_TIMESTAMPED, 0, 0, 0, 1};
    const std::vector<uint8_t> body = Bytes(passenger);
    stamped.insert(stamped.end(), body.begin(), body.end());
    Deliver(stamped);
    EXPECT_EQ(pool.GetState(8), 3);
    EXPECT_EQ(pool.GetHealth(8), 77);
    EXPECT_EQ(pool.GetArmour(8), 12);
    Vector3 p;
    ASSERT_TRUE(pool.GetPosition(8, p));
    EXPECT_FLOAT_EQ(p.y, 5.0f);
}

TEST_F(NpcRpcTest, SyncIsReadOnlyInGameAndOnlyForPoolIds) {
    ASSERT_TRUE(Start());
    Deliver(ConnAccepted(0));
    AddPlayer(4, "Eve", true);
    Deliver(HandMadeOnFoot(4));
    BitStream init;
    WriteGameInit(init, GameInitFields{});
    Rpc(RPC_GameInit, init);
    EXPECT_EQ(game->Players().GetState(4), 0) << "sync before GameInit is ignored";
    Deliver(HandMadeOnFoot(1000));
    Deliver(HandMadeOnFoot(0xFFFF));
    EXPECT_EQ(game->Players().GetState(4), 0);
    Deliver(HandMadeOnFoot(4));
    EXPECT_EQ(game->Players().GetState(4), 1);
}

// ---- hostile calls -----------------------------------------------------------------------------

// Every registered id, and a few that are not, with empty, random and oversized payloads of any
// bit length. The sanitizers watch for reads past a payload; the test checks that nothing but a
// refusal ends the bot.
TEST_F(NpcRpcTest, MalformedCallSweep) {
    ASSERT_TRUE(Start());
    EnterAndSpawn();
    AddPlayer(1, "Hal", true);
    std::vector<uint8_t> ids;
    for (const NpcRpcEntry& e : kNpcCoreRpcs) ids.push_back(e.id);
    for (const NpcRpcEntry& e : kNpcScriptingRpcs) ids.push_back(e.id);
    ids.push_back(0);
    ids.push_back(200);
    ids.push_back(255);

    std::mt19937 rng(99);
    for (uint8_t id : ids) {
        if (id == RPC_ConnectionRejected) continue;
        for (int round = 0; round < 60; ++round) {
            const size_t length = round < 20 ? size_t(round) : size_t(rng() % 700);
            std::vector<uint8_t> bytes(length);
            for (auto& b : bytes) b = uint8_t(rng());
            // Small lengths and player ids keep some calls on the paths that act.
            if (length >= 2 && round % 3 == 0) bytes[1] = 0;
            const uint32_t bits = length == 0 ? 0 : uint32_t(length * 8 - rng() % 8);
            fake.Call(id, bytes, bits);
        }
        ASSERT_FALSE(game->Ended()) << "id " << int(id);
        if (game->State() != NpcConnectionState::InGame) {
            // A restart (or a GameInit that happened to parse) leaves the bot waiting; bring it back.
            BitStream init;
            WriteGameInit(init, GameInitFields{});
            fake.Call(RPC_GameInit, Bytes(init), uint32_t(init.GetNumberOfBitsUsed()));
        }
    }
    // The frame work still runs on whatever the calls left behind.
    for (int i = 0; i < 5; ++i) Frame(0.3f);
    EXPECT_FALSE(game->Ended());

    fake.Call(RPC_ConnectionRejected, {}, 0);
    EXPECT_TRUE(game->Ended());
    EXPECT_EQ(exits.Seen(), std::vector<int>{1});
}

}  // namespace
}  // namespace velt::test
