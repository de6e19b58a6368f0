// The object pool on its own, with a host that records what the pool asks of the game: the shared
// id space of global and per-player objects, moves stepped pass by pass on an injected clock, the
// order of arrivals and what the scripts may do to the pool while an arrival is raised, and the
// object's own state (rotation on a move, attachments, material slots).

#include "server/world/ObjectPool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"

namespace velt {
namespace {

class RecordingHost : public ObjectPoolHost {
public:
    bool IsPlayerConnected(uint16_t player) override { return connected.count(player) != 0; }
    bool DefaultNoCameraCollision() override { return noCameraCollision; }
    void SendRpcToPlayer(uint8_t rpcId, const BitStream& bs, uint16_t player) override {
        BitStream copy(bs.GetData(), uint32_t(bs.GetNumberOfBytesUsed()), true);
        uint16_t id = 0;
        EXPECT_TRUE(copy.Read(id));
        sent.push_back(std::to_string(rpcId) + ">" + std::to_string(player) + ":" + std::to_string(id));
    }
    void ObjectMoved(uint16_t object) override {
        Arrived("global " + std::to_string(object), object, kNoObject);
    }
    void PlayerObjectMoved(uint16_t player, uint16_t object) override {
        Arrived("player " + std::to_string(player) + " " + std::to_string(object), object, player);
    }

    std::set<uint16_t> connected = {0, 1, 2};
    bool noCameraCollision = false;
    std::vector<std::string> sent;
    std::vector<std::string> arrivals;
    // What a script does when an object arrives.
    std::function<void(uint16_t object, uint16_t player)> onArrival;

private:
    void Arrived(const std::string& what, uint16_t object, uint16_t player) {
        arrivals.push_back(what);
        if (onArrival) onArrival(object, player);
    }
};

const Vector3 kOrigin{};

class ObjectPoolTest : public ::testing::Test {
protected:
    uint16_t Global() { return pool.Create(1337, kOrigin, kOrigin, 100.0f); }
    uint16_t Own(uint16_t player) { return pool.CreatePlayerObject(player, 1337, kOrigin, kOrigin, 100.0f); }

