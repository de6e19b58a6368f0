// The synchronisation relay as the player count grows: N simulated players on a square grid whose
// spacing gives each about K others within the stream distance, all on foot or all driving their
// own vehicle, each reporting at the clients' sync rate. One main-loop pass (GameServer::Process:
// the packet loop, the players' relays, the vehicles' pass) is timed (processor time of the
// thread) on an in-process transport
// that only counts what goes out (no sockets, no copies). Prints per N the pass cost p50/p99, the
// bytes out per second (sync relays apart), and the cost per relayed receiver, which would stay
// flat while the cost grows as N·K.
//
//   bench_sync_relay [--k=K] [--seconds=S] [--n=N]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/bench_game_server.h"
#include "server/console/Console.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "server/shared/SyncRecords.h"
#include "tests/server/FakeNetServer.h"

using namespace velt;

namespace {

constexpr float kPassSeconds = 0.005f;  // the main loop's sleep between passes
constexpr uint32_t kPassMs = 5;

// Counts bytes per message id instead of keeping them.
class CountingNet : public bench::QueueNet {
public:
    // The game sends by slot; a message for k receivers counts k times, as it leaves k times.
    bool SendToSlots(std::span<const uint16_t> slots, const BitStream& bs, const Delivery&) override {
        Count(&bs, bs.GetData() != nullptr && bs.GetNumberOfBytesUsed() > 0 ? bs.GetData()[0] : 0,
              slots.size());
        return true;
    }
    bool Broadcast(const BitStream& bs, const Delivery&, int32_t) override {
        Count(&bs, 0, addresses.size());
        return true;
    }
    bool RpcToSlots(uint8_t, const BitStream* bs, std::span<const uint16_t> slots, const Delivery&) override {
        Count(bs, 0, slots.size());
        return true;
    }

    void Count(const BitStream* bs, uint8_t id, size_t receivers) {
        const uint64_t n = bs != nullptr ? uint64_t(bs->GetNumberOfBytesUsed()) * receivers : 0;
        total += n;
        if (id == 200 || id == 207) relay += n, relayMessages += receivers;
    }

    uint64_t total = 0, relay = 0, relayMessages = 0;
};

struct Result {
    double p50us, p99us, totalKBs, relayKBs, avgSeen, usPerReceiver;
};

class Simulation {
public:
    Simulation(int players, bool driving, float spacing) : players_(players), driving_(driving) {
        console_ = std::make_unique<Console>();
        game_ = bench::StartBenchServer(
            *console_, settings_, hosts_, [this] { return now_; }, net_);
        const int side = int(std::ceil(std::sqrt(double(players))));
        net_->addresses.resize(players);
        for (int i = 0; i < players; ++i) {
            const uint16_t id = uint16_t(i);
            net_->addresses[i] = test::FakeNetServer::AddressOf(i);
            net_->AddSlot(i, net_->addresses[i]);
            char name[16];
            std::snprintf(name, sizeof name, "P%d", i);
            // Players join over a second, as they would: their streaming passes and radar updates
            // (each on a timer started at the join) spread over the passes.
            now_ += uint32_t(1000 / players);
            game_->GetPlayerPool()->Connect(id, name, nullptr, nullptr, false);
            home_.push_back(
                {float(i % side) * spacing - 5000.0f, float(i / side) * spacing - 5000.0f, 10.0f});
            if (driving) vehicle_.push_back(game_->GetVehiclePool()->New(411, home_[i], 0.0f, 1, 1, -1));
            packets_.push_back(MakePacket(id));
        }
        // Everyone placed on foot, a streaming pass each (which also puts the drivers' own vehicles
        // in their view), then the first records of the kind under test: the world as it stays.
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < players; ++i) Report(i, 0.0f, pass == 1 && driving);
            game_->ProcessPackets();
            for (int i = 0; i < players; ++i) game_->GetPlayerPool()->GetAt(uint16_t(i))->StreamingPass();
        }
    }

    ~Simulation() {
        bench::StopBenchServer(game_, *console_);
        for (Packet* p : packets_) velt::FreePacket(p);
    }

    Result Run(double seconds, int syncRateMs) {
        // Each pass, the clients whose sync interval came round report once, in turn.
        const double perPass = double(players_) * kPassMs / syncRateMs;
        double due = 0.0;
        int next = 0;
        const int passes = int(seconds * 1000.0 / kPassMs);
        std::vector<double> costs;
        net_->total = net_->relay = net_->relayMessages = 0;
        for (int pass = 0; pass < passes; ++pass) {
            due += perPass;
            for (; due >= 1.0; due -= 1.0, next = (next + 1) % players_)
                Report(next, float(pass % 7) * 0.1f, driving_);
            now_ += kPassMs;
            const double start = bench::ThreadMicroseconds();
            game_->Process(kPassSeconds);
            costs.push_back(bench::ThreadMicroseconds() - start);
        }
        std::sort(costs.begin(), costs.end());
        double seen = 0;
        for (int i = 0; i < players_; ++i)
            seen += game_->GetPlayerPool()->GetAt(uint16_t(i))->StreamedPlayerCount();
        double sum = 0;
        for (double c : costs) sum += c;
        Result r;
        r.p50us = costs[costs.size() / 2];
        r.p99us = costs[std::min(costs.size() - 1, costs.size() * 99 / 100)];
        r.totalKBs = double(net_->total) / seconds / 1024.0;
        r.relayKBs = double(net_->relay) / seconds / 1024.0;
        r.avgSeen = seen / players_;
        r.usPerReceiver = net_->relayMessages != 0 ? sum / double(net_->relayMessages) : 0.0;
        return r;
    }

