// Test helper: a server-role peer on 127.0.0.1 with its own network thread, driven by the Python
// checks through stdout lines and stdin commands.
//
// Options: --port P (0 = any) --slots N --password TEXT --timeout MS ("playertimeout")
//   --seed N (cookie seed) --cookies 0|1 --cookie-logging 0|1 --messages-limit N --acks-limit N
//   --hole-limit N (the three flood limits; a lost unreliable message holds the window for the
//   whole timeout, so a test sending thousands of messages a second raises them)
//   --immediate (echo with immediate sends from this thread) --lifetime S (default 120)
//   --library (a library-role peer: no scrambling, no server limits) --secure (answer connection
//   requests with the secure exchange, with a key pair made at start)
//
// Output lines:
//   PORT <port>
//   KEY <exponent and modulus, hex of their bytes>   (with --secure, right after PORT)
//   LOG <log line>
//   EVENT <incoming|connected|lost|closed|modified|failed|other:<id>> <slot> <address:port>
//   SUMMARY <slot> <messages> <calls> <errors>
//   PING <slot> <average> <last> <lowest>     (answer to "pings")
//   OK                                        (after every command)
// Commands: "pings", "advance <ms>" (moves the peer's clock), "kick <slot>", "quit".
//
// Traffic: a client joins with RPC 25 (its slot is then logged on). Messages [200][u32 n] and
// calls of RPC 60 (u32 n) are checked to count 0, 1, 2... per client and kind, and echoed
// ([200][n] on ordering channel 0, RPC 61 on channel 1). [201] asks for the SUMMARY, which also
// goes back to the client as [201][u32 messages][u32 calls][u32 errors] on channel 0.

#include <poll.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "common/LittleEndian.h"
#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace {

using namespace velt;

std::mutex g_out;

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_out);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void LogHook(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Print("LOG %s", line);
}

struct Progress {
    uint32_t messages = 0;
    uint32_t calls = 0;
    uint32_t errors = 0;
};

NetPeer* g_peer = nullptr;
bool g_immediate = false;
std::map<uint64_t, Progress> g_progress;

uint64_t Key(PlayerID id) { return (uint64_t(id.binaryAddress) << 16) | id.port; }

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Echo(const uint8_t* data, uint32_t length, uint8_t channel, PlayerID to) {
    if (g_immediate)
        g_peer->SendNow(data, length * 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, channel, to,
                        false);
    else
        g_peer->SendBytes(data, int32_t(length), HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, channel,
                          to, false);
}

void OnJoin(RpcCallParams* p) {
    if (ConnectedSystem* slot = g_peer->GetConnectedSystem(p->sender, true)) slot->loggedOn = 1;
}

void OnCall(RpcCallParams* p) {
    Progress& progress = g_progress[Key(p->sender)];
    if (p->payloadBits != 32) {
        ++progress.errors;
        return;
    }
    const uint32_t n = ReadU32(p->payload);
    if (n != progress.calls) ++progress.errors;
    progress.calls = n + 1;
    const uint8_t reply = 61;
    if (g_immediate)
        g_peer->RpcNow(&reply, p->payload, 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 1,
                       p->sender, false);
    else
        g_peer->RpcBytes(&reply, p->payload, 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 1,
                         p->sender, false, false, UNASSIGNED_NETWORK_ID, nullptr);
}

const char* EventName(uint8_t id) {
    switch (id) {
        case ID_CONN_INCOMING: return "incoming";
        case ID_CONN_HANDSHAKE_DONE: return "connected";
        case ID_CONN_LOST: return "lost";
        case ID_CONN_CLOSED: return "closed";
        case ID_PACKET_MODIFIED: return "modified";
        case ID_CONN_ATTEMPT_FAILED: return "failed";
        default: return nullptr;
    }
}

void Handle(Packet* p) {
    const uint8_t id = p->length > 0 ? p->data[0] : 0xFF;
    // Messages may overtake the handshake's completion (it travels unordered), so the tally of
    // a client starts with its first message, not with the completion.
    if (id == 200 && p->length == 5) {
        Progress& progress = g_progress[Key(p->sender)];
        const uint32_t n = ReadU32(p->data + 1);
        if (n != progress.messages) ++progress.errors;
        progress.messages = n + 1;
        Echo(p->data, p->length, 0, p->sender);
        return;
    }
    if (id == 201) {
        const Progress& progress = g_progress[Key(p->sender)];
        Print("SUMMARY %u %u %u %u", p->playerIndex, progress.messages, progress.calls, progress.errors);
        uint8_t reply[13] = {201};
        std::memcpy(reply + 1, &progress.messages, 4);
        std::memcpy(reply + 5, &progress.calls, 4);
        std::memcpy(reply + 9, &progress.errors, 4);
        Echo(reply, sizeof reply, 0, p->sender);
        return;
    }
    const char* name = EventName(id);
    if (name != nullptr)
        Print("EVENT %s %u %s", name, p->playerIndex, p->sender.ToString(true));
    else
        Print("EVENT other:%u %u %s", id, p->playerIndex, p->sender.ToString(true));
}

