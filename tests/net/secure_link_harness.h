#pragma once
// Two library-role peers joined by hand: no sockets, every datagram carried (and lost, or
// changed) by the caller's rules, time moved by the caller. Used by the secure-connection tests
// and the benchmark of the enciphered link.

#include <functional>
#include <random>

#include "peer_test_util.h"

namespace velt::securelink {

using peertest::Drain;
using peertest::Got;
using peertest::ManualClock;
using peertest::Tap;

constexpr uint16_t kServerPort = 7002;
constexpr uint16_t kClientPort = 7001;

struct SecureLink {
    ManualClock clock;
    NetPeer server{SocketRole::Library};
    NetPeer client{SocketRole::Library};
    Tap serverTap, clientTap;
    std::vector<Got> serverGot, clientGot;
    std::mt19937 rng{99};
    double loss = 0;
    // Sees each datagram on its way; false drops it.
    std::function<bool(bool toServer, std::vector<uint8_t>& bytes)> wire;

    // clientSecure: the client has security on, expecting the server to present the key
    // (expectE, expectN) when given. serverSecure: the server answers with the secure exchange.
    explicit SecureLink(bool clientSecure = true, const uint8_t* expectE = nullptr,
                        const uint8_t* expectN = nullptr, bool serverSecure = true) {
        for (NetPeer* p : {&server, &client}) {
            p->SetClock(&clock);
            p->SetManualCycle(true);
            p->SetSocketless(true);
        }
        server.SetRawSendTap(Tap::Record, &serverTap);
        client.SetRawSendTap(Tap::Record, &clientTap);
        server.SetMaximumIncomingConnections(2);
        if (serverSecure) ok = server.InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
        if (clientSecure) ok = client.InitializeSecurity(expectE, expectN, nullptr, nullptr) && ok;
        ok = server.Initialize(2, kServerPort, 0, "127.0.0.1") && ok;
        ok = client.Initialize(1, kClientPort, 0, "127.0.0.1") && ok;
    }
    ~SecureLink() {
        client.Disconnect(0, 0);
        server.Disconnect(0, 0);
    }

    PlayerID ServerId() const { return PlayerID{peertest::Loopback(), kServerPort}; }
    PlayerID ClientId() const { return PlayerID{peertest::Loopback(), kClientPort}; }

    void Carry(Tap& from, NetPeer& to, uint16_t fromPort, bool toServer) {
        for (peertest::SentDatagram& d : from.Take()) {
            if (loss > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < loss) continue;
            if (wire && !wire(toServer, d.bytes)) continue;
            to.HandleDatagram(peertest::Loopback(), fromPort, d.bytes.data(), uint32_t(d.bytes.size()));
        }
    }
    void Round(uint32_t stepMs = 10) {
        clock.AdvanceMs(stepMs);
        server.RunCycle();
        client.RunCycle();
        Carry(clientTap, server, kClientPort, true);
        Carry(serverTap, client, kServerPort, false);
        for (Got& g : Drain(server)) serverGot.push_back(std::move(g));
        for (Got& g : Drain(client)) clientGot.push_back(std::move(g));
    }
    bool RoundsUntil(const std::function<bool()>& done, int maxRounds = 2000) {
        for (int i = 0; i < maxRounds && !done(); ++i) Round();
        return done();
    }
    static size_t Count(const std::vector<Got>& got, uint8_t id) {
        size_t n = 0;
        for (const Got& g : got) n += g.Id() == id;
        return n;
    }
    bool Connect() {
        if (!client.Connect("127.0.0.1", kServerPort, nullptr, 0)) return false;
        return RoundsUntil([&] {
            return Count(clientGot, ID_CONN_ACCEPTED) == 1 && Count(serverGot, ID_CONN_HANDSHAKE_DONE) == 1;
        });
    }
    uint32_t Rejections(NetPeer& peer, Rejected kind) {
        const NetworkStatistics* s = peer.GetStatistics(&peer == &server ? ClientId() : ServerId());
        return s != nullptr ? s->Rejections(kind) : 0;
    }
    bool ok = true;
};

}  // namespace velt::securelink
