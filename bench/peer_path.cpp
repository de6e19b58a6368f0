// The server's side of the echo load of bench_net_compare, in one process and without sockets:
// N bot-role clients each send a 32-byte unreliable-sequenced and a 32-byte reliable-ordered
// message every 33 ms of a simulated clock, a server-role peer takes them, hands them to its user
// and the user echoes both. Only the server's work is timed (its passes, the datagrams handed to
// it and its user's receive-and-echo loop), so the figure is the transport's own user-space cost
// per message, free of the kernel and of the machine's other load.
//
// The cold variant flushes the caches before every server pass, as happens on a real server
// while its network thread sleeps between passes and other work runs: there the cost of a
// message is mostly the cache lines of its connection that must be fetched again.
//
// The server's work runs inside ServerSide(), so the instructions and cache misses of that alone
// (with a small simulated cache, every pass is cold) are counted by
//   valgrind --tool=callgrind --cache-sim=yes --D1=4096,4,64 --LL=65536,4,64
//       --toggle-collect='*ServerSide*' build/bench/bench/bench_peer_path --benchmark_filter=Cold
// (one command line).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

using namespace velt;

namespace {

class SimClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return us; }
    uint64_t us = 10'000'000;
};

constexpr uint16_t kServerPort = 7777;
constexpr uint16_t kFirstClientPort = 20000;
constexpr uint8_t kEchoId = 150;
constexpr uint32_t kMessageBytes = 32;
constexpr uint64_t kServerPassUs = 5000;
constexpr uint64_t kClientPassUs = 10000;
constexpr uint64_t kSendPeriodUs = 33333;

struct Datagram {
    uint16_t port;  // the client's port: whom it comes from or goes to
    std::vector<uint8_t> bytes;
};

struct Fleet {
    SimClock clock;
    NetPeer server{SocketRole::Server};
    std::vector<std::unique_ptr<NetPeer>> clients;
    std::vector<Datagram> toServer, toClients;
    uint32_t loopback = 0;
    uint64_t echoed = 0;
    uint32_t accepted = 0;  // clients told their connection was accepted
    uint64_t nextClientPass = 0, nextSend = 0;

    // Routed by port alone: every client has a port of its own.
    static void ServerTap(void* context, PlayerID to, const uint8_t* data, uint32_t length) {
        static_cast<Fleet*>(context)->toClients.push_back(
            {to.port, std::vector<uint8_t>(data, data + length)});
    }
    struct ClientTap {
        Fleet* fleet;
        uint16_t port;
        static void Send(void* context, PlayerID, const uint8_t* data, uint32_t length) {
            auto* tap = static_cast<ClientTap*>(context);
            tap->fleet->toServer.push_back({tap->port, std::vector<uint8_t>(data, data + length)});
        }
    };
    std::vector<std::unique_ptr<ClientTap>> taps;

    explicit Fleet(uint32_t count) {
        inet_pton(AF_INET, "127.0.0.1", &loopback);
        server.SetClock(&clock);
        server.SetManualCycle(true);
        server.SetSocketless(true);
        server.SetRawSendTap(ServerTap, this);
        server.SetMaximumIncomingConnections(uint16_t(count + 16));
        server.Initialize(uint16_t(count + 16), kServerPort, 0, "127.0.0.1");
        for (uint32_t i = 0; i < count; ++i) {
            auto c = std::make_unique<NetPeer>(SocketRole::BotClient);
            taps.push_back(std::make_unique<ClientTap>(ClientTap{this, uint16_t(kFirstClientPort + i)}));
            c->SetClock(&clock);
            c->SetManualCycle(true);
            c->SetSocketless(true);
            c->SetRawSendTap(ClientTap::Send, taps.back().get());
            c->Initialize(1, 0, 0, nullptr);
            c->Connect("127.0.0.1", kServerPort, nullptr, 0);
            clients.push_back(std::move(c));
        }
        // Handshakes: until every client is accepted (bounded).
        for (int step = 0; step < 2000 && accepted < count; ++step) Step(false);
        nextSend = clock.us;
    }
    ~Fleet() {
        for (auto& c : clients) c->Disconnect(0, 0);
        server.Disconnect(0, 0);
    }

    void DeliverToClients() {
        std::vector<Datagram> batch;
        batch.swap(toClients);
        for (Datagram& d : batch) {
            const uint32_t i = uint32_t(d.port - kFirstClientPort);
            if (i < clients.size())
                clients[i]->HandleDatagram(loopback, kServerPort, d.bytes.data(), uint32_t(d.bytes.size()));
        }
    }

