// libFuzzer: the secure handshake and the enciphered link between two library-role peers, with
// the wire between them in the fuzzer's hands. Each input runs one fresh pair (no sockets, no
// threads, a clock moved here) through the handshake and a few messages while the input decides,
// datagram by datagram, whether it is delivered, dropped, changed, cut short, doubled, replaced by
// an earlier one (a replayed or reordered [15] or [16]) or replaced by bytes of the input.
//
// Input: a sequence of 3-byte instructions [op][a][b], one per datagram; once they run out every
// datagram is delivered as it is.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"
#include "tests/fuzz/FuzzPeerSupport.h"

namespace {

using namespace velt;
using namespace velt::fuzz;

constexpr uint16_t kServerPort = 7002, kClientPort = 7001;
constexpr uint32_t kLoopback = 0x0100007F;

struct Wire {
    std::vector<std::vector<uint8_t>> sent;
    static void Record(void* context, PlayerID, const uint8_t* data, uint32_t length) {
        static_cast<Wire*>(context)->sent.emplace_back(data, data + length);
    }
};

struct Instructions {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool Next(uint8_t& op, uint8_t& a, uint8_t& b) {
        if (at + 3 > size) return false;
        op = data[at];
        a = data[at + 1];
        b = data[at + 2];
        at += 3;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzClock clock;
    NetPeer server{SocketRole::Library}, client{SocketRole::Library};
    Wire serverWire, clientWire;
    for (NetPeer* p : {&server, &client}) {
        p->SetClock(&clock);
        p->SetManualCycle(true);
        p->SetSocketless(true);
    }
    server.SetRawSendTap(Wire::Record, &serverWire);
    client.SetRawSendTap(Wire::Record, &clientWire);
    server.SetMaximumIncomingConnections(2);
    if (!server.InitializeSecurity(nullptr, nullptr, kPrimeP, kPrimeQ)) __builtin_trap();
    client.InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
    server.Initialize(2, kServerPort, 0, "127.0.0.1");
    client.Initialize(1, kClientPort, 0, "127.0.0.1");
    client.Connect("127.0.0.1", kServerPort, nullptr, 0);

    Instructions in{data, size};
    std::vector<std::vector<uint8_t>> history;  // every datagram seen, for replays
    const PlayerID serverId{kLoopback, kServerPort};
    const auto carry = [&](Wire& wire, NetPeer& to, uint16_t fromPort) {
        std::vector<std::vector<uint8_t>> batch;
        batch.swap(wire.sent);
        for (std::vector<uint8_t>& d : batch) {
            if (history.size() < 256) history.push_back(d);
            uint8_t op = 0, a = 0, b = 0;
            const bool steered = in.Next(op, a, b);
            std::vector<uint8_t> out = d;
            bool twice = false;
            if (steered) {
                switch (op % 8) {
                    case 0: break;
                    case 1: continue;  // lost
                    case 2:
                        if (!out.empty()) out[a % out.size()] ^= uint8_t(b | 1);
                        break;
                    case 3: out.resize(a % (out.size() + 1)); break;
                    case 4: twice = true; break;
                    case 5:
                        if (!history.empty()) out = history[a % history.size()];
                        break;
                    case 6: {
                        // Bytes of the input itself, as many as b says.
                        const size_t n = std::min<size_t>(b, in.size - in.at);
                        out.assign(in.data + in.at, in.data + in.at + n);
                        in.at += n;
                        break;
                    }
                    case 7: clock.us += uint64_t(a) * 50'000; break;  // late
                }
            }
            to.HandleDatagram(kLoopback, fromPort, out.empty() ? nullptr : out.data(), uint32_t(out.size()));
            if (twice) to.HandleDatagram(kLoopback, fromPort, out.data(), uint32_t(out.size()));
        }
    };

    for (int round = 0; round < 300; ++round) {
        clock.us += 20'000;
        server.RunCycle();
        client.RunCycle();
        carry(clientWire, server, kClientPort);
        carry(serverWire, client, kServerPort);
        while (Packet* p = server.Receive()) server.FreePacket(p);
        while (Packet* p = client.Receive()) {
            if (p->length > 0 && p->data[0] == ID_CONN_ACCEPTED) {
                const uint8_t m[2] = {200, uint8_t(round)};
                client.SendBytes(m, 2, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, serverId, false);
            }
            client.FreePacket(p);
        }
        if (in.at >= in.size && round > 50) break;
    }
    client.Disconnect(0, 0);
    server.Disconnect(0, 0);
    return 0;
}
