// The spatial grid against a walk over every entity: it must offer every entity the exact distance
// test would accept, on cell and world boundaries and for positions no client should send; and
// the streaming passes and audiences built on it must reach the same players, in the same order,
// as a walk over every id.

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "server/game/SpatialGrid.h"
#include "server/game/Streaming.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Coordinates that stress the grid: anywhere in the world, on and next to multiples of the range
// (where cells meet), at the world's edge, and far outside it or not numbers at all.
class Coordinates {
public:
    Coordinates(float range, uint32_t seed) : range_(range), rng_(seed) {}
    float Next() {
        std::uniform_int_distribution<int> kind(0, 9);
        std::uniform_real_distribution<float> world(-20000.0f, 20000.0f);
        std::uniform_int_distribution<int> multiple(-100, 100);
        std::uniform_int_distribution<int> ulps(-2, 2);
        const float hostile[] = {kNaN,    kInf, -kInf,     1e30f,    -1e30f,
                                 3.4e38f, 1e7f, -20000.0f, 20000.0f, -1e-10f};
        switch (kind(rng_)) {
            case 0:
            case 1:
            case 2: return world(rng_);
            case 3:
            case 4:
            case 5: {
                float at = float(multiple(rng_)) * range_;
                for (int n = ulps(rng_); n != 0; n += n > 0 ? -1 : 1)
                    at = std::nextafter(at, n > 0 ? kInf : -kInf);
                return at;
            }
            case 6: return std::uniform_real_distribution<float>(-400.0f, 400.0f)(rng_);
            default: return hostile[std::uniform_int_distribution<int>(0, 9)(rng_)];
        }
    }

private:
    float range_;
    std::mt19937 rng_;
};

TEST(SpatialGridTest, OffersEveryEntityInRangeWhereverItIs) {
    for (const float range : {50.0f, 100.0f, 200.0f, 400.0f}) {
        SCOPED_TRACE(range);
        Coordinates next(range, uint32_t(range));
        constexpr uint16_t kEntities = 600;
        SpatialGrid grid(kEntities);
        std::vector<std::pair<float, float>> at(kEntities);
        std::vector<bool> placed(kEntities, false);
        for (int round = 0; round < 4; ++round) {
            // Everyone moves, some leave, and some are measured elsewhere and offered everywhere.
            for (uint16_t id = 0; id < kEntities; ++id) {
                if ((id + round) % 11 == 0) {
                    grid.Remove(id);
                    placed[id] = false;
                    continue;
                }
                at[id] = {next.Next(), next.Next()};
                grid.Place(id, at[id].first, at[id].second);
                placed[id] = true;
            }
            grid.PlaceEverywhere(uint16_t(round));
            for (int query = 0; query < 300; ++query) {
                const float x = next.Next(), y = next.Next();
                std::vector<uint16_t> offered;
                grid.Candidates(x, y, range, offered);
                std::set<uint16_t> unique(offered.begin(), offered.end());
                ASSERT_EQ(unique.size(), offered.size()) << "an entity offered twice";
                for (uint16_t id = 0; id < kEntities; ++id) {
                    const bool near =
                        placed[id] && SquaredDistance2D(x, y, at[id].first, at[id].second) <= range * range;
                    if (near)
                        ASSERT_TRUE(unique.count(id)) << id << " at " << at[id].first << "," << at[id].second
                                                      << " missed from " << x << "," << y;
                    if (!placed[id] && id != round) ASSERT_FALSE(unique.count(id)) << id << " was removed";
                }
                ASSERT_TRUE(unique.count(uint16_t(round)));
            }
            // However wild the positions, there are no more cells than entities.
            EXPECT_LE(grid.CellCount(), size_t(kEntities));
        }
    }
}

TEST(SpatialGridTest, APairJustWithinRangeAcrossTwoCellEdgesIsOffered) {
    // Float arithmetic rounds this pair's distance down to the range exactly; the true distance is
    // a hair more, and their cells are two apart without the grid's slack.
    const float range = 200.0f;
    SpatialGrid grid(2);
    grid.Place(0, -1e-10f, 0.0f);
    grid.Place(1, range, 0.0f);
    ASSERT_LE(SquaredDistance2D(-1e-10f, 0.0f, range, 0.0f), range * range);
    std::vector<uint16_t> offered;
    grid.Candidates(range, 0.0f, range, offered);
    EXPECT_NE(std::find(offered.begin(), offered.end(), 0), offered.end());
    offered.clear();
    grid.Candidates(-1e-10f, 0.0f, range, offered);
    EXPECT_NE(std::find(offered.begin(), offered.end(), 1), offered.end());
    // A NaN is near nothing, and nothing is near it.
    grid.Place(1, kNaN, 0.0f);
    offered.clear();
    grid.Candidates(kNaN, 0.0f, range, offered);
    EXPECT_TRUE(offered.empty());
    grid.Candidates(range, 0.0f, range, offered);
    EXPECT_EQ(offered, std::vector<uint16_t>{0});
}

