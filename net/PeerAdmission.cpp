#include "net/PeerAdmission.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/LittleEndian.h"
#include "net/ConstantTime.h"
#include "net/MessageIdentifiers.h"

namespace velt {

void PeerAdmission::SetPassword(const uint8_t* password, uint32_t length) {
    if (password == nullptr) length = 0;
    length = std::min(length, kMaxPasswordBytes);
    if (length != 0) std::memcpy(password_, password, length);
    passwordLength_ = uint8_t(length);
}

uint32_t PeerAdmission::GetPassword(uint8_t* out, uint32_t capacity) const {
    if (out != nullptr) std::memcpy(out, password_, std::min<uint32_t>(capacity, passwordLength_));
    return passwordLength_;
}

// ---- the datagram path ---------------------------------------------------------------------------

bool PeerAdmission::IsBanned(PlayerID sender) {
    if (banList_.IsEmpty()) return false;
    char ip[PlayerID::kStringSize];
    return banList_.IsBanned(sender.ToString(false, ip, sizeof ip));
}

void PeerAdmission::HandleDatagram(PlayerID sender, const uint8_t* data, uint32_t length, uint64_t timeUs) {
    const NetTime now = NetTime(timeUs / 1000u);
    if (IsBanned(sender)) {
        core_.CountRejected(Rejected::BannedSender);
        core_.ShowRawReceive(sender, data, length);
        // One answer per address and second, and never more bytes than came in: otherwise anyone
        // could aim a stream of answers at a banned address by writing it on their datagrams.
        const uint8_t reply[2] = {ID_CONN_BANNED, 0};
        RepeatThrottle::Ended ended;
        if (length >= sizeof reply &&
            banReplies_.Admit(RepeatThrottle::KeyOfAddress(sender.binaryAddress), now, ended))
            core_.SendRawShown(sender, reply, sizeof reply);
        else
            core_.CountRejected(Rejected::BanReplyWithheld);
        return;
    }

    if (length != 0) {
        if (outgoing_.HandleAnswer(sender, data, length, timeUs)) return;
        if (data[0] == ID_CONN_INCOMING && length == 3 &&
            HandleOpenConnectionRequest(sender, data, now, timeUs))
            return;
    }

    const int32_t index = core_.slots.Find(sender);
    if (index >= 0) {
        HandleSlotDatagram(uint32_t(index), sender, data, length, timeUs);
        return;
    }
    HandleUnconnectedDatagram(sender, data, length);
}

bool PeerAdmission::HandleOpenConnectionRequest(PlayerID sender, const uint8_t* data, NetTime now,
                                                uint64_t timeUs) {
    // More half-joined slots than this from one address, or a second request for the last free
    // slot this soon, is a 'server full' attack; the address is banned this long.
    constexpr uint32_t kServerFullSlotsPerAddress = 30;
    constexpr NetTime kServerFullRepeatMs = 30000;
    constexpr uint32_t kServerFullBanMs = 120000;
    const PeerSettings& settings = core_.settings;
    const uint32_t seed = settings.CookieSeed();
    if (settings.ConnCookies() != 0 &&
        !cookie_.Accepts(uint16_t(ReadU16(data + 1) ^ kCookieMask), sender, seed, timeUs)) {
        core_.CountRejected(Rejected::WrongCookie);
        if (settings.CookieLogging() != 0 &&
            lines_.Admit(PeerLines::Line::CookieRequest, RepeatThrottle::KeyOfAddress(sender.binaryAddress),
                         now))
            core_.Log("[connection] %s requests connection cookie.", sender.ToString(true));
        uint8_t reply[3] = {ID_CONN_COOKIE_REPLY, 0, 0};
        WriteU16(reply + 1, cookie_.For(sender, seed, timeUs));
        core_.SendRaw(sender, reply, sizeof reply);
        return true;
    }

    const int32_t minTime = settings.MinConnectionTime();
    if (lastAcceptedRequest_ && minTime > 0 && int32_t(now - *lastAcceptedRequest_) < minTime) {
        core_.CountRejected(Rejected::TooSoon);
        if (!lastMinTimeWarning_ || int32_t(now - *lastMinTimeWarning_) > minTime) {
            core_.Log(
                "Warning: Minimum time between new connections (%u) exceeded for %s. Ignoring the request.",
                uint32_t(minTime), sender.ToString(true));
            lastMinTimeWarning_ = now;
        }
        return true;
    }
    lastAcceptedRequest_ = now;

    SlotTable& slots = core_.slots;
    int32_t index = slots.Find(sender);
    if (index >= 0 && !slots.At(uint32_t(index)).weInitiated) {
        const int32_t mode = slots.At(uint32_t(index)).connectMode;
        if (mode == CM_CONNECTED || mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY) {
            const uint8_t reply[2] = {ID_CONN_ATTEMPT_FAILED, 0};
            core_.SendRaw(sender, reply, sizeof reply);
        }
        // A client repeats its request only while it has no answer, so a repeat before its
        // connection request means our [25] was lost. Unanswered, the attempt would fail and the
        // half-open slot would turn its next attempts away until it timed out. The answer is
        // smaller than the request, so answering again gives a forged sender nothing to amplify.
        if (mode == CM_UNVERIFIED_SENDER) {
            const uint8_t reply[2] = {ID_CONN_OPEN_REPLY, 0};
            core_.SendRaw(sender, reply, sizeof reply);
            return true;
        }
        return false;
    }

    char ip[PlayerID::kStringSize];
    sender.ToString(false, ip, sizeof ip);
    uint32_t fromAddress = 0;
    uint32_t active = 0;
    for (uint32_t i = 0; i < slots.Count(); ++i) {
        const ConnectedSystem& s = slots.At(i);
        if (!s.isActive) continue;
        ++active;
        if (s.playerId.binaryAddress == sender.binaryAddress &&
            (s.connectMode == CM_UNVERIFIED_SENDER || !s.loggedOn))
            ++fromAddress;
    }
    const uint64_t addressKey = RepeatThrottle::KeyOfAddress(sender.binaryAddress);
    if (fromAddress > kServerFullSlotsPerAddress) {
        core_.CountRejected(Rejected::ServerFullAttack);
        if (lines_.Admit(PeerLines::Line::ServerFullAttack, addressKey, now))
            core_.Log("Blocking %s due to a 'server full' attack (1)", ip);
        BanAutomatically(sender, kServerFullBanMs, -1);
        return true;
    }
    // The last slot handed out went to this address moments ago and is still waiting for its
    // player to join: a second one for the same address would take the very last slot. (A player
    // who left and comes back has no such slot any more.)
    const ConnectedSystem* lastAssigned =
        lastAssigned_ && lastAssigned_->index >= 0 && uint32_t(lastAssigned_->index) < slots.Count()
            ? &slots.At(uint32_t(lastAssigned_->index))
            : nullptr;
    if (lastAssigned != nullptr && lastAssigned->isActive && !lastAssigned->loggedOn &&
        lastAssigned->playerId.binaryAddress == sender.binaryAddress &&
        lastAssigned_->address == sender.binaryAddress &&
        int32_t(now - lastAssigned_->time) < int32_t(kServerFullRepeatMs) && active + 1 == slots.Count()) {
        core_.CountRejected(Rejected::ServerFullAttack);
        if (lines_.Admit(PeerLines::Line::ServerFullAttack, addressKey, now))
            core_.Log("Blocking %s due to a 'server full' attack (2)", ip);
        BanAutomatically(sender, kServerFullBanMs, -1);
        return true;
    }

    if (index < 0) {
        index = core_.AssignSlot(sender, CM_UNVERIFIED_SENDER, now, timeUs);
        if (index < 0) {
            core_.CountRejected(Rejected::NoFreeSlot);
            lines_.NoteServerFull(now);
            const uint8_t reply[2] = {ID_CONN_NO_FREE_SLOT, 0};
            core_.SendRaw(sender, reply, sizeof reply);
            return true;
        }
        lastAssigned_ = AssignedSlot{sender.binaryAddress, now, index};
        core_.incoming.PushNotice(ID_CONN_INCOMING, sender, uint16_t(index));
    }
    const uint8_t reply[2] = {ID_CONN_OPEN_REPLY, 0};
    core_.SendRaw(sender, reply, sizeof reply);
    return true;
}

void PeerAdmission::HandleSlotDatagram(uint32_t index, PlayerID sender, const uint8_t* data, uint32_t length,
                                       uint64_t timeUs) {
    constexpr uint32_t kFloodLimitBanMs = 60000;
    ReliabilityChannel& channel = core_.slots.ChannelOf(index);
    ConnectedSystem& slot = core_.slots.At(index);
    // The connecting side enciphers from the datagram after our acceptance on. Its datagrams from
    // before may still be on the way and can have the length of a block too: the link key goes on
    // only with the first one that deciphers with it.
    if (slot.connectMode == CM_SET_KEY_ON_NEXT_BLOCK && slot.hasLinkKey && !slot.cipher.IsKeySet() &&
        length > 7 && length % TEABlockEncryptor::kBlockBytes == 0) {
        slot.cipher.SetKey(slot.linkKey);
        if (slot.cipher.Deciphers(data, length))
            channel.SetEncryption(&slot.cipher);
        else
            slot.cipher.UnsetKey();
    }
    bool limitBreached = false;
    if (channel.ProcessDatagram(data, length, sender, timeUs, limitBreached, core_.plugins.Observers())) {
        if (slot.cipher.IsKeySet()) slot.cipherConfirmed = 1;
        if (limitBreached) {
            channel.CountRejected(Rejected::FloodLimit);
            BanAutomatically(sender, kFloodLimitBanMs, int32_t(index));
        }
        return;
    }
    // Rejected by the channel: stray handshake datagrams of this sender are expected (a repeated
    // request, a late reply); anything else says the traffic was tampered with.
    if (length != 0) {
        const uint8_t id = data[0];
        if (((id == ID_CONN_INCOMING || id == ID_CONN_COOKIE_REPLY) && length < 4) ||
            ((id == ID_CONN_OPEN_REPLY || id == ID_CONN_ATTEMPT_FAILED) && length < 3) ||
            ((id == ID_UNCONNECTED_PING || id == ID_UNCONNECTED_PING_OPEN || id == ID_UNCONNECTED_PONG) &&
             length > 4) ||
            (id == ID_ADVERTISE && length < 400))
            return;
    }
    // The other side's datagrams from before its own switch (late, doubled or resent) are in the
    // clear: no notice of a tampered one for them. Enciphered datagrams are whole blocks, so one
    // that is not cannot be one changed on the way; before the first that deciphered, any may be.
    if (slot.cipher.IsKeySet() && (!slot.cipherConfirmed || length % TEABlockEncryptor::kBlockBytes != 0)) {
        channel.CountRejected(Rejected::SecureClearInSwitch);
        return;
    }
    channel.CountRejected(Rejected::ChannelRejected);
    // One notice per sender and interval (the user logs each): a sender with a slot must not be
    // able to write a log line per datagram it sends. Capped as well, against many senders.
    if (!lines_.Admit(PeerLines::Line::PacketModified, RepeatThrottle::KeyOf(sender),
                      NetTime(timeUs / 1000u))) {
        channel.CountRejected(Rejected::TamperNoticeWithheld);
        return;
    }
    if (!core_.incoming.PushNotice(ID_PACKET_MODIFIED, sender, uint16_t(index), true))
        core_.CountRejected(Rejected::UnconnectedQueueFull);
}

void PeerAdmission::HandleUnconnectedDatagram(PlayerID sender, const uint8_t* data, uint32_t length) {
    // Nothing a sender without a connection may send is longer; one that does is banned this long.
    constexpr uint32_t kMaxUnconnectedDatagram = 512;
    constexpr uint32_t kUnconnectedFloodBanMs = 10000;
    core_.ShowRawReceive(sender, data, length);
    if (length > kMaxUnconnectedDatagram) {
        core_.CountRejected(Rejected::OversizedUnconnected);
        BanAutomatically(sender, kUnconnectedFloodBanMs, -1);
        return;
    }
    if (length == 0) {
        core_.CountRejected(Rejected::OtherUnconnected);
        return;
    }
    const uint8_t id = data[0];

    if ((id == ID_UNCONNECTED_PING || id == ID_UNCONNECTED_PING_OPEN) && length == 5) {
        if (id == ID_UNCONNECTED_PING_OPEN &&
            core_.slots.CountConnectedIncoming() >= core_.maximumIncomingConnections.load()) {
            core_.CountRejected(Rejected::OtherUnconnected);
            return;
        }
        std::vector<uint8_t> reply(5);
        reply[0] = ID_UNCONNECTED_PONG;
        std::memcpy(reply.data() + 1, data + 1, 4);
        core_.AppendOfflinePingResponse(reply);
        core_.SendRawShown(sender, reply.data(), uint32_t(reply.size()));
        return;
    }

    if ((id == ID_UNCONNECTED_PONG && length >= 5 && length <= 404) ||
        (id == ID_ADVERTISE && length >= 2 && length <= 401)) {
        Packet* packet = NewPacket(length);
        if (packet == nullptr) return;
        std::memcpy(packet->data, data, length);
        packet->sender = sender;
        packet->playerIndex = 0xFFFF;
        if (!core_.incoming.PushPacket(packet, true)) core_.CountRejected(Rejected::UnconnectedQueueFull);
        return;
    }
    core_.CountRejected(Rejected::OtherUnconnected);
}

void PeerAdmission::BanAutomatically(PlayerID offender, uint32_t durationMs, int32_t offenderSlot) {
    SlotTable& slots = core_.slots;
    for (uint32_t i = 0; i < slots.Count(); ++i) {
        const ConnectedSystem& s = slots.At(i);
        if (int32_t(i) == offenderSlot || !s.isActive || s.connectMode != CM_CONNECTED ||
            s.playerId.binaryAddress != offender.binaryAddress)
            continue;
        core_.CountRejected(Rejected::BanSpared);
        if (offenderSlot >= 0 && slots.At(uint32_t(offenderSlot)).isActive)
            core_.CloseWithNotice(uint32_t(offenderSlot), slots.At(uint32_t(offenderSlot)).connectMode);
        return;
    }
    char ip[PlayerID::kStringSize];
    banList_.AddAutomatic(offender.ToString(false, ip, sizeof ip), durationMs);
}

// ---- the connection request and its answers ----------------------------------------------------

bool PeerAdmission::HandleFirstMessage(uint32_t index, const OwnedPayload& message, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    if (message.Data()[0] == ID_CONN_REQUEST) {
        HandleConnectionRequest(index, message.Data(), message.ByteLength(), timeUs);
        return true;
    }
    // Our clients always open with their request: this sender is not one of them.
    const PlayerID sender = slot.playerId;
    const uint32_t banMs = slot.channel->GetTimeoutTime();
    slot.channel->CountRejected(Rejected::NotARequestFirst);
    core_.CloseSlot(index);
    BanAutomatically(sender, banMs, -1);
    return false;
}

void PeerAdmission::HandleConnectionRequest(uint32_t index, const uint8_t* data, uint32_t length,
                                            uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    if (core_.slots.CountConnectedIncoming() >= core_.maximumIncomingConnections.load()) {
        const uint8_t reply = ID_CONN_NO_FREE_SLOT;
        sender_.SendBytes(index, &reply, 1, RELIABILITY_RELIABLE, timeUs);
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        return;
    }
    if (length == 0 || !ConstantTimeEquals(data + 1, length - 1, password_, passwordLength_)) {
        const uint8_t reply = ID_CONN_BAD_PASSWORD;
        sender_.SendBytes(index, &reply, 1, RELIABILITY_RELIABLE, timeUs);
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        return;
    }
    if (security_.Accepts()) {
        uint8_t response[PeerSecurity::kResponseBytes];
        security_.MakeResponse(slot.playerId, NetTime(timeUs / 1000u), response);
        slot.secureResponseSent = 1;
        // Reliable: a lost response would leave the requester waiting until its attempt times out.
        sender_.SendBytes(index, response, sizeof response, RELIABILITY_RELIABLE, timeUs);
        return;
    }
    AcceptConnection(index, nullptr, timeUs);
}

bool PeerAdmission::HandleSecureResponse(uint32_t index, const OwnedPayload& message, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    if (slot.connectMode != CM_REQUESTED_CONNECTION || slot.hasLinkKey) {
        // A repeat would change the link key under a confirmation already sent.
        slot.channel->CountRejected(Rejected::SecureOutOfTurn);
        return true;
    }
    if (message.ByteLength() != PeerSecurity::kResponseBytes) {
        slot.channel->CountRejected(Rejected::SecureBadLength);
        return true;
    }
    uint8_t confirm[PeerSecurity::kConfirmBytes];
    uint8_t key[PeerSecurity::kLinkKeyBytes];
    const PeerSecurity::Result result = security_.Answer(message.Data(), confirm, key);
    if (result != PeerSecurity::Result::Ok) {
        slot.channel->CountRejected(result == PeerSecurity::Result::KeyMismatch
                                        ? Rejected::SecureKeyMismatch
                                        : Rejected::SecureKeyUnusable);
        core_.incoming.PushNotice(ID_PUBLIC_KEY_MISMATCH, slot.playerId, uint16_t(index));
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        return true;
    }
    std::memcpy(slot.linkKey, key, sizeof slot.linkKey);
    slot.hasLinkKey = 1;
    OPENSSL_cleanse(key, sizeof key);
    sender_.SendBytes(index, confirm, sizeof confirm, RELIABILITY_RELIABLE, timeUs);
    return true;
}

void PeerAdmission::HandleSecureConfirm(uint32_t index, const OwnedPayload& message, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    if (message.Data()[0] != ID_SECURE_CONFIRM) {
        slot.channel->CountRejected(message.Data()[0] == ID_CONN_REQUEST ? Rejected::RepeatedRequest
                                                                         : Rejected::SecureOutOfTurn);
        return;
    }
    if (message.ByteLength() != PeerSecurity::kConfirmBytes) {
        slot.channel->CountRejected(Rejected::SecureBadLength);
        return;
    }
    uint8_t key[PeerSecurity::kLinkKeyBytes];
    switch (security_.Confirm(slot.playerId, message.Data(), key)) {
        case PeerSecurity::Result::Ok: break;
        case PeerSecurity::Result::DigestMismatch:
            slot.channel->CountRejected(Rejected::SecureDigestMismatch);
            return;
        default: slot.channel->CountRejected(Rejected::SecureUndecipherable); return;
    }
    slot.secureResponseSent = 0;
    AcceptConnection(index, key, timeUs);
    OPENSSL_cleanse(key, sizeof key);
}

void PeerAdmission::AcceptConnection(uint32_t index, const uint8_t* key, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    slot.hasLinkKey = key != nullptr ? 1 : 0;
    if (key != nullptr) std::memcpy(slot.linkKey, key, sizeof slot.linkKey);
    slot.connectMode = key != nullptr ? CM_SET_KEY_ON_NEXT_BLOCK : CM_HANDLING_CONNECTION_REQUEST;

    uint8_t message[13];
    message[0] = ID_CONN_ACCEPTED;
    WriteU32(message + 1, slot.playerId.binaryAddress);
    WriteU16(message + 5, slot.playerId.port);
    WriteU16(message + 7, uint16_t(index));
    WriteU32(message + 9, core_.settings.ServerChallenge());
    sender_.SendBytes(index, message, sizeof message, RELIABILITY_RELIABLE, timeUs);
}

void PeerAdmission::HandleHandshakeDone(uint32_t index, OwnedPayload&& message, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    const int32_t mode = slot.connectMode;
    if (mode != CM_HANDLING_CONNECTION_REQUEST && mode != CM_SET_KEY_ON_NEXT_BLOCK &&
        slot.playerId != core_.myPlayerId) {
        slot.channel->CountRejected(Rejected::OutOfTurn);
        message.Clear();
        return;
    }
    slot.connectMode = CM_CONNECTED;
    sender_.Ping(index, timeUs);
    sender_.SendStaticData(index, timeUs);
    const uint8_t* data = message.Data();
    slot.externalId = PlayerID{ReadU32(data + 1), ReadU16(data + 5)};
    core_.incoming.PushMessage(std::move(message), slot.playerId, uint16_t(index), false);
}

void PeerAdmission::HandleConnectionAccepted(uint32_t index, OwnedPayload&& message, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    const int32_t mode = slot.connectMode;
    if (mode != CM_REQUESTED_CONNECTION && mode != CM_HANDLING_CONNECTION_REQUEST &&
        !core_.allowIpMigration.load()) {
        slot.channel->CountRejected(Rejected::OutOfTurn);
        sender_.NotifyAndClose(index, 0, timeUs);
        message.Clear();
        return;
    }
    const bool wasHandling = mode == CM_HANDLING_CONNECTION_REQUEST;
    // A peer told which key its server holds must not settle for a connection in the clear: that
    // is what a man in the middle would offer.
    if (!wasHandling && !slot.hasLinkKey && security_.ExpectsKey()) {
        slot.channel->CountRejected(Rejected::SecureInsecureAccept);
        core_.incoming.PushNotice(ID_PUBLIC_KEY_MISMATCH, slot.playerId, uint16_t(index));
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        message.Clear();
        return;
    }
    slot.connectMode = CM_CONNECTED;
    const uint8_t* data = message.Data();
    slot.externalId = PlayerID{ReadU32(data + 1), ReadU16(data + 5)};
    if (!wasHandling) {
        if (slot.hasLinkKey) {
            slot.cipher.SetKey(slot.linkKey);
            slot.channel->SetEncryption(&slot.cipher);
        } else {
            slot.channel->SetEncryption(nullptr);
        }
    }

    uint8_t done[7];
    done[0] = ID_CONN_HANDSHAKE_DONE;
    WriteU32(done + 1, slot.playerId.binaryAddress);
    WriteU16(done + 5, slot.playerId.port);
    sender_.SendBytes(index, done, sizeof done, RELIABILITY_RELIABLE, timeUs);
    if (!wasHandling) {
        sender_.Ping(index, timeUs);
        sender_.SendStaticData(index, timeUs);
    }
    core_.incoming.PushMessage(std::move(message), slot.playerId, uint16_t(index), false);
}

}  // namespace velt
