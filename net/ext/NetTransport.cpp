#include "net/ext/NetTransport.h"

#include <cstring>

#include "net/MessageIdentifiers.h"
#include "net/NetPeerInterface.h"
#include "net/NetworkFactory.h"
#include "net/ext/NetCommandParser.h"

namespace velt {

namespace {

// The console peer's network thread may sleep this long between passes.
constexpr int32_t kPeerSleepMs = 250;

PlayerID Take(std::deque<PlayerID>& queue) {
    if (queue.empty()) return UNASSIGNED_PLAYER_ID;
    const PlayerID id = queue.front();
    queue.pop_front();
    return id;
}

}  // namespace

NetTransport::~NetTransport() {
    Stop();
    DestroyNetPeer(peer_);
}

bool NetTransport::Start(uint16_t port, bool serverMode) {
    if (peer_ == nullptr) peer_ = CreateNetPeer();
    peer_->InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
    if (serverMode) peer_->SetMaximumIncomingConnections(kMaxConnections);
    return peer_->Initialize(kMaxConnections, port, kPeerSleepMs, nullptr);
}

void NetTransport::Stop() {
    if (peer_ == nullptr) return;
    peer_->Disconnect(1000, 0);
    newConnections_.clear();
    lostConnections_.clear();
}

void NetTransport::SendText(PlayerID client, const char* text, uint32_t length) {
    if (peer_ == nullptr) return;
    uint8_t message[1 + kConsoleLineBytes];
    message[0] = ID_CONSOLE_TEXT;
    std::memcpy(message + 1, text, length);
    message[1 + length] = 0;
    const bool broadcast = client == UNASSIGNED_PLAYER_ID;
    peer_->SendBytes(message, static_cast<int32_t>(length + 2), MEDIUM_PRIORITY_LEVEL,
                     RELIABILITY_RELIABLE_ORDERED, 0, client, broadcast);
}

void NetTransport::CloseConnection(PlayerID client) {
    if (peer_ != nullptr) peer_->CloseConnection(client, true, 0);
}

Packet* NetTransport::Receive() {
    if (peer_ == nullptr) return nullptr;
    Packet* packet = peer_->Receive();
    if (packet == nullptr) return nullptr;
    const uint8_t id = packet->length != 0 ? packet->data[0] : 0xFF;
    if (id == ID_CONSOLE_TEXT) {
        // The line must carry its zero byte: whoever reads it takes it for a C string.
        if (packet->length >= 2 && packet->data[packet->length - 1] == 0) {
            packet->data += 1;
            packet->length -= 1;
            packet->bitLength = packet->length * 8u;
            return packet;
        }
        ++rejectedLines_;
    } else if (id == ID_CONN_HANDSHAKE_DONE) {
        newConnections_.push_back(packet->sender);
    } else if (id == ID_CONN_CLOSED || id == ID_CONN_LOST) {
        lostConnections_.push_back(packet->sender);
    }
    peer_->FreePacket(packet);
    return nullptr;
}

void NetTransport::DeallocatePacket(Packet* packet) {
    if (peer_ == nullptr || packet == nullptr) return;
    packet->data -= 1;
    packet->length += 1;
    packet->bitLength = packet->length * 8u;
    peer_->FreePacket(packet);
}

PlayerID NetTransport::TakeNewConnection() { return Take(newConnections_); }

PlayerID NetTransport::TakeLostConnection() { return Take(lostConnections_); }

// ---- the password commands ------------------------------------------------------------------------

NetTransportCommandParser::NetTransportCommandParser(NetTransport* owner) : owner_(owner) {
    AddCommand(1, "SetPassword", "Changes the console password to whatever.");
    AddCommand(0, "ClearPassword", "Removes the console passwords.");
    AddCommand(0, "GetPassword", "Gets the console password.");
}

void NetTransportCommandParser::WriteHelp(TransportInterface* transport, PlayerID client) {
    transport->Send(client, "Provides a secure connection between your console\r\n");
    transport->Send(client, "and the console server.  Used to modify the console password.\r\n");
}

bool NetTransportCommandParser::ExecuteCommand(const char* command, uint32_t parameterCount,
                                               char** parameters, TransportInterface* transport,
                                               PlayerID client, const char* lineCopy) {
    (void)lineCopy;
    NetPeerInterface* peer = owner_->GetPeer();
    if (peer == nullptr) return true;
    if (std::strcmp(command, "SetPassword") == 0 && parameterCount >= 1) {
        // The zero byte is part of the password a console client has to present.
        peer->SetIncomingPassword(parameters[0], static_cast<int32_t>(std::strlen(parameters[0]) + 1));
        transport->Send(client, "Password changed to %s\r\n", parameters[0]);
    } else if (std::strcmp(command, "ClearPassword") == 0) {
        peer->SetIncomingPassword(nullptr, 0);
        transport->Send(client, "Password cleared\r\n");
    } else if (std::strcmp(command, "GetPassword") == 0) {
        char password[kPasswordTextBytes];
        if (CopyIncomingPassword(peer, password) != 0)
            transport->Send(client, "Password is %s\r\n", password);
        else
            transport->Send(client, "No password is set.\r\n");
    }
    return true;
}

}  // namespace velt