private:
    Packet* MakePacket(uint16_t id) {
        const size_t size = 1 + std::max(InCarSyncRecord::kSize, OnFootSyncRecord::kSize);
        Packet* p = NewPacket(uint32_t(size));
        p->playerIndex = id;
        p->sender = net_->addresses[id];
        return p;
    }

    // Player i's next record, a little off its home so the relays carry changing positions.
    void Report(int i, float drift, bool driving) {
        Packet* p = packets_[i];
        const Vector3 at{home_[i].x + drift, home_[i].y, home_[i].z};
        if (driving) {
            InCarSyncRecord r;
            r.vehicleId = vehicle_[i];
            r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
            r.position = at;
            r.velocity = {0.2f, 0.0f, 0.0f};
            r.vehicleHealth = 1000.0f;
            r.playerHealth = 100;
            net_->QueueRecord(p, 200, r);
        } else {
            net_->QueueRecord(p, 207, bench::WalkingRecord(at));
        }
    }

    int players_;
    bool driving_;
    ServerSettings settings_;
    std::unique_ptr<Console> console_;
    StandInScripts scripts_;
    StandInScriptHostFactory hosts_{scripts_};
    std::unique_ptr<GameServer> game_;
    CountingNet* net_ = nullptr;
    uint32_t now_ = 100000;
    std::vector<Vector3> home_;
    std::vector<uint16_t> vehicle_;
    std::vector<Packet*> packets_;
};

}  // namespace

int main(int argc, char** argv) {
    const double k = bench::Arg(argc, argv, "--k", 20.0);
    const double seconds = bench::Arg(argc, argv, "--seconds", 3.0);
    const int only = int(bench::Arg(argc, argv, "--n", 0));  // one player count alone, for a profiler
    char dir[] = "/tmp/velt_bench_relay_XXXXXX";
    if (!bench::EnterScratchDir(dir)) return 1;

    ServerSettings defaults;
    // Lattice points within the stream distance: pi R^2 / s^2, the player himself among them.
    const float spacing = defaults.streamDistance * float(std::sqrt(M_PI / (k + 1.0)));
    std::printf(
        "sync relay: one main-loop pass, %g s simulated per row after 1 s warm-up, sync rate %d ms,\n"
        "grid spacing %.1f for about %g others within %.0f units\n\n",
        seconds, defaults.onFootRate, spacing, k, defaults.streamDistance);
    std::printf("%-8s %6s %7s %10s %10s %12s %12s %14s\n", "mode", "N", "seen", "p50 us", "p99 us",
                "relay kB/s", "total kB/s", "us/relay sent");
    for (bool driving : {false, true}) {
        for (int n : {50, 100, 200, 500, 1000}) {
            if (only != 0 && n != only) continue;
            Simulation sim(n, driving, spacing);
            sim.Run(1.0, driving ? defaults.inCarRate : defaults.onFootRate);
            const Result r = sim.Run(seconds, driving ? defaults.inCarRate : defaults.onFootRate);
            std::printf("%-8s %6d %7.1f %10.1f %10.1f %12.1f %12.1f %14.3f\n",
                        driving ? "driving" : "on foot", n, r.avgSeen, r.p50us, r.p99us, r.relayKBs,
                        r.totalKBs, r.usPerReceiver);
            std::fflush(stdout);
        }
    }
    bench::LeaveScratchDir(dir);
    return 0;
}
