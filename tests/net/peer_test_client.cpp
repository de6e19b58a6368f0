// Test helper: a bot-role peer that connects to peer_test_server (directly or through a relay),
// joins, and exchanges numbered messages and calls, checking that every echo comes back once and
// in order.
//
// Options: --port P (where to send) --key-port K (the server's own port, for the scrambling;
//   default P) --password TEXT --count N (messages and as many calls; 0 = none) --window W
//   (most unanswered numbers in flight) --immediate (send from this thread at once rather than
//   through the queue) --no-join --close (close gracefully at the end) --idle S (stay connected
//   S seconds first) --lifetime S (give up after S seconds, default 110) --progress (a line a
//   second while numbers are exchanged) --library (a library-role peer) --server-key HEX (the
//   exponent and modulus bytes the server must present; turns the secure connection on)
//
// Output lines: CONNECTED <slot> | REFUSED <id> | EVENT <id> | RESULT ok|fail <messages> <calls>
//   <errors> <server messages> <server calls> <server errors> | CLOSED
// Exit status 0 only when everything that was asked for worked.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace {

using namespace velt;

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t g_calls = 0;
uint32_t g_errors = 0;

void OnEchoCall(RpcCallParams* p) {
    if (p->payloadBits != 32 || ReadU32(p->payload) != g_calls) ++g_errors;
    ++g_calls;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0, keyPort = 0;
    const char* password = nullptr;
    uint32_t count = 0, window = 500, idleS = 0, lifetimeS = 110;
    bool immediate = false, join = true, close = false, progress = false, library = false;
    std::string serverKey;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "0";
        if (a == "--port")
            port = uint16_t(std::atoi(v)), ++i;
        else if (a == "--key-port")
            keyPort = uint16_t(std::atoi(v)), ++i;
        else if (a == "--password")
            password = v, ++i;
        else if (a == "--count")
            count = uint32_t(std::atol(v)), ++i;
        else if (a == "--window")
            window = uint32_t(std::atol(v)), ++i;
        else if (a == "--idle")
            idleS = uint32_t(std::atol(v)), ++i;
        else if (a == "--lifetime")
            lifetimeS = uint32_t(std::atol(v)), ++i;
        else if (a == "--immediate")
            immediate = true;
        else if (a == "--no-join")
            join = false;
        else if (a == "--close")
            close = true;
        else if (a == "--progress")
            progress = true;
        else if (a == "--library")
            library = true;
        else if (a == "--server-key")
            serverKey = v, ++i;
    }
    if (keyPort == 0) keyPort = port;

    NetPeer peer(library ? SocketRole::Library : SocketRole::BotClient);
    if (!serverKey.empty()) {
        uint8_t key[kPublicExponentBytes + kPublicModulusBytes];
        if (serverKey.size() != 2 * sizeof key) return 1;
        for (size_t i = 0; i < sizeof key; ++i)
            key[i] = uint8_t(std::stoul(serverKey.substr(2 * i, 2), nullptr, 16));
        if (!peer.InitializeSecurity(key, key + kPublicExponentBytes, nullptr, nullptr)) return 1;
    }
    peer.Endpoint().SetKey(keyPort);
    const uint8_t echoCall = 61, joinCall = 25, call = 60;
    peer.RegisterRpc(&echoCall, OnEchoCall);
    if (!peer.Initialize(1, 0, 1, "127.0.0.1")) return 1;
    const int32_t passwordLength = password != nullptr ? int32_t(std::strlen(password)) : 0;
    if (!peer.Connect("127.0.0.1", port, password, passwordLength)) return 1;

    const NetTime started = GetTimeMs();
    const NetTime end = started + lifetimeS * 1000;
    auto timeLeft = [&] { return TimeBefore(GetTimeMs(), end); };
    PlayerID server = UNASSIGNED_PLAYER_ID;
    bool lost = false;
    uint32_t messages = 0;
    bool haveSummary = false;
    constexpr int kAttempts = 8;
    int attempts = 1;
    uint8_t summary[13] = {};

    auto pump = [&] {
        bool any = false;
        while (Packet* p = peer.Receive()) {
            any = true;
            const uint8_t id = p->length > 0 ? p->data[0] : 0xFF;
            if (id == ID_CONN_ACCEPTED && p->length == 13) {
                server = p->sender;
                Print("CONNECTED %u after %u ms", p->data[7] | p->data[8] << 8, GetTimeMs() - started);
            } else if (server == UNASSIGNED_PLAYER_ID && id == ID_CONN_ATTEMPT_FAILED &&
                       attempts < kAttempts) {
                // A lost handshake datagram ends an attempt; like a player, try again.
                ++attempts;
                peer.Connect("127.0.0.1", port, password, passwordLength);
            } else if (server == UNASSIGNED_PLAYER_ID &&
                       (id == ID_CONN_ATTEMPT_FAILED || id == ID_CONN_NO_FREE_SLOT || id == ID_CONN_BANNED ||
                        id == ID_CONN_BAD_PASSWORD || id == ID_PUBLIC_KEY_MISMATCH)) {
                Print("REFUSED %u", id);
                lost = true;
            } else if (id == 200 && p->length == 5) {
                if (ReadU32(p->data + 1) != messages) ++g_errors;
                ++messages;
            } else if (id == 201 && p->length == 13) {
                std::memcpy(summary, p->data, 13);
                haveSummary = true;
            } else {
                Print("EVENT %u", id);
                if (id == ID_CONN_LOST || id == ID_CONN_CLOSED) lost = true;
            }
            peer.FreePacket(p);
        }
        return any;
    };

    bool ok = true;
    bool exchanged = false;
    for (;;) {
        while (server == UNASSIGNED_PLAYER_ID && !lost && timeLeft()) {
            if (!pump()) SleepMs(2);
        }
        if (server == UNASSIGNED_PLAYER_ID) {
            peer.Disconnect(0, 0);
            return 2;
        }
        if (join)
            peer.RpcNow(&joinCall, nullptr, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, server,
                        false);

        if (idleS != 0) {
            const NetTime idleEnd = GetTimeMs() + idleS * 1000;
            while (!lost && TimeBefore(GetTimeMs(), idleEnd)) {
                if (!pump()) SleepMs(5);
            }
        }

        ok = !lost;
        if (count == 0 || lost) break;
        exchanged = true;
        uint32_t next = 0;
        NetTime lastProgress = GetTimeMs();
        while (!lost && timeLeft() && (messages < count || g_calls < count)) {
            while (next < count && next - std::min(messages, g_calls) < window) {
                uint8_t m[5] = {200};
                std::memcpy(m + 1, &next, 4);
                uint8_t arg[4];
                std::memcpy(arg, &next, 4);
                if (immediate) {
                    peer.SendNow(m, 40, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, server, false);
                    peer.RpcNow(&call, arg, 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 1, server,
                                false);
                } else {
                    peer.SendBytes(m, 5, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, server, false);
                    peer.RpcBytes(&call, arg, 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 1,
                                  server, false, false, UNASSIGNED_NETWORK_ID, nullptr);
                }
                ++next;
            }
            if (!pump()) SleepMs(1);
            if (progress && GetTimeMs() - lastProgress >= 1000) {
                lastProgress = GetTimeMs();
                const NetworkStatistics* st = peer.GetStatistics(server);
                Print("PROGRESS %u ms: %u messages, %u calls echoed; ping %d; %u resent",
                      lastProgress - started, messages, g_calls, peer.GetLastPing(server),
                      st ? st->messagesResent : 0);
            }
        }
        // The server drops, without a word, a connection whose handshake it has not seen
        // completed within its deadline; under heavy loss that can happen after our side saw
        // the connection accepted. Nothing has come back yet, so start again, as a player would.
        if (lost && messages == 0 && g_calls == 0 && attempts < kAttempts) {
            Print("RECONNECT: connection lost before any echo");
            ++attempts;
            server = UNASSIGNED_PLAYER_ID;
            lost = false;
            peer.Connect("127.0.0.1", port, password, passwordLength);
            continue;
        }
        break;
    }

    if (exchanged) {
        const uint8_t done = 201;
        peer.SendBytes(&done, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, server, false);
        while (!lost && !haveSummary && timeLeft()) {
            if (!pump()) SleepMs(2);
        }
        const uint32_t serverMessages = ReadU32(summary + 1), serverCalls = ReadU32(summary + 5),
                       serverErrors = ReadU32(summary + 9);
        ok = haveSummary && messages == count && g_calls == count && g_errors == 0 &&
             serverMessages == count && serverCalls == count && serverErrors == 0;
        if (const NetworkStatistics* st = peer.GetStatistics(server))
            Print("STATS bandwidth %.0f bits/s, %u datagrams sent, %u resent", st->bitsPerSecond,
                  st->packetsSent, st->messagesResent);
        Print("RESULT %s %u %u %u %u %u %u after %u ms", ok ? "ok" : "fail", messages, g_calls, g_errors,
              serverMessages, serverCalls, serverErrors, GetTimeMs() - started);
    }

    if (close && !lost) {
        peer.CloseConnection(server, true, 0);
        while (!lost && timeLeft()) {
            if (!pump()) SleepMs(2);
        }
        Print("CLOSED");
    }
    peer.Disconnect(0, 0);
    return ok ? 0 : 3;
}
