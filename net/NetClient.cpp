#include "net/NetClient.h"

#include <cstdio>
#include <cstring>

#include "net/MessageIdentifiers.h"
#include "net/SocketLayer.h"

namespace velt {

namespace {

// Longest text kept with its zero; the peer sends at most 255 password bytes anyway.
constexpr size_t kPasswordLengthCap = 255;

// [id][u32 address][u16 port][u16 index]: the announcements of other clients.
constexpr uint32_t kRemoteClientMessageBytes = 9;
constexpr uint32_t kPingListMaxRecords = 32;

bool ReadPlayerID(BitStream& in, PlayerID& out) {
    uint32_t address = 0;
    uint16_t port = 0;
    if (!in.Read(address) || !in.Read(port)) return false;
    out = PlayerID{address, port};
    return true;
}

}  // namespace

NetClient::NetClient(SocketRole role) : NetPeer(role) {}

// The network thread must be gone before this object stops being a NetClient: it calls into the
// peer through virtual functions, and the peer's own destructor would stop it too late.
NetClient::~NetClient() { NetPeer::Disconnect(0, 0); }

PlayerID NetClient::ServerId() const {
    if (NetPeer::GetMaximumNumberOfPeers() == 0) return UNASSIGNED_PLAYER_ID;
    return NetPeer::GetSlotPlayerID(0);
}

bool NetClient::Connect(const char* host, uint16_t serverPort, uint16_t clientPort, uint32_t reserved,
                        int32_t threadSleepTimer) {
    (void)reserved;
    NetPeer::Disconnect(100, 0);
    // What we send is scrambled with a key the server derives from its own port.
    NetPeer::Endpoint().SetKey(serverPort);
    NetPeer::Initialize(1, clientPort, threadSleepTimer, localAddress_[0] != 0 ? localAddress_ : nullptr);
    if (host == nullptr || host[0] == 0) return false;
    const char* address = host;
    char resolved[16];
    if (host[0] != '0' && host[0] != '1' && host[0] != '2') {
        address = SocketLayer::DomainNameToIP(host, resolved, sizeof resolved);
        if (address == nullptr) return false;
    }
    for (OtherClient& other : otherClients_) {
        other.isActive = false;
        other.playerId = UNASSIGNED_PLAYER_ID;
        other.staticData.Clear();
    }
    localPlayerIndex_ = 0xFFFF;
    return NetPeer::Connect(address, serverPort, reinterpret_cast<const char*>(password_.GetData()),
                            password_.GetNumberOfBytesUsed());
}

void NetClient::SetLocalAddress(const char* address) {
    std::snprintf(localAddress_, sizeof localAddress_, "%s", address != nullptr ? address : "");
}

void NetClient::InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN) {
    NetPeer::InitializeSecurity(publicKeyE, publicKeyN, nullptr, nullptr);
}

void NetClient::SetPassword(const char* password) {
    password_.Clear();
    if (password == nullptr || password[0] == 0) return;
    size_t length = strnlen(password, kPasswordLengthCap);
    // The zero goes with the text: the server compares it as part of the password. A text cut
    // at the cap keeps its first bytes and no zero, as the peer would cut it.
    if (length < kPasswordLengthCap) ++length;
    password_.WriteBytes(password, static_cast<int32_t>(length));
}

bool NetClient::SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                          MessageReliability reliability, uint8_t orderingChannel) {
    PlayerID server = ServerId();
    if (server == UNASSIGNED_PLAYER_ID) return false;
    return NetPeer::SendBytes(data, length, priority, reliability, orderingChannel, server, false);
}

bool NetClient::Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                     uint8_t orderingChannel) {
    PlayerID server = ServerId();
    if (server == UNASSIGNED_PLAYER_ID) return false;
    return NetPeer::Send(bitStream, priority, reliability, orderingChannel, server, false);
}

Packet* NetClient::Receive() {
    // Consumed or malformed library messages do not end the call: the caller loops until null,
    // and a null here would hold back what is queued behind them until its next round.
    while (Packet* packet = NetPeer::Receive()) {
        if (Filter(packet)) return packet;
    }
    return nullptr;
}

