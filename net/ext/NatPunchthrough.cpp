#include "net/ext/NatPunchthrough.h"

#include <string>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeerInterface.h"
#include "net/Packet.h"
#include "net/ext/GraphWire.h"

namespace velt {

namespace {

constexpr uint16_t kUnassignedIndex = 0xFFFF;
constexpr uint32_t kMaxPasswordBytes = 255;

}  // namespace

void NatPunchthrough::Detached(NetPeerInterface* peer) {
    if (peer_ == peer) peer_ = nullptr;
}

bool NatPunchthrough::AddRecord(const PunchRecord& record) {
    if (records_.size() >= kMaxRecords) {
        ++rejections_.tooManyRecords;
        return false;
    }
    records_.push_back(record);
    return true;
}

bool NatPunchthrough::RequestPunch(PlayerID target, const char* password, uint32_t passwordLength,
                                   PlayerID facilitator) {
    if (peer_ == nullptr || peer_->GetIndexFromPlayerID(facilitator) == -1) return false;
    if (records_.size() >= kMaxRecords) return false;
    SendAddress(peer_, ID_PUNCH_REQUEST, target, facilitator);
    PunchRecord record;
    record.target = target;
    record.timeout = clock_() + kRecordTimeoutMs;
    record.facilitator = facilitator;
    if (password != nullptr && passwordLength != 0)
        record.password.assign(
            password, password + (passwordLength < kMaxPasswordBytes ? passwordLength : kMaxPasswordBytes));
    return AddRecord(record);
}

bool NatPunchthrough::RequestPunch(const char* host, uint16_t port, const char* password,
                                   uint32_t passwordLength, PlayerID facilitator) {
    if (peer_ == nullptr || host == nullptr) return false;
    PlayerID target = UNASSIGNED_PLAYER_ID;
    peer_->IPToPlayerID(host, port, &target);
    if (target == UNASSIGNED_PLAYER_ID) return false;
    return RequestPunch(target, password, passwordLength, facilitator);
}

void NatPunchthrough::SendAddress(NetPeerInterface* peer, uint8_t id, PlayerID address, PlayerID to) {
    BitStream out;
    out.Write(id);
    WriteAddress(out, address);
    peer->Send(&out, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, to, false);
}

void NatPunchthrough::SendTimed(NetPeerInterface* peer, uint8_t id, NetTime time, const PlayerID* address,
                                PlayerID to) {
    BitStream out;
    out.Write(uint8_t(ID_TIMESTAMPED));
    out.Write(time);
    out.Write(id);
    if (address != nullptr) WriteAddress(out, *address);
    peer->Send(&out, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, to, false);
}

PluginReceiveResult NatPunchthrough::Received(NetPeerInterface* peer, Packet* packet) {
    if (peer == nullptr || packet == nullptr) return PRR_CONTINUE;
    const uint8_t id = GetPacketIdentifier(packet);
    const bool notice = id == ID_CONN_CLOSED || id == ID_CONN_LOST;
    if (!notice && (id < ID_PUNCH_REQUEST || id > ID_PUNCH_EXPECT_AT)) return PRR_CONTINUE;
    if (notice) {
        // The peer's notices come with the slot that closed; a routed copy names any sender.
        if (packet->playerIndex != kUnassignedIndex) OnClosed(peer, packet->sender);
        return PRR_CONTINUE;
    }
    // Every step is taken on the word of a system we are connected to; anything else (an
    // unconnected datagram, a routed message naming a source of its choice) would let anybody
    // make this system connect or ping where it says.
    if (packet->playerIndex == kUnassignedIndex || peer->GetIndexFromPlayerID(packet->sender) < 0) {
        ++rejections_.notConnected;
        return PRR_DEALLOCATE;
    }
    const uint32_t body = packet->data[0] == ID_TIMESTAMPED ? kTimestampPrefixBytes + 1 : 1;
    switch (id) {
        case ID_PUNCH_REQUEST:
            if (facilitatorEnabled_) OnPunchRequest(peer, packet, body);
            return PRR_DEALLOCATE;
        case ID_PUNCH_TARGET_NOT_CONNECTED:
        case ID_PUNCH_TARGET_LOST: return OnFailure(packet) ? PRR_CONTINUE : PRR_DEALLOCATE;
        case ID_PUNCH_CONNECT_AT: OnConnectAt(packet); return PRR_DEALLOCATE;
        default: OnExpectAt(packet, body); return PRR_DEALLOCATE;
    }
}

void NatPunchthrough::OnPunchRequest(NetPeerInterface* peer, const Packet* packet, uint32_t body) {
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(int32_t(body * 8));
    PlayerID target{};
    if (!ReadAddress(in, target)) {
        ++rejections_.truncated;
        return;
    }
    const PlayerID requester = packet->sender;
    if (peer->GetIndexFromPlayerID(target) == -1) {
        SendAddress(peer, ID_PUNCH_TARGET_NOT_CONNECTED, target, requester);
        return;
    }
    const NetTime now = clock_();
    PunchRecord record;
    record.nextActionTime = now + kPingIntervalMs;
    record.facilitating = true;
    record.target = target;
    record.timeout = now + kRecordTimeoutMs;
    record.otherSide = requester;
    record.pingCount = 1;
    if (!AddRecord(record)) return;
    peer->Ping(target);
    peer->Ping(requester);
}

bool NatPunchthrough::OnFailure(const Packet* packet) {
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (it->facilitator != packet->sender) continue;
        records_.erase(it);
        return true;
    }
    ++rejections_.unexpected;
    return false;
}