// ---- the passes and audiences on the grid against a walk over every id -----------------------

class GridStreamingTest : public ProtocolTest {
protected:
    static constexpr float kRange = 100.0f;
    void SetUp() override {
        ProtocolTest::SetUp();
        settings_.streamDistance = kRange;
        StartProtocol();
    }

    // Who player `viewer` must have streamed in, by the rule itself over every id.
    std::vector<uint16_t> PlayersInRange(uint16_t viewer, int players) {
        std::vector<uint16_t> out;
        const Vector3& me = player(viewer)->GetPosition();
        for (uint16_t id = 0; id < players; ++id) {
            const Player* other = player(id);
            if (id == viewer || other->GetState() == PLAYER_STATE_NONE ||
                other->GetState() == PLAYER_STATE_SPECTATING ||
                pool()->GetVirtualWorld(id) != pool()->GetVirtualWorld(viewer))
                continue;
            Vector3 where = other->GetPosition();
            if (other->GetState() == PLAYER_STATE_PASSENGER &&
                !game_->GetVehiclePool()->GetPosition(other->GetVehicleId(), where)) {
                ADD_FAILURE() << "every passenger here has a vehicle";
                continue;
            }
            if (SquaredDistance2D(me.x, me.y, where.x, where.y) <= kRange * kRange) out.push_back(id);
        }
        return out;
    }
    // The vehicles he must hold after a pass: those of his world in range but train carriages, and
    // the one he sits in when he held it already.
    std::vector<uint16_t> VehiclesInRange(uint16_t viewer, bool heldOwn) {
        std::vector<uint16_t> out;
        VehiclePool* vehicles = game_->GetVehiclePool();
        const Vector3& me = player(viewer)->GetPosition();
        for (uint16_t id = 1; id <= vehicles->GetUpperIndex(); ++id) {
            const Vehicle* v = vehicles->Get(id);
            if (v == nullptr || vehicles->GetVirtualWorld(id) != pool()->GetVirtualWorld(viewer) ||
                v->GetModel() == 570)
                continue;
            const Vector3& at = v->GetPosition();
            if (SquaredDistance2D(me.x, me.y, at.x, at.y) <= kRange * kRange ||
                (heldOwn && id == player(viewer)->GetVehicleId()))
                out.push_back(id);
        }
        return out;
    }
    // The ids of the stream-in and stream-out messages a player got, in the order they came.
    std::vector<uint16_t> StreamMessageOrder(uint16_t viewer) {
        std::vector<uint16_t> out;
        for (const FakeNetServer::Message& m : net_->To(FakeNetServer::AddressOf(viewer))) {
            if (m.isRpc && (m.rpcId == RPC_PlayerStreamIn || m.rpcId == RPC_PlayerStreamOut))
                out.push_back(Reader(m).Get<uint16_t>());
        }
        return out;
    }
    // The slots a message went to, in the order it went to them.
    std::vector<uint16_t> Receivers() {
        std::vector<uint16_t> out;
        for (const FakeNetServer::Message& m : net_->sent)
            for (uint16_t slot = 0; slot < kMaxPlayers; ++slot)
                if (m.target == FakeNetServer::AddressOf(slot)) out.push_back(slot);
        return out;
    }
};