bool NetClient::Filter(Packet* packet) {
    if (packet->length == 0 || packet->data == nullptr) return true;
    BitStream in(packet->data, packet->length, false);
    switch (packet->data[0]) {
        case ID_CONN_ACCEPTED: {
            // [34][u32 address][u16 port][u16 index][u32 challenge]: the index field is ours.
            uint16_t index = 0;
            in.SkipBits(8 + 32 + 16);
            if (in.Read(index)) {
                localPlayerIndex_ = index;
                packet->playerIndex = index;
            }
            return true;
        }
        case ID_REMOTE_CLIENT_CLOSED:
        case ID_REMOTE_CLIENT_LOST:
        case ID_REMOTE_CLIENT_NEW:
        case ID_REMOTE_CLIENT_EXISTING: {
            PlayerID who;
            uint16_t index = 0;
            in.SkipBits(8);
            if (packet->length < kRemoteClientMessageBytes || !ReadPlayerID(in, who) || !in.Read(index)) {
                NetPeer::FreePacket(packet);
                return false;
            }
            packet->sender = who;
            packet->playerIndex = index;
            if (packet->data[0] == ID_REMOTE_CLIENT_CLOSED || packet->data[0] == ID_REMOTE_CLIENT_LOST) {
                if (OtherClient* other = FindOtherClient(who)) other->isActive = false;
            }
            return true;
        }
        case ID_STATIC_DATA_OF: {
            // [46][u32 address][u16 port][u16 index][static data]
            PlayerID who;
            uint16_t index = 0;
            in.SkipBits(8);
            if (packet->length < kRemoteClientMessageBytes || !ReadPlayerID(in, who) || !in.Read(index)) {
                NetPeer::FreePacket(packet);
                return false;
            }
            packet->sender = who;
            packet->playerIndex = index;
            if (OtherClient* other = FindOtherClientOrFree(who)) {
                other->playerId = who;
                other->isActive = true;
                other->staticData.Clear();
                other->staticData.WriteBytes(packet->data + kRemoteClientMessageBytes,
                                             int32_t(packet->length - kRemoteClientMessageBytes));
            }
            return true;
        }
        case ID_PING_LIST: {
            in.SkipBits(8);
            for (uint32_t record = 0; record < kPingListMaxRecords; ++record) {
                PlayerID who;
                if (!ReadPlayerID(in, who)) break;
                OtherClient* other = FindOtherClient(who);
                if (other == nullptr) {
                    other = FindOtherClientOrFree(who);
                    if (other != nullptr) {
                        other->isActive = true;
                        other->playerId = who;
                        other->staticData.Clear();
                    }
                }
                uint16_t ping = 0;
                if (!in.Read(ping)) break;
                if (other != nullptr) other->ping = ping;
            }
            NetPeer::FreePacket(packet);
            return false;
        }
        case ID_TIMESTAMPED: {
            if (packet->length != kSeedMessageBytes || packet->data[5] != ID_RANDOM_SEEDS) return true;
            uint32_t stamp = 0;
            uint8_t id = 0;
            uint32_t seed = 0, next = 0;
            in.SkipBits(8);
            if (in.Read(stamp) && in.Read(id) && in.Read(seed) && in.Read(next)) {
                // The peer has already turned the stamp into our clock.
                seed_ = seed;
                nextSeed_ = next;
                nextSeedUpdate_ = stamp + kSeedPeriodMs;
            }
            NetPeer::FreePacket(packet);
            return false;
        }
        default: return true;
    }
}

NetClient::OtherClient* NetClient::FindOtherClient(PlayerID playerId) {
    if (playerId == UNASSIGNED_PLAYER_ID) return nullptr;
    for (OtherClient& other : otherClients_)
        if (other.playerId == playerId) return &other;
    return nullptr;
}

const NetClient::OtherClient* NetClient::FindOtherClient(PlayerID playerId) const {
    return const_cast<NetClient*>(this)->FindOtherClient(playerId);
}

NetClient::OtherClient* NetClient::FindOtherClientOrFree(PlayerID playerId) {
    if (OtherClient* other = FindOtherClient(playerId)) return other;
    for (OtherClient& other : otherClients_)
        if (!other.isActive) return &other;
    return nullptr;
}

void NetClient::PingServer() {
    PlayerID server = ServerId();
    if (server != UNASSIGNED_PLAYER_ID) NetPeer::Ping(server);
}

void NetClient::PingServerOffline(const char* host, uint16_t serverPort, uint16_t clientPort,
                                  bool onlyReplyOnAcceptingConnections) {
    // The key may only change while the network thread is not running.
    if (!NetPeer::IsActive()) NetPeer::Endpoint().SetKey(serverPort);
    NetPeer::Initialize(1, clientPort, 0, nullptr);
    NetPeer::Ping(host, serverPort, onlyReplyOnAcceptingConnections);
}