void NatPunchthrough::OnConnectAt(const Packet* packet) {
    // The time travels in the timestamp prefix, which the peer has turned into our clock.
    if (packet->data[0] != ID_TIMESTAMPED) {
        ++rejections_.truncated;
        return;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    NetTime connectAt = 0;
    if (!in.Read(connectAt)) {
        ++rejections_.truncated;
        return;
    }
    for (PunchRecord& record : records_) {
        if (record.nextActionTime != 0 || record.facilitating || record.facilitator != packet->sender)
            continue;
        // 0 means "not yet known"; a moment one millisecond later is as good.
        record.nextActionTime = connectAt != 0 ? connectAt : 1;
        return;
    }
    ++rejections_.unexpected;
}

void NatPunchthrough::OnExpectAt(const Packet* packet, uint32_t body) {
    if (packet->data[0] != ID_TIMESTAMPED) {
        ++rejections_.truncated;
        return;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    NetTime connectAt = 0;
    PlayerID requester{};
    const bool read = in.Read(connectAt);
    in.SetReadOffset(int32_t(body * 8));
    if (!read || !ReadAddress(in, requester)) {
        ++rejections_.truncated;
        return;
    }
    PunchRecord record;
    record.nextActionTime = connectAt != 0 ? connectAt : 1;
    record.timeout = clock_() + kRecordTimeoutMs;
    record.facilitator = packet->sender;
    record.otherSide = requester;
    AddRecord(record);
}

void NatPunchthrough::ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
    (void)peer;
    closed_.Push(remote);
}

void NatPunchthrough::OnClosed(NetPeerInterface* peer, PlayerID closed) {
    if (!facilitatorEnabled_) return;
    for (auto it = records_.begin(); it != records_.end();) {
        if (!it->facilitating || (it->target != closed && it->otherSide != closed)) {
            ++it;
            continue;
        }
        if (it->target == closed) SendAddress(peer, ID_PUNCH_TARGET_LOST, it->target, it->otherSide);
        it = records_.erase(it);
    }
}

int32_t NatPunchthrough::LargerPing(NetPeerInterface* peer, const PunchRecord& record) const {
    const int32_t toTarget = peer->GetAveragePing(record.target);
    const int32_t toRequester = peer->GetAveragePing(record.otherSide);
    const int32_t larger = toTarget > toRequester ? toTarget : toRequester;
    // No measurement yet (-1): act as on a link without delay rather than in the past.
    return larger < 0 ? 0 : larger;
}

bool NatPunchthrough::Act(NetPeerInterface* peer, PunchRecord& record, NetTime now) {
    if (record.facilitating) {
        if (TimeBefore(now, record.nextActionTime)) return false;
        if (record.pingCount < kPingRounds) {
            ++record.pingCount;
            peer->Ping(record.target);
            peer->Ping(record.otherSide);
            record.nextActionTime = now + kPingIntervalMs;
            return false;
        }
        const NetTime ping = NetTime(LargerPing(peer, record));
        if (record.pingCount == kPingRounds) {
            record.nextActionTime = now + ping * 3 / 2;
            record.pingCount = kPingRounds + 1;
            return false;
        }
        const NetTime connectAt = now + ping * 5;
        SendTimed(peer, ID_PUNCH_CONNECT_AT, connectAt, nullptr, record.otherSide);
        SendTimed(peer, ID_PUNCH_EXPECT_AT, connectAt, &record.otherSide, record.target);
        return true;
    }
    if (record.nextActionTime == 0 || TimeBefore(now, record.nextActionTime)) return false;
    if (record.target != UNASSIGNED_PLAYER_ID) {
        const std::string host = peer->PlayerIDToDottedIP(record.target);
        peer->Connect(host.c_str(), record.target.port,
                      record.password.empty() ? nullptr : record.password.data(),
                      int32_t(record.password.size()));
    } else {
        const std::string host = peer->PlayerIDToDottedIP(record.otherSide);
        peer->Ping(host.c_str(), record.otherSide.port, false);
    }
    return true;
}

void NatPunchthrough::Update(NetPeerInterface* peer) {
    if (peer == nullptr) return;
    for (const PlayerID& closed : closed_.TakeAll()) OnClosed(peer, closed);
    if (records_.empty()) return;
    const NetTime now = clock_();
    for (size_t i = 0; i < records_.size();) {
        PunchRecord& record = records_[i];
        if (TimeBefore(record.timeout, now) || Act(peer, record, now))
            records_.erase(records_.begin() + std::ptrdiff_t(i));
        else
            ++i;
    }
}

}  // namespace velt