void Command(const char* line, SteppedPeerClock& clock) {
    if (std::strncmp(line, "pings", 5) == 0) {
        for (uint16_t i = 0; i < g_peer->GetMaximumNumberOfPeers(); ++i) {
            const PlayerID id = g_peer->GetPlayerIDFromIndex(i);
            if (id == UNASSIGNED_PLAYER_ID) continue;
            Print("PING %u %d %d %d", i, g_peer->GetAveragePing(id), g_peer->GetLastPing(id),
                  g_peer->GetLowestPing(id));
        }
    } else if (std::strncmp(line, "advance ", 8) == 0) {
        clock.AdvanceMs(uint32_t(std::strtoul(line + 8, nullptr, 10)));
    } else if (std::strncmp(line, "kick ", 5) == 0) {
        const PlayerID id = g_peer->GetPlayerIDFromIndex(int32_t(std::strtol(line + 5, nullptr, 10)));
        g_peer->NotifyAndClose(id, true, 0);
    }
    Print("OK");
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    uint16_t slots = 8;
    const char* password = nullptr;
    int32_t timeoutMs = 10000;
    uint32_t seed = 0x5EED5EED;
    int32_t cookies = 1;
    int32_t cookieLogging = 0;
    int32_t messagesLimit = TransportSettings::kDefaultMessagesLimit;
    int32_t acksLimit = TransportSettings::kDefaultAcksLimit;
    int32_t holeLimit = TransportSettings::kDefaultMessageHoleLimit;
    uint32_t lifetimeS = 120;
    bool library = false, secure = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "0";
        if (a == "--port")
            port = uint16_t(std::atoi(v)), ++i;
        else if (a == "--slots")
            slots = uint16_t(std::atoi(v)), ++i;
        else if (a == "--password")
            password = v, ++i;
        else if (a == "--timeout")
            timeoutMs = std::atoi(v), ++i;
        else if (a == "--seed")
            seed = uint32_t(std::strtoul(v, nullptr, 0)), ++i;
        else if (a == "--cookies")
            cookies = std::atoi(v), ++i;
        else if (a == "--cookie-logging")
            cookieLogging = std::atoi(v), ++i;
        else if (a == "--messages-limit")
            messagesLimit = std::atoi(v), ++i;
        else if (a == "--acks-limit")
            acksLimit = std::atoi(v), ++i;
        else if (a == "--hole-limit")
            holeLimit = std::atoi(v), ++i;
        else if (a == "--lifetime")
            lifetimeS = uint32_t(std::atoi(v)), ++i;
        else if (a == "--immediate")
            g_immediate = true;
        else if (a == "--library")
            library = true;
        else if (a == "--secure")
            secure = true;
    }

    SteppedPeerClock clock;
    TransportSettings transport;
    transport.SetPlayerTimeout(timeoutMs);
    transport.SetMessagesLimit(messagesLimit);
    transport.SetAcksLimit(acksLimit);
    transport.SetMessageHoleLimit(holeLimit);
    NetPeer peer(library ? SocketRole::Library : SocketRole::Server);
    if (secure && !peer.InitializeSecurity(nullptr, nullptr, nullptr, nullptr)) return 1;
    g_peer = &peer;
    peer.SetClock(&clock);
    peer.SetTransportSettings(&transport);
    peer.SetLogHook(LogHook);
    peer.Settings().SetCookieSeed(seed);
    peer.Settings().SetServerChallenge(0xC0FFEE11);
    peer.Settings().SetConnCookies(cookies);
    peer.Settings().SetCookieLogging(cookieLogging);
    if (password != nullptr) peer.SetIncomingPassword(password, int32_t(std::strlen(password)));
    peer.SetMaximumIncomingConnections(slots);
    peer.SetOccasionalPing(true);  // as the game server does
    const uint8_t join = 25, call = 60;
    peer.RegisterRpc(&join, OnJoin);
    peer.RegisterRpc(&call, OnCall);
    if (!peer.Initialize(slots, port, 1, "127.0.0.1")) {
        std::fprintf(stderr, "cannot start\n");
        return 1;
    }
    Print("PORT %u", peer.GetInternalID().port);
    if (secure) {
        uint8_t key[kPublicExponentBytes + kPublicModulusBytes];
        WriteU32(key, peer.SecurityKey().e);
        peer.SecurityKey().n.ToBytes(key + kPublicExponentBytes);
        std::string hex;
        for (uint8_t b : key) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
        Print("KEY %s", hex.c_str());
    }

    const NetTime end = GetTimeMs() + lifetimeS * 1000;
    std::string pending;
    bool running = true;
    while (running && TimeBefore(GetTimeMs(), end)) {
        while (Packet* p = peer.Receive()) {
            Handle(p);
            peer.FreePacket(p);
        }
        pollfd in{0, POLLIN, 0};
        if (poll(&in, 1, 1) > 0) {
            char buffer[256];
            const ssize_t n = read(0, buffer, sizeof buffer);
            if (n <= 0) break;  // end of input stops us
            pending.append(buffer, size_t(n));
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line == "quit")
                    running = false;
                else
                    Command(line.c_str(), clock);
            }
        }
    }
    peer.Disconnect(100, 0);
    return 0;
}
