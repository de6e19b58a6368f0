// libFuzzer: dispatch of received RPC messages. Every id has a handler that reads its whole
// payload the way the game's handlers do, so a payload shorter than its bit count shows up as an
// out-of-bounds read. Half the inputs go through the peer's receive path (timestamp rewrite,
// plugin-free queue, dispatch) instead of the dispatcher alone.
//
// Input: [u8 route][message bytes].

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/BitStream.h"
#include "net/NetPeer.h"
#include "net/RpcTable.h"

namespace {

using namespace velt;

volatile uint32_t g_sink = 0;

void ReadAll(RpcCallParams* p) {
    if (p->payload == nullptr) {
        if (p->payloadBits != 0) __builtin_trap();
        return;
    }
    BitStream in(p->payload, (p->payloadBits + 7) / 8, false);
    uint8_t byte = 0;
    while (in.Read(byte)) g_sink = g_sink + byte;
}

struct Fixture {
    RpcTable table;
    NetPeer peer{SocketRole::Server};
    Fixture() {
        for (int id = 1; id < 256; ++id) {
            table.Register(uint8_t(id), ReadAll, false);
            const uint8_t rpcId = uint8_t(id);
            peer.RegisterRpc(&rpcId, ReadAll);
        }
        peer.SetManualCycle(true);
        peer.SetSocketless(true);
        peer.Initialize(1, 7777, 0, "127.0.0.1");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;
    if (size < 1) return 0;
    const uint8_t route = data[0];
    const uint8_t* message = data + 1;
    const uint32_t length = uint32_t(size - 1);
    const PlayerID sender{0x0100007F, 4000};

    if ((route & 1) == 0) {
        DispatchRpcMessage(f.table, length != 0 ? message : nullptr, length, sender, nullptr);
        return 0;
    }
    // Through the peer: a received packet with exactly these bytes (an owned copy, as the peer
    // makes them).
    uint8_t* copy = length != 0 ? new uint8_t[length] : nullptr;
    if (copy != nullptr) std::memcpy(copy, message, length);
    Packet* packet = NewPacket(length, copy);
    if (packet == nullptr) {
        delete[] copy;
        return 0;
    }
    if (length == 0) delete[] copy;
    packet->sender = (route & 2) ? UNASSIGNED_PLAYER_ID : sender;
    f.peer.PushBackPacket(packet, false);
    while (Packet* p = f.peer.Receive()) f.peer.FreePacket(p);
    return 0;
}
