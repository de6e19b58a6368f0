#pragma once
// A peer that never opens a socket: the plugins of a mesh talk to it as to a real one, and it
// records what they send, ping and connect to, and the notices they queue. Which systems are
// connected, and what they report, is set by the test.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/NetPeer.h"
#include "net/Packet.h"

namespace velt::test {

struct SentMessage {
    std::vector<uint8_t> bytes;
    uint32_t bits;
    PacketPriority priority;
    MessageReliability reliability;
    uint8_t orderingChannel;
    PlayerID target;
    uint8_t Id() const { return bytes.empty() ? 0xFF : bytes[0]; }
};

struct Attempt {
    std::string host;
    uint16_t port;
    std::string password;
};

class FakePeer : public NetPeer {
public:
    explicit FakePeer(PlayerID self) : self(self) {}
    ~FakePeer() override { FreeQueued(); }
    void FreeQueued() {
        for (Packet* p : queued) velt::FreePacket(p);
        queued.clear();
    }

    int32_t GetIndexFromPlayerID(PlayerID id) const override {
        const auto it = std::find(connected.begin(), connected.end(), id);
        return it == connected.end() ? -1 : int32_t(it - connected.begin());
    }
    PlayerID GetPlayerIDFromIndex(int32_t index) const override {
        return index >= 0 && index < int32_t(connected.size()) ? connected[size_t(index)]
                                                               : UNASSIGNED_PLAYER_ID;
    }
    uint16_t GetMaximumNumberOfPeers() const override { return 8; }
    // Every system sees us at one address, as on a network without address translation; a
    // closed connection still remembers what it reported.
    PlayerID GetExternalID(PlayerID target) const override {
        (void)target;
        return self;
    }
    int32_t GetAveragePing(PlayerID target) const override {
        return GetIndexFromPlayerID(target) >= 0 ? ping : -1;
    }

    bool Send(const BitStream* stream, PacketPriority priority, MessageReliability reliability,
              uint8_t channel, PlayerID target, bool broadcast) override {
        (void)broadcast;
        const uint8_t* data = stream->GetData();
        sent.push_back({std::vector<uint8_t>(data, data + stream->GetNumberOfBytesUsed()),
                        uint32_t(stream->GetNumberOfBitsUsed()), priority, reliability, channel, target});
        return true;
    }
    void Ping(PlayerID target) override { pinged.push_back(target); }
    void Ping(const char* host, uint16_t port, bool onlyWhenAccepting) override {
        (void)onlyWhenAccepting;
        unconnectedPings.push_back({host, port, {}});
    }
    bool Connect(const char* host, uint16_t port, const char* password, int32_t passwordLength) override {
        attempts.push_back(
            {host, port, password ? std::string(password, size_t(passwordLength)) : std::string()});
        return true;
    }
    void PushBackPacket(Packet* packet, bool pushAtHead) override {
        (void)pushAtHead;
        queued.push_back(packet);
    }

    std::vector<SentMessage> TakeSent() {
        std::vector<SentMessage> out;
        out.swap(sent);
        return out;
    }

    PlayerID self;
    std::vector<PlayerID> connected;
    int32_t ping = 0;
    std::vector<SentMessage> sent;
    std::vector<PlayerID> pinged;
    std::vector<Attempt> unconnectedPings;
    std::vector<Attempt> attempts;
    std::vector<Packet*> queued;
};

// A packet as the peer hands it to plugins: over a connection (slot index) unless told otherwise.
class HeldPacket {
public:
    HeldPacket(const std::vector<uint8_t>& bytes, PlayerID sender, uint16_t slot = 0) {
        packet_ = NewPacket(uint32_t(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), packet_->data);
        packet_->sender = sender;
        packet_->playerIndex = slot;
    }
    HeldPacket(const BitStream& stream, PlayerID sender, uint16_t slot = 0)
        : HeldPacket(std::vector<uint8_t>(stream.GetData(), stream.GetData() + stream.GetNumberOfBytesUsed()),
                     sender, slot) {}
    ~HeldPacket() { velt::FreePacket(packet_); }
    HeldPacket(const HeldPacket&) = delete;
    HeldPacket& operator=(const HeldPacket&) = delete;
    Packet* get() { return packet_; }
    std::vector<uint8_t> Bytes() const {
        return std::vector<uint8_t>(packet_->data, packet_->data + packet_->length);
    }

private:
    Packet* packet_;
};

inline PlayerID Loop(uint8_t last, uint16_t port) {
    return PlayerID{0x0000007Fu | uint32_t(last) << 24, port};
}

}  // namespace velt::test
