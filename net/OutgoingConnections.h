#pragma once
// The connecting side of the handshake: connection attempts the user asked for, their open-
// connection requests repeated on a schedule (and at once with a server's cookie), and what a
// server answers them before a slot exists.

#include <cstdint>
#include <vector>

#include "net/PeerCore.h"
#include "net/SingleProducerConsumer.h"
#include "net/SlotSender.h"

namespace velt {

class OutgoingConnections {
public:
    OutgoingConnections(PeerCore& core, SlotSender& sender) : core_(core), sender_(sender) {}

    // The longest password a connection request carries.
    static constexpr uint32_t kMaxPasswordBytes = 255;
    // Open-connection requests per attempt, this far apart, before the user hears it failed.
    static constexpr uint32_t kAttempts = 6;
    static constexpr NetTime kRetryMs = 1000;

    // User thread: queues an attempt (password cut to kMaxPasswordBytes).
    void Request(PlayerID target, const char* password, uint32_t passwordLength, NetTime now);

    // ---- network thread ----
    // Whether attempts were queued that Run has not taken yet.
    bool HasRequests() const { return requested_.Size() != 0; }
    // Takes the new attempts, sends the requests that are due, and gives up on those out of
    // tries (the user hears ID_CONN_ATTEMPT_FAILED).
    void Run(NetTime now);
    // A datagram from sender that may answer an attempt: the open-connection reply ([25], then
    // the connection request goes out on a new slot), a refusal ([29], [31], [36]: the user
    // hears it) or a cookie ([26]). True when the datagram was taken care of here.
    bool HandleAnswer(PlayerID sender, const uint8_t* data, uint32_t length, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // While no network thread runs.
    void Clear();

private:
    struct Attempt {
        PlayerID playerId;
        NetTime nextRequestTime;
        uint8_t requestsMade;
        uint8_t passwordLength;
        uint8_t password[kMaxPasswordBytes];
        bool haveCookie;
        uint16_t cookie;  // already masked, as it goes on the wire
    };
    void SendOpenRequest(const Attempt& attempt);

    PeerCore& core_;
    SlotSender& sender_;
    DataStructures::SingleProducerConsumer<Attempt> requested_;
    std::vector<Attempt> pending_;  // network thread
};

}  // namespace velt
