// Test helper for the wire client's self-test: a server-role peer on 127.0.0.1 that answers a
// request [202][u32 n][u8 reliability][u8 channel] with one message [202][u32 n][n bytes] of a
// known pattern, large enough that the transport sends it in pieces. Nothing else is answered.
//
// Output lines: PORT <port> | EVENT <id> <slot> | SENT <n> <reliability> <channel>
// Ends when its standard input closes or after --lifetime seconds (default 60).

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/NetPeer.h"

namespace {

using namespace velt;

constexpr uint8_t kRequestId = 202;
constexpr uint32_t kMaxReplyBytes = 65536;

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The byte at position i of a reply of n bytes; the client checks the same formula.
uint8_t PatternByte(uint32_t i, uint32_t n) { return uint8_t((i * 131u + n) & 0xFFu); }

void Answer(NetPeer& peer, const Packet* p) {
    if (p->length != 7) return;
    const uint32_t n = ReadU32(p->data + 1);
    const uint8_t reliability = p->data[5];
    const uint8_t channel = p->data[6];
    if (n > kMaxReplyBytes || reliability < RELIABILITY_UNRELIABLE ||
        reliability > RELIABILITY_RELIABLE_SEQUENCED || channel > 31)
        return;
    std::vector<uint8_t> reply(5 + size_t(n));
    reply[0] = kRequestId;
    std::memcpy(reply.data() + 1, p->data + 1, 4);
    for (uint32_t i = 0; i < n; ++i) reply[5 + i] = PatternByte(i, n);
    peer.SendBytes(reply.data(), int32_t(reply.size()), HIGH_PRIORITY_LEVEL, MessageReliability(reliability),
                   channel, p->sender, false);
    std::printf("SENT %u %u %u\n", n, reliability, channel);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned lifetimeS = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--lifetime") == 0) lifetimeS = unsigned(std::atoi(argv[++i]));

    NetPeer peer(SocketRole::Server);
    peer.Settings().SetCookieSeed(0x13572468);
    peer.Settings().SetServerChallenge(0x2468ACE0);
    peer.Settings().SetConnCookies(1);
    peer.SetMaximumIncomingConnections(4);
    if (!peer.Initialize(4, 0, 1, "127.0.0.1")) {
        std::fprintf(stderr, "cannot start\n");
        return 1;
    }
    std::printf("PORT %u\n", peer.GetInternalID().port);
    std::fflush(stdout);

    const NetTime end = GetTimeMs() + lifetimeS * 1000;
    while (TimeBefore(GetTimeMs(), end)) {
        while (Packet* p = peer.Receive()) {
            const uint8_t id = p->length > 0 ? p->data[0] : 0xFF;
            if (id == kRequestId) {
                Answer(peer, p);
            } else {
                std::printf("EVENT %u %u\n", id, p->playerIndex);
                std::fflush(stdout);
            }
            peer.FreePacket(p);
        }
        pollfd in{0, POLLIN, 0};
        if (poll(&in, 1, 2) > 0) {
            char buffer[64];
            if (read(0, buffer, sizeof buffer) <= 0) break;
        }
    }
    peer.Disconnect(100, 0);
    return 0;
}