    RecordingHost host;
    ObjectPool pool{&host};
};

TEST_F(ObjectPoolTest, GlobalAndPerPlayerIdsShareOneSpace) {
    EXPECT_EQ(Global(), 1);
    EXPECT_EQ(Global(), 2);
    EXPECT_EQ(Own(0), 3);
    // Player 0 holds 3: the next global object skips it; player 1 may have 3 for himself.
    EXPECT_EQ(Global(), 4);
    EXPECT_EQ(Own(1), 3);
    EXPECT_EQ(Own(1), 5);
    EXPECT_EQ(Own(0), 5);
    EXPECT_TRUE(pool.Exists(4));
    EXPECT_FALSE(pool.Exists(3));
    EXPECT_TRUE(pool.PlayerObjectExists(0, 3));
    EXPECT_FALSE(pool.PlayerObjectExists(2, 3));
    EXPECT_NE(pool.GetPlayerObject(0, 3), pool.GetPlayerObject(1, 3));
    EXPECT_EQ(Own(1000), kNoObject) << "no player 1000";
}

TEST_F(ObjectPoolTest, AnIdIsFreeForGlobalObjectsOnlyOnceTheLastPlayerLetsGoOfIt) {
    EXPECT_EQ(Own(0), 1);
    EXPECT_EQ(Own(1), 1);
    EXPECT_EQ(pool.DestroyPlayerObject(0, 1), 1);
    EXPECT_EQ(pool.DestroyPlayerObject(0, 1), 0);
    EXPECT_EQ(Global(), 2) << "player 1 still uses 1";
    EXPECT_EQ(pool.DestroyPlayerObject(1, 1), 1);
    EXPECT_EQ(Global(), 1);
    // And a global id is never a player's.
    EXPECT_EQ(Own(0), 3);
    EXPECT_EQ(pool.Destroy(2), 1);
    EXPECT_EQ(pool.Destroy(2), 0);
    EXPECT_EQ(Own(0), 2);
}

TEST_F(ObjectPoolTest, FullSpaceBadIdsAndDestroyAll) {
    for (uint16_t id = 1; id < kMaxObjects; ++id) ASSERT_EQ(Global(), id);
    EXPECT_EQ(Global(), kNoObject);
    EXPECT_EQ(Own(0), kNoObject);
    for (uint16_t id : {0, 2000, 0xFFFF}) {
        EXPECT_EQ(pool.Destroy(id), 0) << id;
        EXPECT_EQ(pool.Get(id), nullptr) << id;
        EXPECT_EQ(pool.GetPlayerObject(0, id), nullptr) << id;
        EXPECT_EQ(pool.DestroyPlayerObject(0, id), 0) << id;
    }
    EXPECT_EQ(pool.GetPlayerObject(1000, 1), nullptr);
    EXPECT_TRUE(pool.Move(*pool.Get(7), {1, 0, 0}, 1.0f, kOrigin).has_value());

    pool.DestroyAll();
    EXPECT_EQ(pool.MovingCount(), 0u);
    EXPECT_EQ(Own(0), 1);
    EXPECT_EQ(Global(), 2);
    pool.DestroyAllPlayerObjects(0);
    EXPECT_EQ(Global(), 1);
}

TEST_F(ObjectPoolTest, MoveStepsInSinglePrecisionAndArrivesExactlyOnce) {
    const uint16_t id = Global();
    WorldObject& object = *pool.Get(id);
    EXPECT_EQ(pool.Move(object, {10.0f, 0.0f, 0.0f}, 2.0f, kOrigin), 5.0f);
    for (float x : {2.0f, 4.0f, 6.0f, 8.0f}) {
        pool.Process(1.0f);
        EXPECT_EQ(object.GetPosition().x, x);
        EXPECT_TRUE(object.IsMoving());
    }
    EXPECT_TRUE(host.arrivals.empty());
    pool.Process(1.0f);
    EXPECT_EQ(object.GetPosition().x, 10.0f);
    EXPECT_FALSE(object.IsMoving());
    pool.Process(1.0f);
    EXPECT_EQ(host.arrivals, std::vector<std::string>{"global 1"});

    // Along a diagonal, the step is the speed times the pass along the line.
    ASSERT_TRUE(pool.Move(object, {10.0f, 3.0f, 4.0f}, 1.0f, kOrigin));
    pool.Process(2.5f);
    EXPECT_FLOAT_EQ(object.GetPosition().y, 1.5f);
    EXPECT_FLOAT_EQ(object.GetPosition().z, 2.0f);
    EXPECT_FLOAT_EQ(object.DistanceTo({10.0f, 3.0f, 4.0f}), 2.5f);
}

TEST_F(ObjectPoolTest, MovesThatCouldNeverArriveAreRefusedAndChangeNothing) {
    WorldObject& object = *pool.Get(Global());
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        Vector3 target;
        float speed;
    };
    const Case cases[] = {
        {{10, 0, 0}, 0.0f},   {{10, 0, 0}, -2.0f},        {{10, 0, 0}, nan},
        {{10, 0, 0}, inf},    {{nan, 0, 0}, 2.0f},        {{0, inf, 0}, 2.0f},
        {{0, 0, -inf}, 2.0f}, {{3e38f, -3e38f, 0}, 1.0f}, {{10, 0, 0}, 1e-45f},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(object.TravelTime(c.target, c.speed).has_value()) << c.speed;
        EXPECT_FALSE(pool.Move(object, c.target, c.speed, {1, 2, 3}).has_value()) << c.speed;
        EXPECT_FALSE(object.IsMoving());
        EXPECT_EQ(object.GetRotation().x, 0.0f);
    }
    EXPECT_EQ(pool.MovingCount(), 0u);
    // A refused move leaves one under way alone.
    ASSERT_TRUE(pool.Move(object, {4, 0, 0}, 1.0f, kOrigin));
    EXPECT_FALSE(pool.Move(object, {10, 0, 0}, 0.0f, kOrigin));
    EXPECT_EQ(object.GetTarget().x, 4.0f);
    EXPECT_EQ(pool.MovingCount(), 1u);
    // A move to where the object stands takes no time and arrives on the next pass.
    EXPECT_EQ(pool.Move(object, kOrigin, 1.0f, kOrigin), 0.0f);
    pool.Process(0.0f);
    EXPECT_EQ(host.arrivals.size(), 1u);
}

TEST_F(ObjectPoolTest, RotationOfAMoveIsTakenOnlyWhenAllThreeAreAboveTheKeepMark) {
    WorldObject& object = *pool.Get(Global());
    object.SetRotation({1, 2, 3});
    for (const Vector3& kept : {Vector3{-999.0f, 5, 5}, Vector3{5, -1000.0f, 5}, Vector3{5, 5, -5000.0f}}) {
        ASSERT_TRUE(pool.Move(object, {1, 0, 0}, 1.0f, kept));
        EXPECT_EQ(object.GetRotation().x, 1.0f);
        EXPECT_EQ(object.GetRotation().z, 3.0f);
    }
    ASSERT_TRUE(pool.Move(object, {1, 0, 0}, 1.0f, {-998.0f, 0, 90}));
    EXPECT_EQ(object.GetRotation().x, -998.0f);
    EXPECT_EQ(object.GetRotation().z, 90.0f);
}

TEST_F(ObjectPoolTest, ANaNPositionMidMoveEndsTheMoveAtItsTarget) {
    WorldObject& object = *pool.Get(Global());
    ASSERT_TRUE(pool.Move(object, {10, 0, 0}, 1.0f, kOrigin));
    object.SetPosition({std::numeric_limits<float>::quiet_NaN(), 0, 0});
    pool.Process(0.1f);
    EXPECT_EQ(object.GetPosition().x, 10.0f);
    EXPECT_FALSE(object.IsMoving());
    // A pass of NaN or negative length moves nothing.
    ASSERT_TRUE(pool.Move(object, {20, 0, 0}, 1.0f, kOrigin));
    pool.Process(std::numeric_limits<float>::quiet_NaN());
    pool.Process(-5.0f);
    EXPECT_EQ(object.GetPosition().x, 10.0f);
    EXPECT_TRUE(object.IsMoving());
}

TEST_F(ObjectPoolTest, ArrivalsComePlayerByPlayerThenGlobalAndOnlyForConnectedPlayers) {
    // Ids: globals 1, 2; player 2 owns 3 and 4; player 0 owns 3; player 5 (not connected) owns 3.
    ASSERT_EQ(Global(), 1);
    ASSERT_EQ(Global(), 2);
    ASSERT_EQ(Own(2), 3);
    ASSERT_EQ(Own(2), 4);
    ASSERT_EQ(Own(0), 3);
    ASSERT_EQ(Own(5), 3);
    // Started in an order unlike the one of the arrivals.
    for (WorldObject* o : {pool.Get(2), pool.GetPlayerObject(2, 4), pool.Get(1), pool.GetPlayerObject(5, 3),
                           pool.GetPlayerObject(2, 3), pool.GetPlayerObject(0, 3)})
        ASSERT_TRUE(pool.Move(*o, {1, 0, 0}, 1.0f, kOrigin));
    pool.Process(1.0f);
    EXPECT_EQ(host.arrivals,
              (std::vector<std::string>{"player 0 3", "player 2 3", "player 2 4", "global 1", "global 2"}));
    EXPECT_TRUE(pool.GetPlayerObject(5, 3)->IsMoving());
    EXPECT_EQ(pool.GetPlayerObject(5, 3)->GetPosition().x, 0.0f);
    host.connected.insert(5);
    pool.Process(1.0f);
    EXPECT_EQ(host.arrivals.back(), "player 5 3");
    EXPECT_EQ(pool.MovingCount(), 0u);
}

TEST_F(ObjectPoolTest, ScriptsMayChangeThePoolWhileAnArrivalIsRaised) {
    for (int i = 0; i < 6; ++i) Global();
    // 2 arrives first: its script destroys 4 (due this pass), moves 1 (already passed: next pass)
    // and 6 (still to come: this pass), and moves 2 itself again (next pass).
    host.onArrival = [&](uint16_t object, uint16_t) {
        if (object != 2) return;
        EXPECT_EQ(pool.Destroy(4), 1);
        ASSERT_TRUE(pool.Move(*pool.Get(1), {1, 0, 0}, 1.0f, kOrigin));
        ASSERT_TRUE(pool.Move(*pool.Get(6), {1, 0, 0}, 1.0f, kOrigin));
        ASSERT_TRUE(pool.Move(*pool.Get(2), {0, 0, 0}, 1.0f, kOrigin));
        EXPECT_EQ(pool.Destroy(5), 1) << "a moving object that the walk has not reached";
    };
    for (uint16_t id : {2, 3, 4, 5}) ASSERT_TRUE(pool.Move(*pool.Get(id), {1, 0, 0}, 1.0f, kOrigin));
    pool.Process(1.0f);
    EXPECT_EQ(host.arrivals, (std::vector<std::string>{"global 2", "global 3", "global 6"}));
    host.arrivals.clear();
    host.onArrival = [&](uint16_t object, uint16_t) { pool.Destroy(object); };
    pool.Process(1.0f);
    EXPECT_EQ(host.arrivals, (std::vector<std::string>{"global 1", "global 2"}));
    EXPECT_EQ(pool.MovingCount(), 0u);
    EXPECT_EQ(pool.Get(1), nullptr);
}

TEST_F(ObjectPoolTest, StopAndDestroyTakeAnObjectOffTheMovingList) {
    const uint16_t a = Global();
    const uint16_t b = Own(1);
    ASSERT_TRUE(pool.Move(*pool.Get(a), {5, 0, 0}, 1.0f, kOrigin));
    ASSERT_TRUE(pool.Move(*pool.GetPlayerObject(1, b), {5, 0, 0}, 1.0f, kOrigin));
    EXPECT_EQ(pool.MovingCount(), 2u);
    pool.Process(1.0f);
    EXPECT_TRUE(pool.Stop(*pool.Get(a)));
    EXPECT_FALSE(pool.Stop(*pool.Get(a)));
    EXPECT_EQ(pool.Get(a)->GetPosition().x, 1.0f);
    host.connected.erase(1);
    pool.DestroyAllPlayerObjects(1);
    EXPECT_EQ(pool.MovingCount(), 0u);
    pool.Process(10.0f);
    EXPECT_TRUE(host.arrivals.empty());
}

TEST_F(ObjectPoolTest, SendAllToPlayerSendsEveryGlobalObjectInIdOrder) {
    Global();
    Own(0);
    Global();
    Global();
    pool.Destroy(3);
    host.noCameraCollision = true;
    const uint16_t late = Global();
    EXPECT_TRUE(pool.Get(late)->HasNoCameraCollision());
    EXPECT_FALSE(pool.Get(1)->HasNoCameraCollision());
    pool.SendAllToPlayer(7);
    const std::string create = std::to_string(RPC_ObjectCreate) + ">7:";
    EXPECT_EQ(host.sent, (std::vector<std::string>{create + "1", create + "3", create + "4"}));
    // Without a host nothing is sent, and nothing breaks.
    ObjectPool alone;
    alone.Create(1, kOrigin, kOrigin, 1.0f);
    alone.SendAllToPlayer(0);
    EXPECT_FALSE(alone.Get(1)->HasNoCameraCollision());
}

TEST(WorldObjectTest, AttachmentsSetTheirOwnSideAndDetachZeroesTheOffsets) {
    WorldObject object(5, kGlobalObjectOwner, 1, {}, {}, 50.0f, false);
    object.AttachToObject(2, {1, 2, 3}, {4, 5, 6}, 0);
    object.AttachToVehicle(7, {7, 8, 9}, {10, 11, 12});
    EXPECT_EQ(object.GetAttachment().object, 2);
    EXPECT_EQ(object.GetAttachment().vehicle, 7);
    EXPECT_EQ(object.GetAttachment().offset.x, 7.0f);
    EXPECT_EQ(object.GetAttachment().syncRotation, 0);
    object.AttachToObject(-1, {1, 2, 3}, {4, 5, 6}, 0);
    EXPECT_EQ(object.GetAttachment().object, -1);
    EXPECT_EQ(object.GetAttachment().vehicle, 7);
    EXPECT_EQ(object.GetAttachment().offset.x, 0.0f);
    EXPECT_EQ(object.GetAttachment().rotation.z, 0.0f);
    EXPECT_EQ(object.GetAttachment().syncRotation, 1);
    object.AttachToVehicle(-1, {7, 8, 9}, {10, 11, 12});
    EXPECT_EQ(object.GetAttachment().vehicle, -1);
    EXPECT_EQ(object.GetAttachment().offset.y, 0.0f);
}

TEST(WorldObjectTest, SixteenMaterialSlotsInCallOrderNamesCutTextsWhole) {
    WorldObject object(1, kGlobalObjectOwner, 1, {}, {}, 50.0f, false);
    const std::string longName(100, 'n');
    const std::string longText(5000, 't');
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(object.SetMaterial(3, 1000, longName, "tex", 0x11223344));
        ASSERT_TRUE(object.SetMaterialText(3, longText, 90, longName, 24, 1, 0xFF000000, 0, 1));
    }
    EXPECT_FALSE(object.SetMaterial(0, 1, "a", "b", 0));
    EXPECT_FALSE(object.SetMaterialText(0, "x", 1, "f", 1, 0, 0, 0, 0));
    const std::vector<ObjectMaterial>& m = object.GetMaterials();
    ASSERT_EQ(m.size(), 16u);
    EXPECT_EQ(m[0].kind, MaterialKind::Texture);
    EXPECT_EQ(m[0].libraryName.size(), kMaxMaterialName);
    EXPECT_EQ(m[15].kind, MaterialKind::Text);
    EXPECT_EQ(m[15].text, longText);
    EXPECT_EQ(m[15].fontFace.size(), kMaxMaterialName);
    EXPECT_EQ(SwapRedAndBlue(0xFF112233u), 0xFF332211u);
}

}  // namespace
}  // namespace velt
