#pragma once
// Shared pieces of the peer tests: clocks the test moves, a log sink, a raw-send tap, and a
// server/client pair driven by hand over loopback sockets (no network threads, so every pass
// happens when the test says and time only moves when the test moves it).

#include <arpa/inet.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace velt::peertest {

class ManualClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return us.load(); }
    void AdvanceMs(uint64_t ms) { us += ms * 1000; }
    std::atomic<uint64_t> us{5'000'000};
};

// Another system's clock: the base clock plus a fixed offset.
class OffsetClock final : public PeerClock {
public:
    OffsetClock(const PeerClock& base, int64_t offsetMs) : base_(base), offsetUs_(offsetMs * 1000) {}
    uint64_t NowUs() const override { return uint64_t(int64_t(base_.NowUs()) + offsetUs_); }

private:
    const PeerClock& base_;
    int64_t offsetUs_;
};

inline std::mutex g_logMutex;
inline std::vector<std::string> g_logLines;

inline void CaptureLog(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.emplace_back(line);
}

inline std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::vector<std::string> out;
    out.swap(g_logLines);
    return out;
}

struct SentDatagram {
    PlayerID to;
    std::vector<uint8_t> bytes;
};

struct Tap {
    std::vector<SentDatagram> sent;
    static void Record(void* context, PlayerID to, const uint8_t* data, uint32_t length) {
        static_cast<Tap*>(context)->sent.push_back({to, std::vector<uint8_t>(data, data + length)});
    }
    std::vector<SentDatagram> Take() {
        std::vector<SentDatagram> out;
        out.swap(sent);
        return out;
    }
};

struct Got {
    std::vector<uint8_t> bytes;
    uint32_t bitLength;
    uint16_t index;
    PlayerID sender;
    uint8_t Id() const { return bytes.empty() ? 0xFF : bytes[0]; }
};

// Everything Receive hands out now (RPCs run inside it), copied and freed.
inline std::vector<Got> Drain(NetPeer& peer) {
    std::vector<Got> out;
    while (Packet* p = peer.Receive()) {
        out.push_back(
            {std::vector<uint8_t>(p->data, p->data + p->length), p->bitLength, p->playerIndex, p->sender});
        peer.FreePacket(p);
    }
    return out;
}

inline uint32_t Loopback(uint8_t last = 1) {
    in_addr a{};
    const std::string text = "127.0.0." + std::to_string(last);
    inet_pton(AF_INET, text.c_str(), &a);
    return a.s_addr;
}

inline uint32_t ReadLe32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A server-role peer and bot-role clients on 127.0.0.1, each run by hand.
struct PeerPair {
    ManualClock clock;
    NetPeer server{SocketRole::Server};
    std::vector<std::unique_ptr<PeerClock>> otherClocks;  // outlive the clients
    std::vector<std::unique_ptr<NetPeer>> clients;
    std::vector<Got> serverGot;
    std::vector<std::vector<Got>> clientGot;
    uint16_t serverPort = 0;

    explicit PeerPair(uint16_t maxConnections = 4, const char* password = nullptr, int clientCount = 1) {
        server.SetClock(&clock);
        server.SetManualCycle(true);
        server.SetLogHook(CaptureLog);
        if (password != nullptr) server.SetIncomingPassword(password, int32_t(std::strlen(password)));
        server.Settings().SetCookieSeed(0x12345678);
        server.Settings().SetServerChallenge(0xCAFEBABE);
        server.SetMaximumIncomingConnections(maxConnections);
        ok = server.Initialize(maxConnections, 0, 0, "127.0.0.1");
        serverPort = server.GetInternalID().port;
        for (int i = 0; i < clientCount; ++i) AddClient();
    }
    ~PeerPair() {
        for (auto& c : clients) c->Disconnect(0, 0);
        server.Disconnect(0, 0);
    }

    NetPeer& client(size_t i = 0) { return *clients[i]; }

    // A clock offsetMs ahead of the pair's, for a client that lives in another time.
    const PeerClock* OffsetBy(int64_t offsetMs) {
        otherClocks.push_back(std::make_unique<OffsetClock>(clock, offsetMs));
        return otherClocks.back().get();
    }

    NetPeer& AddClient(const char* bindAddress = "127.0.0.1", const PeerClock* clientClock = nullptr) {
        auto c = std::make_unique<NetPeer>(SocketRole::BotClient);
        c->SetClock(clientClock != nullptr ? clientClock : &clock);
        c->SetManualCycle(true);
        c->Endpoint().SetKey(serverPort);
        ok = c->Initialize(1, 0, 0, bindAddress) && ok;
        clients.push_back(std::move(c));
        clientGot.emplace_back();
        return *clients.back();
    }

    PlayerID ServerId() const { return PlayerID{Loopback(), serverPort}; }
    PlayerID ClientId(size_t i = 0) const { return clients[i]->GetInternalID(); }

    // One round: time moves, then every peer runs one pass and its packets are collected.
    void Round(uint32_t stepMs = 10) {
        clock.AdvanceMs(stepMs);
        server.RunCycle();
        for (auto& c : clients) c->RunCycle();
        Collect();
    }
    void Collect() {
        for (Got& g : Drain(server)) serverGot.push_back(std::move(g));
        for (size_t i = 0; i < clients.size(); ++i)
            for (Got& g : Drain(*clients[i])) clientGot[i].push_back(std::move(g));
    }
    bool RoundsUntil(const std::function<bool()>& done, int maxRounds = 500, uint32_t stepMs = 10) {
        for (int i = 0; i < maxRounds; ++i) {
            if (done()) return true;
            Round(stepMs);
        }
        return done();
    }
    static bool Has(const std::vector<Got>& got, uint8_t id) {
        for (const Got& g : got)
            if (g.Id() == id) return true;
        return false;
    }
    static size_t Count(const std::vector<Got>& got, uint8_t id) {
        size_t n = 0;
        for (const Got& g : got) n += g.Id() == id ? 1 : 0;
        return n;
    }
    bool Connect(size_t i = 0, const char* password = nullptr) {
        const int32_t n = password != nullptr ? int32_t(std::strlen(password)) : 0;
        const size_t before = Count(serverGot, ID_CONN_HANDSHAKE_DONE);
        if (!client(i).Connect("127.0.0.1", serverPort, password, n)) return false;
        return RoundsUntil([&] {
            return Has(clientGot[i], ID_CONN_ACCEPTED) && Count(serverGot, ID_CONN_HANDSHAKE_DONE) > before;
        });
    }

    bool ok = true;
};

}  // namespace velt::peertest
