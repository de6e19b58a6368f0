#include "net/NetServer.h"

#include <cstring>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/Random.h"

namespace velt {

namespace {

// Clients tell the seeds apart from other values by their low bit.
uint32_t MakeOdd(uint32_t value) { return (value & 1u) != 0 ? value : value - 1u; }

// A password longer than the peer keeps is cut there anyway; this only keeps the length in range.
constexpr size_t kPasswordLengthCap = 256;

}  // namespace

NetServer::NetServer() : NetPeer(SocketRole::Server) {}

// The network thread must be gone before this object stops being a NetServer: it calls into the
// peer through virtual functions, and the peer's own destructor would stop it too late.
NetServer::~NetServer() { NetPeer::Disconnect(0, 0); }

bool NetServer::Start(uint16_t allowedPlayers, uint32_t reserved, int32_t threadSleepTimer, uint16_t port,
                      const char* forceHostAddress) {
    (void)reserved;
    NetPeer::Disconnect(30, 0);
    bool ok = NetPeer::Initialize(allowedPlayers, port, threadSleepTimer, forceHostAddress);
    NetPeer::SetMaximumIncomingConnections(allowedPlayers);
    TwisterSeed(Clock().NowMs());
    seed_ = MakeOdd(TwisterNext());
    nextSeed_ = MakeOdd(TwisterNext());
    return ok;
}

void NetServer::InitializeSecurity(const uint8_t* privateKeyP, const uint8_t* privateKeyQ) {
    NetPeer::InitializeSecurity(nullptr, nullptr, privateKeyP, privateKeyQ);
}

void NetServer::SetPassword(const char* password) {
    if (password == nullptr) {
        NetPeer::SetIncomingPassword(nullptr, 0);
        return;
    }
    // The terminating zero is part of what clients must send, so "" still asks for one byte.
    size_t length = strnlen(password, kPasswordLengthCap) + 1;
    NetPeer::SetIncomingPassword(password, static_cast<int32_t>(length));
}

bool NetServer::HasPassword() {
    int32_t length = 0;
    NetPeer::GetIncomingPassword(nullptr, &length);
    return length > 0;
}

bool NetServer::SendNow(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                        uint8_t orderingChannel, PlayerID target, bool broadcast) {
    if (bitStream == nullptr || bitStream->GetNumberOfBitsUsed() <= 0) return false;
    return NetPeer::SendNow(bitStream->GetData(), static_cast<uint32_t>(bitStream->GetNumberOfBitsUsed()),
                            priority, reliability, orderingChannel, target, broadcast);
}

Packet* NetServer::Receive() {
    Packet* packet = NetPeer::Receive();
    if (!NetPeer::IsActive() || !synchronizedSeeds_) return packet;
    NetTime now = Clock().NowMs();
    // nextSeedUpdate_ is 0 until the first broadcast, which therefore goes out at once.
    if (nextSeedUpdate_ == 0 || TimeBefore(nextSeedUpdate_, now)) {
        nextSeedUpdate_ = now + kSeedPeriodMs;
        SendSeeds(UNASSIGNED_PLAYER_ID, true);
    } else if (packet != nullptr && packet->length >= 1 && packet->data[0] == ID_CONN_HANDSHAKE_DONE) {
        SendSeeds(packet->sender, false);
    }
    return packet;
}

void NetServer::SendSeeds(PlayerID target, bool broadcast) {
    seed_ = nextSeed_;
    nextSeed_ = MakeOdd(TwisterNext());
    BitStream out(static_cast<int32_t>(kSeedMessageBytes));
    out.Write(static_cast<uint8_t>(ID_TIMESTAMPED));
    out.Write(static_cast<uint32_t>(Clock().NowMs()));
    out.Write(static_cast<uint8_t>(ID_RANDOM_SEEDS));
    out.Write(seed_);
    out.Write(nextSeed_);
    Send(&out, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, target, broadcast);
}

uint16_t NetServer::GetConnectedCount() {
    uint16_t count = 0;
    NetPeer::GetConnectionList(nullptr, &count);
    return count;
}

void NetServer::GetPlayerAddress(PlayerID target, char* returnValue, uint16_t* port) {
    // The caller's buffer holds at least 16 bytes: any dotted IPv4 text and its zero.
    if (returnValue != nullptr) target.ToString(false, returnValue, 16);
    if (port != nullptr) *port = target.port;
}

bool NetServer::RpcNow(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                       bool broadcast, bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) {
    (void)broadcast;
    (void)networkId;
    (void)replyFromTarget;
    const uint8_t* data = nullptr;
    uint32_t bits = 0;
    if (parameters != nullptr && parameters->GetNumberOfBitsUsed() > 0) {
        data = parameters->GetData();
        bits = static_cast<uint32_t>(parameters->GetNumberOfBitsUsed());
    }
    return NetPeer::RpcNow(uniqueId, data, bits, priority, reliability, orderingChannel, target,
                           shiftTimestamp);
}

void NetServer::ChangeStaticClientData(PlayerID target) {
    // Nothing reads the relay flag and no client asks for another's static data, so the lookup
    // is all there is to do.
    (void)NetPeer::GetConnectedSystem(target, true);
}

}  // namespace velt
