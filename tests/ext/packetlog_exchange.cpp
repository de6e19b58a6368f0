// A known exchange between two peers on 127.0.0.1, logged by a file packet logger attached to
// the receiving one. Each argument is one message the sender sends, reliable and ordered:
//   <id>:<bytes>       a plain message of that many bytes starting with the id
//   ts<id>:<bytes>     a timestamped one: [40][u32 time][id ...], bytes in all
//   rpc<id>:<bytes>    a remote procedure call of that id with that many parameter bytes
// It prints "file <name>", "receiver <address>:<port>" and "sender <address>:<port>" (addresses
// as the unsigned value of their stored field) once every message has arrived.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/ext/PacketLogger.h"

namespace {

using namespace velt;
using Clock = std::chrono::steady_clock;

struct Message {
    enum Kind { Plain, Timestamped, Call } kind;
    uint8_t id;
    uint32_t bytes;
};

bool ParseMessage(const std::string& word, Message* out) {
    std::string rest = word;
    out->kind = Message::Plain;
    if (rest.rfind("ts", 0) == 0) {
        out->kind = Message::Timestamped;
        rest.erase(0, 2);
    } else if (rest.rfind("rpc", 0) == 0) {
        out->kind = Message::Call;
        rest.erase(0, 3);
    }
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) return false;
    out->id = static_cast<uint8_t>(std::atoi(rest.substr(0, colon).c_str()));
    out->bytes = static_cast<uint32_t>(std::atoi(rest.substr(colon + 1).c_str()));
    const uint32_t least = out->kind == Message::Timestamped ? 6 : 1;
    return out->bytes >= least && out->bytes <= 1000;
}

bool Pump(NetPeerInterface* peer, int* userMessages) {
    bool any = false;
    while (Packet* p = peer->Receive()) {
        const uint8_t id = GetPacketIdentifier(p);
        if (userMessages != nullptr && (id >= 100 || id == ID_TIMESTAMPED)) ++*userMessages;
        peer->FreePacket(p);
        any = true;
    }
    return any;
}

void Rpc77(RpcCallParams*) {}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Message> messages;
    for (int i = 1; i < argc; ++i) {
        Message m{};
        if (!ParseMessage(argv[i], &m)) {
            std::fprintf(stderr, "bad message %s\n", argv[i]);
            return 2;
        }
        messages.push_back(m);
    }

    NetPeerInterface* receiver = CreateNetPeer();
    NetPeerInterface* sender = CreateNetPeer();
    PacketFileLogger* logger = CreatePacketFileLogger();
    receiver->AttachPlugin(logger);
    receiver->SetMaximumIncomingConnections(1);
    if (!logger->HasFile() || !receiver->Initialize(1, 0, 1, "127.0.0.1") ||
        !sender->Initialize(1, 0, 1, "127.0.0.1") ||
        !sender->Connect("127.0.0.1", receiver->GetInternalID().port, nullptr, 0)) {
        std::fprintf(stderr, "cannot start\n");
        return 1;
    }
    for (const Message& m : messages)
        if (m.kind == Message::Call) receiver->RegisterRpc(&m.id, Rpc77);

    const auto deadline = Clock::now() + std::chrono::seconds(60);
    PlayerID toReceiver = UNASSIGNED_PLAYER_ID;
    while (toReceiver == UNASSIGNED_PLAYER_ID && Clock::now() < deadline) {
        Pump(receiver, nullptr);
        Pump(sender, nullptr);
        toReceiver = sender->GetPlayerIDFromIndex(0);
        ::usleep(2000);
    }

    int expectedUserMessages = 0;
    for (const Message& m : messages) {
        std::vector<uint8_t> bytes(m.bytes);
        for (uint32_t i = 0; i < m.bytes; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        if (m.kind == Message::Call) {
            sender->RpcBytes(&m.id, bytes.data(), m.bytes * 8u, HIGH_PRIORITY_LEVEL,
                             RELIABILITY_RELIABLE_ORDERED, 0, toReceiver, false, false, UNASSIGNED_NETWORK_ID,
                             nullptr);
            continue;
        }
        if (m.kind == Message::Timestamped) {
            bytes[0] = ID_TIMESTAMPED;
            bytes[5] = m.id;
        } else {
            bytes[0] = m.id;
        }
        sender->SendBytes(bytes.data(), static_cast<int32_t>(bytes.size()), HIGH_PRIORITY_LEVEL,
                          RELIABILITY_RELIABLE_ORDERED, 0, toReceiver, false);
        ++expectedUserMessages;
    }
    int userMessages = 0;
    while (userMessages < expectedUserMessages && Clock::now() < deadline) {
        Pump(receiver, &userMessages);
        Pump(sender, nullptr);
        ::usleep(2000);
    }
    // The calls are run inside Receive: give them a moment to arrive as well.
    for (int i = 0; i < 100; ++i) {
        Pump(receiver, nullptr);
        Pump(sender, nullptr);
        ::usleep(2000);
    }
    if (userMessages < expectedUserMessages) {
        std::fprintf(stderr, "only %d of %d messages arrived\n", userMessages, expectedUserMessages);
        return 1;
    }

    const PlayerID own = receiver->GetInternalID();
    const PlayerID other = sender->GetInternalID();
    const std::string fileName = logger->GetFileName();
    receiver->DetachPlugin(logger);
    DestroyNetPeer(sender);
    DestroyNetPeer(receiver);
    DestroyPacketFileLogger(logger);
    std::printf("file %s\nreceiver %u:%u\nsender %u:%u\n", fileName.c_str(), own.binaryAddress, own.port,
                other.binaryAddress, other.port);
    return 0;
}
