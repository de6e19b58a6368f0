// libFuzzer: the admission path of a server-role peer for datagrams from any address. The peer
// has no socket (everything it would send goes nowhere) and no network thread; a manual clock
// moves with the input so timed bans and slots expire and memory stays bounded.
//
// Input: [u8 flags][u32 address][u16 port][datagram]. flags bit 0: cookie check off; bit 1:
// run one network pass afterwards; bit 2: move the clock 11 s; bits 3-4: pick the address from a
// small set (so several datagrams meet the same sender) unless 0; bit 5: the datagram goes to a
// second peer that answers connection requests with the secure exchange.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/NetPeer.h"
#include "net/SocketLayer.h"
#include "tests/fuzz/FuzzPeerSupport.h"

namespace {

using namespace velt;
using namespace velt::fuzz;

struct Fixture {
    FuzzClock clock;
    NetPeer plain{SocketRole::Server};
    NetPeer secure{SocketRole::Server};
    uint64_t inputs = 0;
    Fixture() {
        secure.InitializeSecurity(nullptr, nullptr, kPrimeP, kPrimeQ);
        for (NetPeer* peer : {&plain, &secure}) {
            peer->SetClock(&clock);
            peer->SetManualCycle(true);
            peer->SetSocketless(true);
            peer->Settings().SetCookieSeed(0x1234ABCD);
            peer->SetMaximumIncomingConnections(16);
            peer->SetOfflinePingResponse(reinterpret_cast<const uint8_t*>("pong"), 4);
            peer->Initialize(16, 7777, 0, "127.0.0.1");
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;
    if (size < 7) return 0;
    const uint8_t flags = data[0];
    uint32_t address;
    std::memcpy(&address, data + 1, 4);
    uint16_t port;
    std::memcpy(&port, data + 5, 2);
    if ((flags >> 3) & 3) address = 0x0A000000u | ((flags >> 3) & 3);
    const uint8_t* datagram = data + 7;
    size_t length = size - 7;
    if (length > kMaxDatagramBytes) length = kMaxDatagramBytes;

    NetPeer& peer = (flags & 32) ? f.secure : f.plain;
    peer.Settings().SetConnCookies((flags & 1) ? 0 : 1);
    f.clock.us += 1000;
    peer.HandleDatagram(address, port, length != 0 ? datagram : nullptr, uint32_t(length));
    if (flags & 4) f.clock.us += 11'000'000;
    if (flags & 2) peer.RunCycle();
    while (Packet* p = peer.Receive()) peer.FreePacket(p);

    // Everything a sender can make the peer hold is bounded: slots, queued packets, bans.
    if (peer.QueuedUnconnectedPackets() > NetPeer::kMaxQueuedUnconnectedPackets) __builtin_trap();
    if (++f.inputs % 4096 == 0) {
        f.clock.us += 200'000'000;  // every timed ban and half-open slot expires
        for (NetPeer* each : {&f.plain, &f.secure}) {
            each->RunCycle();
            each->IsBanned("10.0.0.1");
        }
    }
    return 0;
}
