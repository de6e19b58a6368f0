// One system of the address-translation check: a library peer with the punch-through plugin,
// run inside its own network namespace by punch_nat_check.py and driven over standard input.
//
//   punch_node facilitator <bind address>
//   punch_node member <bind address> <facilitator address> <facilitator port>
//
// Prints, one per line: "PORT <port>" once bound; "SEEN <address> <port>" for every system that
// connects to it or accepts it; "READY" once a member is connected to its facilitator; the
// outcome of each command. Commands: "DIRECT <address> <port>" connects without help and waits
// for the attempt to end ("DIRECT-CONNECTED" or "DIRECT-FAILED"); "PUNCH <address> <port>" asks the
// facilitator ("PUNCH-CONNECTED <ms>" or "PUNCH-FAILED"). Ends on end of input, or after a minute.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/ext/NatPunchthrough.h"

namespace {

using namespace velt;
using Clock = std::chrono::steady_clock;

constexpr auto kLifetime = std::chrono::seconds(60);
constexpr auto kCommandTimeout = std::chrono::seconds(20);

struct Node {
    NetPeerInterface* peer = CreateNetPeer();
    NatPunchthrough punch;
    PlayerID facilitator = UNASSIGNED_PLAYER_ID;
    bool ready = false;
    std::string pending;  // the command waiting for its outcome
    PlayerID pendingTarget = UNASSIGNED_PLAYER_ID;
    Clock::time_point pendingSince;

    ~Node() {
        peer->Disconnect(100, 0);
        peer->DetachPlugin(&punch);
        DestroyNetPeer(peer);
    }

    void Finish(const char* outcome) {
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pendingSince).count();
        std::printf("%s-%s %lld\n", pending.c_str(), outcome, ms);
        std::fflush(stdout);
        pending.clear();
    }

    void Handle(const Packet& packet) {
        const uint8_t id = packet.length != 0 ? packet.data[0] : 0;
        char address[PlayerID::kStringSize];
        packet.sender.ToString(false, address, sizeof address);
        if (id == ID_CONN_HANDSHAKE_DONE || id == ID_CONN_ACCEPTED) {
            std::printf("SEEN %s %d\n", address, packet.sender.port);
            std::fflush(stdout);
            if (packet.sender == facilitator && !ready) {
                ready = true;
                std::printf("READY\n");
                std::fflush(stdout);
            }
            if (!pending.empty() && packet.sender == pendingTarget) Finish("CONNECTED");
        } else if ((id == ID_CONN_ATTEMPT_FAILED || id == ID_PUNCH_TARGET_NOT_CONNECTED ||
                    id == ID_PUNCH_TARGET_LOST) &&
                   !pending.empty()) {
            Finish("FAILED");
        }
    }

    void Command(const std::string& line) {
        char verb[16] = {};
        char address[32] = {};
        unsigned port = 0;
        if (std::sscanf(line.c_str(), "%15s %31s %u", verb, address, &port) != 3 || port > 0xFFFF) return;
        peer->IPToPlayerID(address, uint16_t(port), &pendingTarget);
        pending = verb;
        pendingSince = Clock::now();
        const bool started = pending == "DIRECT" ? peer->Connect(address, uint16_t(port), nullptr, 0)
                                                 : punch.RequestPunch(pendingTarget, nullptr, 0, facilitator);
        if (!started) Finish("FAILED");
    }
};

// A line from standard input when one is ready; false at end of input.
bool ReadCommand(std::string& buffer, std::string& line) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (buffer.find('\n') == std::string::npos && poll(&in, 1, 0) > 0) {
        char chunk[256];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, size_t(n));
    }
    const size_t end = buffer.find('\n');
    if (end != std::string::npos) {
        line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool member = argc == 5 && std::strcmp(argv[1], "member") == 0;
    if (!member && !(argc == 3 && std::strcmp(argv[1], "facilitator") == 0)) {
        std::fprintf(stderr, "usage: punch_node facilitator <bind> | member <bind> <address> <port>\n");
        return 2;
    }
    Node node;
    node.peer->AttachPlugin(&node.punch);
    if (!node.peer->Initialize(4, 0, 1, argv[2])) {
        std::fprintf(stderr, "cannot bind %s\n", argv[2]);
        return 1;
    }
    node.peer->SetMaximumIncomingConnections(4);
    std::printf("PORT %d\n", node.peer->GetInternalID().port);
    std::fflush(stdout);
    if (member) {
        node.peer->IPToPlayerID(argv[3], uint16_t(std::atoi(argv[4])), &node.facilitator);
        node.peer->Connect(argv[3], node.facilitator.port, nullptr, 0);
    }

    std::string buffer;
    const Clock::time_point end = Clock::now() + kLifetime;
    while (Clock::now() < end) {
        while (Packet* packet = node.peer->Receive()) {
            node.Handle(*packet);
            node.peer->FreePacket(packet);
        }
        if (!node.pending.empty() && Clock::now() - node.pendingSince > kCommandTimeout)
            node.Finish("FAILED");
        std::string line;
        if (!ReadCommand(buffer, line)) break;
        if (!line.empty() && node.pending.empty()) node.Command(line);
        usleep(2000);
    }
    return 0;
}
