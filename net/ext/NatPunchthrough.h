#pragma once
// The NAT punch-through plugin: lets two systems behind address-translating routers connect
// with the help of a third that both are connected to, the facilitator. The facilitator
// measures both pings, then tells both sides one moment at which the requester connects and the
// target sends an unconnected ping toward it, so both routers open their mappings together.
// Every system running the plugin can be requester, target and facilitator.

#include <cstdint>
#include <vector>

#include "net/Clock.h"
#include "net/PlayerID.h"
#include "net/PluginInterface.h"
#include "net/ext/ClosedConnectionInbox.h"

namespace velt {

// [81][u32 target address][u16 target port], requester to facilitator.
inline constexpr uint8_t ID_PUNCH_REQUEST = 81;
// [82][u32 target address][u16 target port], facilitator to requester.
inline constexpr uint8_t ID_PUNCH_TARGET_NOT_CONNECTED = 82;
// [83][u32 target address][u16 target port], facilitator to requester.
inline constexpr uint8_t ID_PUNCH_TARGET_LOST = 83;
// [40][u32 connect time][84], facilitator to requester.
inline constexpr uint8_t ID_PUNCH_CONNECT_AT = 84;
// [40][u32 connect time][85][u32 requester address][u16 requester port], facilitator to target.
inline constexpr uint8_t ID_PUNCH_EXPECT_AT = 85;

// Punch-through messages refused, one counter per reason.
struct NatPunchthroughRejections {
    uint32_t notConnected = 0;  // not from a system this peer is connected to
    uint32_t truncated = 0;
    uint32_t unexpected = 0;  // an answer or a time for which no record waits
    uint32_t tooManyRecords = 0;

    uint32_t Total() const { return notConnected + truncated + unexpected + tooManyRecords; }
};

class NatPunchthrough : public PluginInterface {
public:
    static constexpr NetTime kRecordTimeoutMs = 30000;
    static constexpr NetTime kPingIntervalMs = 100;
    static constexpr uint8_t kPingRounds = 5;
    // Each record is a connection attempt or a ping this system will make on somebody's word;
    // a connected system flooding requests or times gets no more than this many at once.
    static constexpr uint32_t kMaxRecords = 64;
    using ClockFn = NetTime (*)();

    NatPunchthrough() = default;
    ~NatPunchthrough() override = default;
    NatPunchthrough(const NatPunchthrough&) = delete;
    NatPunchthrough& operator=(const NatPunchthrough&) = delete;

    // On (the default): answer requests and watch closed connections as facilitator.
    void SetFacilitator(bool enabled) { facilitatorEnabled_ = enabled; }
    // Asks facilitator to arrange a connection to target. False when the plugin is not attached,
    // the facilitator is not connected, or too many punches are pending.
    bool RequestPunch(PlayerID target, const char* password, uint32_t passwordLength, PlayerID facilitator);
    bool RequestPunch(const char* host, uint16_t port, const char* password, uint32_t passwordLength,
                      PlayerID facilitator);

    void Attached(NetPeerInterface* peer) override { peer_ = peer; }
    void Detached(NetPeerInterface* peer) override;
    void Update(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;
    // Network thread: only noted here, acted on by the next Update.
    void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) override;

    uint32_t GetRecordCount() const { return uint32_t(records_.size()); }
    const NatPunchthroughRejections& Rejections() const { return rejections_; }
    // Tests drive the timeline with a clock of their own.
    void SetClock(ClockFn clock) { clock_ = clock != nullptr ? clock : &GetTimeMs; }

private:
    struct PunchRecord {
        NetTime nextActionTime = 0;  // 0: not yet known
        bool facilitating = false;
        PlayerID target = UNASSIGNED_PLAYER_ID;  // unassigned on the target's own record
        NetTime timeout = 0;
        PlayerID facilitator = UNASSIGNED_PLAYER_ID;  // unassigned on the facilitator's own record
        std::vector<char> password;
        PlayerID otherSide =
            UNASSIGNED_PLAYER_ID;  // the requester, on the facilitator's and target's records
        uint8_t pingCount = 0;
    };

    bool AddRecord(const PunchRecord& record);
    void OnPunchRequest(NetPeerInterface* peer, const Packet* packet, uint32_t body);
    bool OnFailure(const Packet* packet);
    void OnConnectAt(const Packet* packet);
    void OnExpectAt(const Packet* packet, uint32_t body);
    void OnClosed(NetPeerInterface* peer, PlayerID closed);
    // Acts on one due record; true when the record is done and goes.
    bool Act(NetPeerInterface* peer, PunchRecord& record, NetTime now);
    int32_t LargerPing(NetPeerInterface* peer, const PunchRecord& record) const;
    static void SendAddress(NetPeerInterface* peer, uint8_t id, PlayerID address, PlayerID to);
    static void SendTimed(NetPeerInterface* peer, uint8_t id, NetTime time, const PlayerID* address,
                          PlayerID to);

    NetPeerInterface* peer_ = nullptr;  // not owned
    bool facilitatorEnabled_ = true;
    std::vector<PunchRecord> records_;  // oldest first
    ClosedConnectionInbox closed_;
    NatPunchthroughRejections rejections_;
    ClockFn clock_ = &GetTimeMs;
};

}  // namespace velt