TEST_F(GridStreamingTest, PassesAndAudiencesMatchAWalkOverEveryId) {
    std::mt19937 rng(38);
    constexpr int kPlayers = 90;
    constexpr int kVehicles = 40;
    // A small square, so that many are within range of many and cells are crossed all the time.
    std::uniform_real_distribution<float> near(-300.0f, 300.0f);
    std::uniform_int_distribution<int> dice(0, 19);
    for (uint16_t id = 0; id < kPlayers; ++id)
        JoinAt(id, ("P" + std::to_string(id)).c_str(), near(rng), near(rng));
    std::vector<uint16_t> vehicles;
    for (int i = 0; i < kVehicles; ++i)
        vehicles.push_back(game_->GetVehiclePool()->New(i % 10 == 0 ? 570 : 411,
                                                        {near(rng), near(rng), 10.0f}, 0.0f, 1, 1, -1));
    const float wild[] = {kNaN, kInf, -kInf, 1e30f, -3.4e38f, 25000.0f, -20000.0f};

    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        for (uint16_t id = 0; id < kPlayers; ++id) {
            Player* p = player(id);
            const int roll = dice(rng);
            if (roll == 0) {
                p->UpdatePosition(wild[id % 7], wild[(id + round) % 7], 10.0f, false);
            } else if (roll == 1) {
                pool()->SetVirtualWorld(id, round % 2);
            } else if (roll == 2) {
                p->SetState(PLAYER_STATE_SPECTATING);
            } else if (roll == 3) {
                p->SetVehicleId(vehicles[id % kVehicles]);
                p->SetState(PLAYER_STATE_PASSENGER);
            } else {
                p->SetState(PLAYER_STATE_ONFOOT);
                p->SetVehicleId(0);
                p->UpdatePosition(near(rng), near(rng), 10.0f, false);
            }
        }
        for (uint16_t v : vehicles) {
            if (dice(rng) < 5) game_->GetVehiclePool()->Get(v)->SetPosition({near(rng), near(rng), 10.0f});
        }
        for (uint16_t id = 0; id < kPlayers; ++id) {
            net_->sent.clear();
            const bool heldOwn = player(id)->IsVehicleStreamedIn(player(id)->GetVehicleId());
            player(id)->StreamingPass();
            std::vector<uint16_t> streamed;
            for (uint16_t other = 0; other < kPlayers; ++other)
                if (player(id)->IsPlayerStreamedIn(other)) streamed.push_back(other);
            ASSERT_EQ(streamed, PlayersInRange(id, kPlayers)) << "player " << id;
            std::vector<uint16_t> streamedVehicles;
            for (uint16_t v : vehicles)
                if (player(id)->IsVehicleStreamedIn(v)) streamedVehicles.push_back(v);
            ASSERT_EQ(streamedVehicles, VehiclesInRange(id, heldOwn)) << "player " << id;
            // Ins and outs come in one ascending sweep, as a walk over the ids sends them.
            const std::vector<uint16_t> order = StreamMessageOrder(id);
            ASSERT_TRUE(std::is_sorted(order.begin(), order.end()));
        }

        // Every audience is exactly those streaming, in id order, but the one excepted.
        for (uint16_t v : vehicles) {
            const uint16_t except = uint16_t(v % kPlayers);
            std::vector<uint16_t> expected;
            for (uint16_t id = 0; id < kPlayers; ++id)
                if (id != except && player(id)->IsVehicleStreamedIn(v)) expected.push_back(id);
            BitStream bs;
            bs.Write(uint8_t(ID_UNOCCUPIED_SYNC));
            net_->sent.clear();
            game_->SendPacketToVehicleStreamers(&bs, v, except);
            ASSERT_EQ(Receivers(), expected) << "vehicle " << v;
            net_->sent.clear();
            game_->SendRpcToPlayersStreamingVehicle(RPC_VehicleStreamOut, &bs, v, except, RpcChannel::World);
            ASSERT_EQ(Receivers(), expected) << "vehicle " << v;

            // The nearest human in play that streams it, the lowest id among equals.
            uint16_t nearest = 0xFFFF;
            float best = 100000.0f;
            for (uint16_t id = 0; id < kPlayers; ++id) {
                const Player* p = player(id);
                if (p->GetState() == PLAYER_STATE_NONE || p->GetState() == PLAYER_STATE_SPECTATING ||
                    !p->IsVehicleStreamedIn(v))
                    continue;
                const float d = game_->GetVehiclePool()->Get(v)->GetDistanceFromPoint(p->GetPosition());
                if (d < best) best = d, nearest = id;
            }
            ASSERT_EQ(game_->GetVehiclePool()->FindNearestSyncer(v), nearest) << "vehicle " << v;
        }
        for (uint16_t id = 0; id < kPlayers; id = uint16_t(id + 7)) {
            std::vector<uint16_t> expected;
            for (uint16_t other = 0; other < kPlayers; ++other)
                if (other != id && player(other)->IsPlayerStreamedIn(id)) expected.push_back(other);
            BitStream bs;
            bs.Write(uint8_t(1));
            net_->sent.clear();
            game_->SendRpcToPlayersStreamingPlayer(RPC_SkillLevelSet, &bs, id, RpcChannel::World);
            ASSERT_EQ(Receivers(), expected) << "player " << id;
        }
    }

    // Players who leave drop out of every audience; a newcomer in a slot is nobody's viewer yet.
    const uint16_t v = vehicles[1];
    std::vector<uint16_t> viewers;
    for (uint16_t id = 0; id < kPlayers; ++id)
        if (player(id)->IsVehicleStreamedIn(v)) viewers.push_back(id);
    ASSERT_FALSE(viewers.empty());
    pool()->Disconnect(viewers[0], DISCONNECT_QUIT);
    pool()->Process(0.0f);
    Join(viewers[0], "Newcomer");
    BitStream bs;
    bs.Write(uint8_t(ID_UNOCCUPIED_SYNC));
    net_->sent.clear();
    game_->SendPacketToVehicleStreamers(&bs, v, kNoPlayer);
    const std::vector<uint16_t> rest(viewers.begin() + 1, viewers.end());
    EXPECT_EQ(Receivers(), rest);
}

}  // namespace
}  // namespace velt::test
