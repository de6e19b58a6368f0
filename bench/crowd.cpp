// A crowd on one server: N on-foot players on a square grid whose spacing gives each about K others
// within the stream distance, every one reporting at the clients' on-foot rate and walking a small
// circle round his place (so the streaming passes, the grid and the radar all have work). The real
// game server code runs in this process on a transport that only counts what goes out: the packet
// loop, the sync readers, the relays, the streaming passes and the map markers of each main-loop
// pass, on a simulated clock.
//
// Per row: the main thread's processor time per simulated second (its CPU share when the clock
// runs in real time), the pass's processor time p50/p99, bytes out per second, the processor time
// per relayed message (flat when relays cost O(k)), the peak resident memory, and the time
// the server spends joining the N players (their connects and first streaming passes).
//
//   bench_crowd [--seconds=S] [--n=N] [--k=K]

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
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
constexpr float kWalkRadius = 20.0f;

class CountingNet : public bench::QueueNet {
public:
    bool SendToSlots(std::span<const uint16_t> slots, const BitStream& bs, const Delivery&) override {
        Count(bs, slots.size());
        return true;
    }
    bool Broadcast(const BitStream& bs, const Delivery&, int32_t) override {
        Count(bs, 1);
        return true;
    }
    bool RpcToSlots(uint8_t, const BitStream* bs, std::span<const uint16_t> slots, const Delivery&) override {
        if (bs != nullptr) total += uint64_t(bs->GetNumberOfBytesUsed()) * slots.size();
        return true;
    }

    void Count(const BitStream& bs, size_t receivers) {
        const uint64_t n = uint64_t(bs.GetNumberOfBytesUsed()) * receivers;
        total += n;
        const uint8_t id = bs.GetData() != nullptr && bs.GetNumberOfBytesUsed() > 0 ? bs.GetData()[0] : 0;
        if (id == 207) relayMessages += receivers;
        if (id == 208) markers += n;
    }

    uint64_t total = 0, markers = 0, relayMessages = 0;
};

// The peak resident memory of this process: each row runs in a process of its own.
double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0.0;
}

struct Result {
    double cpuPercent, p50us, p99us, kbOut, kbMarkers, usPerRelay, seen;
};

class Crowd {
public:
    Crowd(int players, float spacing) : players_(players) {
        console_ = std::make_unique<Console>();
        game_ = bench::StartBenchServer(
            *console_, settings_, hosts_, [this] { return now_; }, net_);
        const int side = int(std::ceil(std::sqrt(double(players))));
        net_->addresses.resize(players);
        for (int i = 0; i < players; ++i) {
            home_.push_back(
                {float(i % side) * spacing - 5000.0f, float(i / side) * spacing - 5000.0f, 10.0f});
            packets_.push_back(nullptr);
        }
        // The joins: each player connects and is placed, as his first record would place him.
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < players; ++i) {
            const uint16_t id = uint16_t(i);
            net_->addresses[i] = test::FakeNetServer::AddressOf(i);
            net_->AddSlot(i, net_->addresses[i]);
            char name[16];
            std::snprintf(name, sizeof name, "P%d", i);
            // Spread over a second, so that the per-player timers spread over the passes.
            now_ += uint32_t(1000 / players);
            game_->GetPlayerPool()->Connect(id, name, nullptr, nullptr, false);
            packets_[i] = MakePacket(id);
            Report(i, 0);
            game_->ProcessPackets();
            game_->GetPlayerPool()->GetAt(id)->StreamingPass();
        }
        joinMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        for (int i = 0; i < players; ++i) game_->GetPlayerPool()->GetAt(uint16_t(i))->StreamingPass();
    }

    ~Crowd() {
        bench::StopBenchServer(game_, *console_);
        for (Packet* p : packets_) velt::FreePacket(p);
    }

    double JoinMs() const { return joinMs_; }

    Result Run(double seconds) {
        const int syncRateMs = settings_.onFootRate;
        const double perPass = double(players_) * kPassMs / syncRateMs;
        double due = 0.0;
        const int passes = int(seconds * 1000.0 / kPassMs);
        std::vector<double> costs;
        costs.reserve(size_t(passes));
        net_->total = net_->markers = net_->relayMessages = 0;
        for (int pass = 0; pass < passes; ++pass) {
            due += perPass;
            for (; due >= 1.0; due -= 1.0, next_ = (next_ + 1) % players_) Report(next_, ++step_);
            now_ += kPassMs;
            const double start = bench::ThreadMicroseconds();
            game_->Process(kPassSeconds);
            costs.push_back(bench::ThreadMicroseconds() - start);
        }
        double sum = 0;
        for (double c : costs) sum += c;
        std::sort(costs.begin(), costs.end());
        double seen = 0;
        for (int i = 0; i < players_; ++i)
            seen += game_->GetPlayerPool()->GetAt(uint16_t(i))->StreamedPlayerCount();
        Result r;
        r.cpuPercent = sum / (seconds * 1e6) * 100.0;
        r.p50us = costs[costs.size() / 2];
        r.p99us = costs[std::min(costs.size() - 1, costs.size() * 99 / 100)];
        r.kbOut = double(net_->total) / seconds / 1024.0;
        r.kbMarkers = double(net_->markers) / seconds / 1024.0;
        r.usPerRelay = net_->relayMessages != 0 ? sum / double(net_->relayMessages) : 0.0;
        r.seen = seen / players_;
        return r;
    }

