// What the network pass does with the messages a slot's channel delivers: the transport's own
// (handshake, pings, keep-alives, notices, static data) it handles, game data goes to the user
// within the slot's share of the queue.

#include <cstring>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkPass.h"

namespace velt {

bool NetworkPass::HandleMessage(uint32_t index, OwnedPayload&& message, NetTime now, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    const uint8_t* data = message.Data();
    const uint32_t bitLength = message.BitLength();
    const uint32_t length = message.ByteLength();
    const int32_t mode = slot.connectMode;
    const uint8_t id = data[0];

    if (mode == CM_UNVERIFIED_SENDER) {
        if (!slot.secureResponseSent) return admission_.HandleFirstMessage(index, message, timeUs);
        admission_.HandleSecureConfirm(index, message, timeUs);
        return true;
    }

    switch (id) {
        case ID_CONN_REQUEST:
            // Only the first request of a slot is answered: every answer is sent reliably, and so
            // resent, and a stream of requests would make a stream of those.
            slot.channel->CountRejected(Rejected::RepeatedRequest);
            return true;
        case ID_CONN_HANDSHAKE_DONE:
            if (length != 7) break;
            admission_.HandleHandshakeDone(index, std::move(message), timeUs);
            return true;
        case ID_INTERNAL_PONG:
            if (length != 9) break;
            HandlePong(slot, data, now);
            return true;
        case ID_INTERNAL_PING:
            if (length != 5) break;
            {
                uint8_t pong[9];
                pong[0] = ID_INTERNAL_PONG;
                std::memcpy(pong + 1, data + 1, 4);
                WriteU32(pong + 5, now);
                sender_.SendBytes(index, pong, sizeof pong, RELIABILITY_UNRELIABLE, timeUs);
            }
            return true;
        case ID_CONN_CLOSED: slot.connectMode = CM_DISCONNECT_ON_NO_ACK; return true;
        case ID_KEEP_ALIVE:
            if (length != 1) break;
            return true;
        case ID_STATIC_DATA_REQUEST: sender_.SendStaticData(index, timeUs); return true;
        case ID_STATIC_DATA:
            slot.staticData.Clear();
            if (bitLength > 8) slot.staticData.WriteRawBits(data + 1, int32_t(bitLength - 8), false);
            return HandToGame(index, std::move(message), now, timeUs);
        case ID_SECURE_RESPONSE: return admission_.HandleSecureResponse(index, message, timeUs);
        case ID_SECURE_CONFIRM: slot.channel->CountRejected(Rejected::SecureOutOfTurn); return true;
        case ID_CONN_ACCEPTED:
            if (length != 13) break;
            admission_.HandleConnectionAccepted(index, std::move(message), timeUs);
            return slot.isActive != 0;
        default: break;
    }

    // Game data only from a system that passed the password: a refused one (closing silently)
    // would otherwise reach the game's handlers in the moments before its slot closes.
    if (id < kFirstUserVisibleIdentifier || mode == CM_DISCONNECT_ASAP_SILENTLY) return true;
    if (IsPeerNotice(GetPacketIdentifier(data, length))) {
        slot.channel->CountRejected(Rejected::ReservedIdentifier);
        return true;
    }
    return HandToGame(index, std::move(message), now, timeUs);
}

bool NetworkPass::HandToGame(uint32_t index, OwnedPayload&& message, NetTime now, uint64_t timeUs) {
    // Only the server caps what waits for the game: its messages are small and many senders are
    // strangers. Other roles take large messages (file transfers) from peers they chose.
    if (core_.role == SocketRole::Server && !RoomForGame(index, message.ByteLength(), now, timeUs))
        return core_.slots.At(index).isActive != 0;
    const PlayerID sender = core_.slots.At(index).playerId;
    core_.incoming.PushMessage(std::move(message), sender, uint16_t(index), true);
    return true;
}

bool NetworkPass::RoomForGame(uint32_t index, uint32_t length, NetTime now, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    const IncomingQueue& incoming = core_.incoming;
    const uint32_t charge = IncomingQueue::ChargeFor(length);
    const uint64_t mine = incoming.SlotBytes(index);
    const uint64_t total = incoming.TotalBytes();
    const uint64_t myCap = core_.transportSettings->GetIncomingQueueCapBytes();
    const uint64_t totalCap = core_.transportSettings->GetIncomingTotalCapBytes();
    const bool overMine = mine + charge > myCap;
    if (!overMine && total + charge <= totalCap) {
        slot.queueOver = false;
        if (total < totalCap / 2) gameBehindLogged_ = false;
        return true;
    }

    slot.channel->CountRejected(Rejected::GameBehind);
    char address[PlayerID::kStringSize];
    if (!overMine) {
        // Every connection within its share, the game behind on all of them together.
        if (!gameBehindLogged_) {
            gameBehindLogged_ = true;
            core_.Log(
                "[warning] the game is not taking messages from the network: dropping new ones while %llu "
                "bytes "
                "wait",
                static_cast<unsigned long long>(total));
        }
        return false;
    }
    if (!slot.queueOver) {
        slot.queueOver = true;
        slot.queueOverSince = now;
    }
    if (lines_.Admit(PeerLines::Line::GameBehind, RepeatThrottle::KeyOf(slot.playerId), now))
        core_.Log("[warning] dropping messages from %s: %llu bytes of its messages wait for the game",
                  slot.playerId.ToString(true, address, sizeof address),
                  static_cast<unsigned long long>(mine));
    if (int32_t(now - slot.queueOverSince) > int32_t(kGameBehindKickMs) && slot.connectMode == CM_CONNECTED) {
        core_.Log("Kicking %s because its messages waiting for the game stayed over %llu bytes.",
                  slot.playerId.ToString(true, address, sizeof address),
                  static_cast<unsigned long long>(myCap));
        core_.CountRejected(Rejected::KickedGameBehind);
        sender_.NotifyAndClose(index, 0, timeUs);
    }
    return false;
}

void NetworkPass::HandlePong(ConnectedSystem& slot, const uint8_t* data, NetTime now) {
    const int32_t entry = slot.pingWriteIndex;
    if (RecordPing(slot, ReadU32(data + 1), ReadU32(data + 5), now))
        slot.channel->SetPing(slot.pingHistory[entry].pingTime);
}

}  // namespace velt
