// ObjectPool::Process, the per-pass cost of the world's objects: 2000 objects (1000 global, 100
// for each of 10 players) of which none, 20 (10 of each kind) or all move. Only moving objects
// cost anything: the pool walks its list of moving objects, not every id of every player.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "server/world/ObjectPool.h"

using velt::BitStream;
using velt::ObjectPool;
using velt::ObjectPoolHost;
using velt::Vector3;

namespace {

constexpr uint16_t kGlobals = 1000;
constexpr uint16_t kPlayers = 10;
constexpr uint16_t kPerPlayer = 100;

// Every player is connected; messages and arrivals go nowhere (none arrives while measured).
class QuietHost : public ObjectPoolHost {
public:
    bool IsPlayerConnected(uint16_t) override { return true; }
    bool DefaultNoCameraCollision() override { return false; }
    void SendRpcToPlayer(uint8_t, const BitStream&, uint16_t) override {}
    void ObjectMoved(uint16_t) override {}
    void PlayerObjectMoved(uint16_t, uint16_t) override {}
};

// Half the moving objects are global (spread over their ids), half per-player (one per player in
// turn); each heads for a point a million units away, far beyond what the measured passes cover.
void Fill(ObjectPool& pool, int moving) {
    for (uint16_t i = 0; i < kGlobals; ++i) pool.Create(1000 + i, {float(i), 0, 0}, {}, 300.0f);
    for (uint16_t p = 0; p < kPlayers; ++p)
        for (uint16_t i = 0; i < kPerPlayer; ++i)
            pool.CreatePlayerObject(p, 2000 + i, {0, float(i), 0}, {}, 300.0f);
    const int globalStride = moving > 0 ? kGlobals / ((moving + 1) / 2) : 0;
    for (int k = 0; k < (moving + 1) / 2; ++k)
        (void)pool.Move(*pool.Get(uint16_t(1 + k * globalStride)), {1e6f, 1e6f, 0}, 1.0f, {});
    for (int k = 0; k < moving / 2; ++k) {
        const uint16_t player = uint16_t(k % kPlayers);
        const uint16_t id = uint16_t(kGlobals + 1 + k / kPlayers);
        (void)pool.Move(*pool.GetPlayerObject(player, id), {0, 1e6f, 1e6f}, 1.0f, {});
    }
}

void BM_ObjectPoolProcess(benchmark::State& state) {
    QuietHost host;
    ObjectPool pool(&host);
    Fill(pool, int(state.range(0)));
    if (pool.MovingCount() != size_t(state.range(0))) state.SkipWithError("wrong number of moving objects");
    for (auto _ : state) {
        pool.Process(0.001f);
        benchmark::ClobberMemory();
    }
    state.counters["moving"] = double(pool.MovingCount());
}
BENCHMARK(BM_ObjectPoolProcess)->Arg(0)->Arg(20)->Arg(2000);

}  // namespace