    // Everything the server process does in one pass of its network thread and its user.
    __attribute__((noinline)) void ServerSide() {
        std::vector<Datagram> batch;
        batch.swap(toServer);
        // Each client from an address of its own, as on a real server (many unverified systems
        // behind one address look like an attack).
        for (Datagram& d : batch)
            server.HandleDatagram(htonl(0x0A000001u + d.port - kFirstClientPort), d.port, d.bytes.data(),
                                  uint32_t(d.bytes.size()));
        server.RunCycle();
        while (Packet* p = server.Receive()) {
            if (p->length >= 1 && p->data[0] == ID_CONN_HANDSHAKE_DONE) {
                if (ConnectedSystem* cs = server.GetConnectedSystem(p->sender)) cs->loggedOn = 1;
            } else if (p->length == kMessageBytes && p->data[0] == kEchoId) {
                const bool reliable = p->data[1] == 1;
                server.SendBytes(p->data, int32_t(p->length), HIGH_PRIORITY_LEVEL,
                                 reliable ? RELIABILITY_RELIABLE_ORDERED : RELIABILITY_UNRELIABLE_SEQUENCED,
                                 reliable ? 2 : 1, p->sender, false);
                ++echoed;
            }
            server.FreePacket(p);
        }
    }

    bool flushCaches = false;
    std::vector<uint8_t> flushBuffer;
    void FlushCaches() {
        if (flushBuffer.empty()) flushBuffer.resize(64u << 20);  // larger than any cache here
        for (size_t i = 0; i < flushBuffer.size(); i += 64) ++flushBuffer[i];
    }

    // One server pass of simulated time; returns the seconds the server's side took.
    double Step(bool load) {
        clock.us += kServerPassUs;
        if (load && clock.us >= nextSend) {
            nextSend += kSendPeriodUs;
            uint8_t m[kMessageBytes] = {kEchoId};
            for (auto& c : clients) {
                for (uint8_t kind = 0; kind < 2; ++kind) {
                    m[1] = kind;
                    c->SendBytes(m, kMessageBytes, HIGH_PRIORITY_LEVEL,
                                 kind ? RELIABILITY_RELIABLE_ORDERED : RELIABILITY_UNRELIABLE_SEQUENCED,
                                 kind ? 2 : 1, c->GetPlayerIDFromIndex(0), false);
                }
            }
        }
        if (flushCaches) FlushCaches();
        const auto start = std::chrono::steady_clock::now();
        ServerSide();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        DeliverToClients();
        if (clock.us >= nextClientPass) {
            nextClientPass = clock.us + kClientPassUs;
            for (auto& c : clients) {
                c->RunCycle();
                while (Packet* p = c->Receive()) {
                    if (p->length >= 1 && p->data[0] == ID_CONN_ACCEPTED) ++accepted;
                    c->FreePacket(p);
                }
            }
        }
        return seconds;
    }
};

void RunEchoPath(benchmark::State& state, bool cold) {
    const uint32_t count = uint32_t(state.range(0));
    Fleet fleet(count);
    fleet.flushCaches = cold;
    if (fleet.accepted < count) {
        state.SkipWithError("not every client connected");
        return;
    }
    for (int i = 0; i < 100; ++i) fleet.Step(true);  // settle into the load
    const uint64_t echoedBefore = fleet.echoed;
    double serverSeconds = 0;
    for (auto _ : state) {
        double seconds = 0;
        for (int i = 0; i < 200; ++i) seconds += fleet.Step(true);  // one simulated second
        state.SetIterationTime(seconds);
        serverSeconds += seconds;
    }
    const double messages = double(fleet.echoed - echoedBefore);
    state.counters["messages"] = messages;
    state.counters["server_ns_per_message"] = messages > 0 ? serverSeconds * 1e9 / messages : 0;
}

void BM_ServerEchoPath(benchmark::State& state) { RunEchoPath(state, false); }
void BM_ServerEchoPathCold(benchmark::State& state) { RunEchoPath(state, true); }

BENCHMARK(BM_ServerEchoPath)->Arg(200)->Arg(500)->UseManualTime()->Unit(benchmark::kMillisecond);
// Fixed iterations, so that instruction and miss counts of two builds compare directly.
BENCHMARK(BM_ServerEchoPathCold)
    ->Arg(200)
    ->Arg(500)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
