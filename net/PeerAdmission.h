#pragma once
// Admission: what becomes of a datagram before any reliability channel sees it (bans, the open-
// connection exchange with its cookie and flood defences, offline pings and advertisements), the
// channel of a sender that has a slot, and the handshake messages that turn a slot into a
// connection on either side.

#include <cstdint>
#include <optional>

#include "net/BanList.h"
#include "net/ConnectionCookie.h"
#include "net/OutgoingConnections.h"
#include "net/PeerCore.h"
#include "net/PeerLines.h"
#include "net/PeerSecurity.h"
#include "net/SlotSender.h"

namespace velt {

class PeerAdmission {
public:
    PeerAdmission(PeerCore& core, SlotSender& sender, PeerLines& lines, OutgoingConnections& outgoing)
        : core_(core), sender_(sender), lines_(lines), outgoing_(outgoing) {}

    static constexpr uint32_t kMaxPasswordBytes = OutgoingConnections::kMaxPasswordBytes;
    // A banned address hears so at most this often.
    static constexpr NetTime kBanReplyIntervalMs = 1000;

    BanList& Bans() { return banList_; }
    ConnectionCookie& Cookie() { return cookie_; }
    // Key material of secure connections; changed only while the peer is not running.
    PeerSecurity& Security() { return security_; }
    void SetPassword(const uint8_t* password, uint32_t length) VELT_REQUIRES(core_.slots.peerLock);
    // The password's length, and up to capacity of its bytes into out (when not null).
    uint32_t GetPassword(uint8_t* out, uint32_t capacity) const VELT_REQUIRES(core_.slots.peerLock);

    // Network thread: one datagram from the socket.
    void HandleDatagram(PlayerID sender, const uint8_t* data, uint32_t length, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);

    // ---- the handshake messages a slot's channel delivers (network thread) ----
    // The first message of an unverified slot: a connection request is answered, anything else
    // closes the slot and bans its address. False when the slot was closed.
    bool HandleFirstMessage(uint32_t index, const OwnedPayload& message, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // [30] of 7 bytes: the server side's completion; the message then goes to the user.
    void HandleHandshakeDone(uint32_t index, OwnedPayload&& message, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // [34] of 13 bytes: the connecting side's acceptance; the message then goes to the user.
    void HandleConnectionAccepted(uint32_t index, OwnedPayload&& message, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);

    // [15] of the secure exchange, connecting side. False when the slot was closed.
    bool HandleSecureResponse(uint32_t index, const OwnedPayload& message, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // A message of a slot that was sent the secure response: only its [16] is taken.
    void HandleSecureConfirm(uint32_t index, const OwnedPayload& message, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);

    // The transport's own ban of an address that misbehaved. Not made while another slot than the
    // offender's is connected from that address (the offender may be anyone who can write the
    // address on a datagram); an offending slot is then closed instead.
    void BanAutomatically(PlayerID offender, uint32_t durationMs, int32_t offenderSlot)
        VELT_REQUIRES(core_.slots.peerLock);

private:
    bool IsBanned(PlayerID sender);
    // True when the open-connection request was fully handled (false: continue with the slot path).
    bool HandleOpenConnectionRequest(PlayerID sender, const uint8_t* data, NetTime now, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    void HandleSlotDatagram(uint32_t index, PlayerID sender, const uint8_t* data, uint32_t length,
                            uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    void HandleUnconnectedDatagram(PlayerID sender, const uint8_t* data, uint32_t length)
        VELT_REQUIRES(core_.slots.peerLock);
    void HandleConnectionRequest(uint32_t index, const uint8_t* data, uint32_t length, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    void AcceptConnection(uint32_t index, const uint8_t* key, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);

    PeerCore& core_;
    SlotSender& sender_;
    PeerLines& lines_;
    OutgoingConnections& outgoing_;
    BanList banList_;
    ConnectionCookie cookie_;
    PeerSecurity security_;
    // Answers to banned addresses, per address.
    RepeatThrottle banReplies_{12, kBanReplyIntervalMs};
    uint8_t password_[kMaxPasswordBytes] VELT_GUARDED_BY(core_.slots.peerLock) = {};
    uint8_t passwordLength_ VELT_GUARDED_BY(core_.slots.peerLock) = 0;
    // Network thread: when the last open-connection request passed the cookie check, when the
    // minimum-time warning was last logged, and the last slot given to such a request.
    struct AssignedSlot {
        uint32_t address;
        NetTime time;
        int32_t index;
    };
    std::optional<NetTime> lastAcceptedRequest_;
    std::optional<NetTime> lastMinTimeWarning_;
    std::optional<AssignedSlot> lastAssigned_;
};

}  // namespace velt
