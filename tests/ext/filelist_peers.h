#pragma once
// Library-role peers from the factory on 127.0.0.1, for the transfer tests: started on a port the
// system picks, connected to each other, and pumped by hand (their network threads run on their
// own; plugins run inside Receive).

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"
#include "net/NetworkFactory.h"
#include "net/TransportSettings.h"

namespace velt::filetest {

class TestPeer {
public:
    TestPeer() : peer_(CreateNetPeer()) {
        // Files of several megabytes arrive as one split message.
        settings_.SetReassemblyCapBytes(64u << 20);
        settings_.SetOrderingHoldCapBytes(64u << 20);
        if (auto* concrete = dynamic_cast<NetPeer*>(peer_)) concrete->SetTransportSettings(&settings_);
    }
    ~TestPeer() {
        peer_->Disconnect(0, 0);
        DestroyNetPeer(peer_);
    }
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    bool Start() {
        if (!peer_->Initialize(4, 0, 1, "127.0.0.1")) return false;
        peer_->SetMaximumIncomingConnections(4);
        return true;
    }
    NetPeerInterface* operator->() const { return peer_; }
    NetPeerInterface* Get() const { return peer_; }
    uint16_t Port() const { return peer_->GetInternalID().port; }

    // Hands out everything waiting; what reaches the application is kept (its bytes).
    void Pump() {
        while (Packet* p = peer_->Receive()) {
            appPackets.emplace_back(p->data, p->data + p->length);
            peer_->FreePacket(p);
        }
    }
    bool Got(uint8_t id) const {
        for (const auto& bytes : appPackets)
            if (!bytes.empty() && bytes[0] == id) return true;
        return false;
    }
    // The system this peer is connected to in slot 0.
    PlayerID Remote() const {
        PlayerID ids[4];
        uint16_t count = 4;
        peer_->GetConnectionList(ids, &count);
        return count > 0 ? ids[0] : UNASSIGNED_PLAYER_ID;
    }

    std::vector<std::vector<uint8_t>> appPackets;

private:
    TransportSettings settings_;
    NetPeerInterface* peer_;
};

// Pumps every peer until done() holds or the time is up. Generous: sanitizer builds on a busy box.
inline bool PumpUntil(std::vector<TestPeer*> peers, const std::function<bool()>& done,
                      int timeoutMs = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (TestPeer* p : peers) p->Pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// client connects to server; true once both sides see the connection complete.
inline bool ConnectPeers(TestPeer& client, TestPeer& server) {
    if (!client->Connect("127.0.0.1", server.Port(), nullptr, 0)) return false;
    return PumpUntil({&client, &server},
                     [&] { return client.Got(ID_CONN_ACCEPTED) && server.Got(ID_CONN_HANDSHAKE_DONE); });
}

}  // namespace velt::filetest
