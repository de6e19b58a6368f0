#pragma once

// A game server on the fake transport for the protocol handlers: RPCs are called through the
// server's own registration table, packets go through its packet loop, and what the server sent
// back is read from the fake's record.

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/Packet.h"
#include "server/game/ServerStartup.h"
#include "server/protocol/ServerRpcTable.h"
#include "server/shared/SyncRecords.h"
#include "tests/server/dispatch_fake_net.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {

inline std::vector<uint8_t> Bytes(const BitStream& bs) {
    const uint8_t* data = bs.GetData();
    return data != nullptr ? std::vector<uint8_t>(data, data + bs.GetNumberOfBytesUsed())
                           : std::vector<uint8_t>{};
}

// An RPC's argument bits, as a value tests can build in helpers and keep in tables.
struct Payload {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
};
inline Payload PayloadOf(const BitStream& bs) { return {Bytes(bs), uint32_t(bs.GetNumberOfBitsUsed())}; }

// A sync packet: the id byte, then the record's bytes.
template <class Record>
std::vector<uint8_t> SyncPacket(uint8_t id, const Record& record) {
    std::vector<uint8_t> out(1 + Record::kSize);
    out[0] = id;
    Encode(record, out.data() + 1);
    return out;
}

// The same packet behind a timestamp prefix.
inline std::vector<uint8_t> Timestamped(const std::vector<uint8_t>& packet, uint32_t time = 0x01020304) {
    std::vector<uint8_t> out = {40, uint8_t(time), uint8_t(time >> 8), uint8_t(time >> 16),
                                uint8_t(time >> 24)};
    out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

class ProtocolTest : public GameServerTest {
public:
    static constexpr uint32_t kChallenge = 0x5A17C0DEu;

protected:
    void SetUp() override {
        GameServerTest::SetUp();
        ServerChallenge.store(kChallenge);
        // The gamemode host relays an allowed chat line itself; the stand-in does it through here.
        scripts_.broadcastChat = [this](int32_t id, const char* text) {
            if (Player* p = pool()->GetAt(uint16_t(id))) p->BroadcastChat(text, uint8_t(std::strlen(text)));
        };
        scripts_.isPlayerConnected = [this](int32_t id) {
            return game_ && pool() != nullptr && id >= 0 && pool()->IsConnected(uint16_t(id));
        };
    }

    void StartProtocol(bool init = true) {
        game_ = std::make_unique<GameServer>(*console_, settings_, ProtocolFakeNet::Factory(), hosts_);
        net_ = FakeNetServer::last;
        TheGameServer = game_.get();
        if (init && game_->StartFailed() == StartFailure::None) game_->Init(true);
        game_->SetClock([this] { return now_; });
    }
    ProtocolFakeNet* fake() { return static_cast<ProtocolFakeNet*>(net_); }

    // Calls the handler the server registered for id, as the transport would for a call from
    // the slot's address.
    void CallRpc(uint8_t id, uint16_t slot, const BitStream& bs) {
        CallRpcFrom(id, FakeNetServer::AddressOf(slot), bs);
    }
    void CallRpc(uint8_t id, uint16_t slot, const Payload& payload) {
        CallRpcFrom(id, FakeNetServer::AddressOf(slot), payload);
    }
    void CallRpcFrom(uint8_t id, PlayerID sender, const BitStream& bs) {
        CallRpcFrom(id, sender, PayloadOf(bs));
    }
    void CallRpcFrom(uint8_t id, PlayerID sender, Payload payload) {
        RpcHandler handler = nullptr;
        for (const ServerRpcEntry& entry : kServerRpcs)
            if (entry.id == id) handler = entry.handler;
        ASSERT_NE(handler, nullptr) << "no handler for RPC " << int(id);
        RpcCallParams params{payload.bytes.empty() ? nullptr : payload.bytes.data(), payload.bits, sender,
                             nullptr};
        handler(&params);
    }
    void CallEmptyRpc(uint8_t id, uint16_t slot) {
        BitStream none;
        CallRpc(id, slot, none);
    }

    // A packet from the slot through the server's packet loop.
    void SendPacket(uint16_t slot, const std::vector<uint8_t>& data) {
        net_->QueuePacket(slot, data);
        game_->ProcessPackets();
    }

    // A connected player with a Player the tests can move: on foot at a position.
    void JoinAt(uint16_t id, const char* name, float x, float y, float z = 10.0f, bool bot = false) {
        Join(id, name, bot);
        Player* p = player(id);
        p->UpdatePosition(x, y, z, false);
        p->SetState(PLAYER_STATE_ONFOOT);
    }

    // Messages of one kind the server sent to a slot.
    std::vector<FakeNetServer::Message> RpcsTo(uint16_t slot, uint8_t rpcId) const {
        std::vector<FakeNetServer::Message> out;
        for (const FakeNetServer::Message& m : net_->To(FakeNetServer::AddressOf(slot)))
            if (m.isRpc && m.rpcId == rpcId) out.push_back(m);
        return out;
    }
    std::vector<FakeNetServer::Message> PacketsTo(uint16_t slot, uint8_t packetId) const {
        std::vector<FakeNetServer::Message> out;
        for (const FakeNetServer::Message& m : net_->To(FakeNetServer::AddressOf(slot)))
            if (!m.isRpc && !m.bytes.empty() && m.bytes[0] == packetId) out.push_back(m);
        return out;
    }
    // Client messages (RPC 93) to a slot, as their texts.
    std::vector<std::string> ClientMessagesTo(uint16_t slot) const {
        std::vector<std::string> out;
        for (const FakeNetServer::Message& m : RpcsTo(slot, RPC_ClientMessage)) {
            Reader r(m);
            r.Get<uint32_t>();
            uint32_t length = r.Get<uint32_t>();
            out.push_back(r.Text(length));
        }
        return out;
    }
    bool Kicked(uint16_t slot) const {
        const std::string line = "Kick " + std::string(FakeNetServer::AddressOf(slot).ToString(true));
        for (const std::string& c : net_->calls)
            if (c == line) return true;
        return false;
    }
    std::vector<std::string> CallsNamed(const std::string& name) const {
        std::vector<std::string> out;
        for (const std::string& c : Calls())
            if (c.find(":" + name + "(") != std::string::npos) out.push_back(c);
        return out;
    }

    uint32_t now_ = 100000;
};

}  // namespace velt::test