int32_t NetClient::GetAveragePing() const {
    PlayerID server = ServerId();
    return server == UNASSIGNED_PLAYER_ID ? -1 : NetPeer::GetAveragePing(server);
}

int32_t NetClient::GetLastPing() const {
    PlayerID server = ServerId();
    return server == UNASSIGNED_PLAYER_ID ? -1 : NetPeer::GetLastPing(server);
}

int32_t NetClient::GetLowestPing() const {
    PlayerID server = ServerId();
    return server == UNASSIGNED_PLAYER_ID ? -1 : NetPeer::GetLowestPing(server);
}

int32_t NetClient::GetPlayerPing(PlayerID playerId) const {
    const OtherClient* other = FindOtherClient(playerId);
    return other != nullptr ? other->ping : -1;
}

bool NetClient::IsConnected() const {
    uint16_t count = 0;
    NetPeer::GetConnectionList(nullptr, &count);
    return count == 1;
}

uint32_t NetClient::GetSynchronizedSeed() const {
    return TimeBefore(nextSeedUpdate_, Clock().NowMs()) ? nextSeed_ : seed_;
}

bool NetClient::RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                         PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                         bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) {
    PlayerID server = ServerId();
    if (server == UNASSIGNED_PLAYER_ID) return false;
    return NetPeer::RpcBytes(uniqueId, data, bitLength, priority, reliability, orderingChannel, server, false,
                             shiftTimestamp, networkId, replyFromTarget);
}

bool NetClient::RpcWithObject(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                              MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp,
                              NetworkID networkId, BitStream* replyFromTarget) {
    PlayerID server = ServerId();
    if (server == UNASSIGNED_PLAYER_ID) return false;
    return NetPeer::Rpc(uniqueId, parameters, priority, reliability, orderingChannel, server, false,
                        shiftTimestamp, networkId, replyFromTarget);
}

bool NetClient::Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                    MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp) {
    return RpcWithObject(uniqueId, parameters, priority, reliability, orderingChannel, shiftTimestamp,
                         UNASSIGNED_NETWORK_ID, nullptr);
}

BitStream* NetClient::GetStaticServerData() {
    PlayerID server = ServerId();
    return server == UNASSIGNED_PLAYER_ID ? nullptr : NetPeer::GetRemoteStaticData(server);
}

void NetClient::SetStaticServerData(const uint8_t* data, int32_t length) {
    PlayerID server = ServerId();
    if (server != UNASSIGNED_PLAYER_ID) NetPeer::SetRemoteStaticData(server, data, length);
}

BitStream* NetClient::GetStaticClientData(PlayerID playerId) {
    if (playerId == UNASSIGNED_PLAYER_ID) return NetPeer::GetRemoteStaticData(GetInternalID());
    OtherClient* other = FindOtherClient(playerId);
    return other != nullptr ? &other->staticData : nullptr;
}

void NetClient::SetStaticClientData(PlayerID playerId, const uint8_t* data, int32_t length) {
    if (playerId == UNASSIGNED_PLAYER_ID) {
        NetPeer::SetRemoteStaticData(GetInternalID(), data, length);
        return;
    }
    if (OtherClient* other = FindOtherClient(playerId)) {
        other->staticData.Clear();
        if (data != nullptr && length > 0) other->staticData.WriteBytes(data, length);
        return;
    }
    NetPeer::SetRemoteStaticData(playerId, data, length);
}

void NetClient::SendStaticClientDataToServer() {
    PlayerID server = ServerId();
    if (server != UNASSIGNED_PLAYER_ID) NetPeer::SendStaticDataTo(server);
}

PlayerID NetClient::GetServerID() const { return ServerId(); }

PlayerID NetClient::GetPlayerID() const {
    PlayerID server = ServerId();
    if (server == UNASSIGNED_PLAYER_ID) return UNASSIGNED_PLAYER_ID;
    PlayerID external = NetPeer::GetExternalID(server);
    return external != UNASSIGNED_PLAYER_ID ? external : NetPeer::GetInternalID();
}

void NetClient::SetTimeoutTime(uint32_t timeMs) {
    PlayerID server = ServerId();
    if (server != UNASSIGNED_PLAYER_ID) NetPeer::SetTimeoutTime(timeMs, server);
}

NetworkStatistics* NetClient::GetStatistics() {
    PlayerID server = ServerId();
    // Unassigned would ask for the sums over every connection, which is not the server's.
    return server == UNASSIGNED_PLAYER_ID ? nullptr : NetPeer::GetStatistics(server);
}

}  // namespace velt