private:
    Packet* MakePacket(uint16_t id) {
        Packet* p = NewPacket(uint32_t(1 + OnFootSyncRecord::kSize));
        p->playerIndex = id;
        p->sender = net_->addresses[id];
        return p;
    }

    // Player i's next record: a step along a small circle round his place.
    void Report(int i, uint32_t step) {
        Packet* p = packets_[i];
        const float angle = float(step % 360u) * float(M_PI / 180.0) + float(i);
        const Vector3 at{home_[i].x + kWalkRadius * std::cos(angle),
                         home_[i].y + kWalkRadius * std::sin(angle), 10.0f};
        net_->QueueRecord(p, 207, bench::WalkingRecord(at));
    }

    int players_;
    ServerSettings settings_;
    std::unique_ptr<Console> console_;
    StandInScripts scripts_;
    StandInScriptHostFactory hosts_{scripts_};
    std::unique_ptr<GameServer> game_;
    CountingNet* net_ = nullptr;
    uint32_t now_ = 100000;
    std::vector<Vector3> home_;
    std::vector<Packet*> packets_;
    int next_ = 0;
    uint32_t step_ = 0;
    double joinMs_ = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
    const double seconds = bench::Arg(argc, argv, "--seconds", 5.0);
    const int onlyN = int(bench::Arg(argc, argv, "--n", 0));
    const double onlyK = bench::Arg(argc, argv, "--k", 0);
    char dir[] = "/tmp/velt_bench_crowd_XXXXXX";
    if (!bench::EnterScratchDir(dir)) return 1;

    ServerSettings defaults;
    std::printf(
        "crowd: on-foot players at %d ms, one main-loop pass every %u ms (simulated clock), %g s per row\n"
        "after a 3 s warm-up; CPU = main thread's processor time per simulated second\n\n",
        defaults.onFootRate, kPassMs, seconds);
    std::printf("%4s %5s %6s %7s %9s %9s %10s %10s %12s %8s %9s\n", "k", "N", "seen", "CPU %", "p50 us",
                "p99 us", "out kB/s", "radar kB/s", "us/relay", "RSS MB", "join ms");
    for (double k : {10.0, 40.0}) {
        if (onlyK != 0 && k != onlyK) continue;
        // Lattice points within the stream distance: pi R^2 / s^2, the player himself among them.
        const float spacing = defaults.streamDistance * float(std::sqrt(M_PI / (k + 1.0)));
        for (int n : {100, 500, 1000}) {
            if (onlyN != 0 && n != onlyN) continue;
            std::fflush(stdout);
            const pid_t child = fork();
            if (child < 0) return 1;
            if (child == 0) {
                Crowd crowd(n, spacing);
                // Past the first round of every per-player timer (radar at 2.5 s): the memory the
                // first packets take is the process's from then on, and the rows show the steady state.
                crowd.Run(3.0);
                const Result r = crowd.Run(seconds);
                std::printf("%4g %5d %6.1f %7.2f %9.1f %9.1f %10.1f %10.1f %12.3f %8.1f %9.1f\n", k, n,
                            r.seen, r.cpuPercent, r.p50us, r.p99us, r.kbOut, r.kbMarkers, r.usPerRelay,
                            ResidentMegabytes(), crowd.JoinMs());
                std::fflush(stdout);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
    }
    bench::LeaveScratchDir(dir);
    return 0;
}
