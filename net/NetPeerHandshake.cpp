// Admission: what happens to a datagram before any reliability channel sees it, the open-
// connection exchange with its cookie and flood defences, the connection request and its
// acceptance on both sides, and the unconnected ping and advertisement.

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/LittleEndian.h"
#include "net/ConstantTime.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace velt {

namespace {

using Lock = std::lock_guard<SimpleMutex>;

// Resolves a host the way connects and pings do: text starting with a digit 0-2 is taken as a
// dotted address, anything else is looked up.
bool ResolveHost(const char* host, uint16_t port, PlayerID& out, char* text, size_t textSize) {
    if (host == nullptr || host[0] == '\0') return false;
    const char* dotted = host;
    if (host[0] != '0' && host[0] != '1' && host[0] != '2') {
        dotted = SocketLayer::DomainNameToIP(host, text, textSize);
        if (dotted == nullptr) return false;
    } else {
        std::snprintf(text, textSize, "%s", host);
    }
    in_addr a{};
    if (inet_pton(AF_INET, dotted, &a) != 1) return false;
    out = PlayerID{a.s_addr, port};
    return true;
}

}  // namespace

// ---- the datagram path ---------------------------------------------------------------------------

void NetPeer::HandleDatagram(uint32_t binaryAddress, uint16_t port, const uint8_t* data, uint32_t length) {
    if (!remoteSystemList_) return;
    if (data == nullptr) length = 0;
    const PlayerID sender{binaryAddress, port};
    const uint64_t timeUs = clock_->NowUs();
    const NetTime now = NetTime(timeUs / 1000u);

    Lock lock(peerLock_);
    // In a batch, the next sender's state loads while this datagram is handled (and this
    // sender's lookup was answered the same way one datagram ago).
    ResolveHintedSender();
    // This sender's channel was fetched while the datagram before was handled: where its queues
    // stand can be read now, and their ends fetched while the checks below run.
    for (const LookupAnswer& answer : lookupAnswers_)
        if (answer.sender == sender && answer.index >= 0) {
            channelOf_[answer.index]->PrefetchForReceive();
            break;
        }
    if (IsSenderBanned(sender)) {
        CountRejected(Rejected::BannedSender);
        ShowRawReceive(sender, data, length);
        // One answer per address and second, and never more bytes than came in: otherwise anyone
        // could aim a stream of answers at a banned address by writing it on their datagrams.
        const uint8_t reply[2] = {ID_CONN_BANNED, 0};
        RepeatThrottle::Ended ended;
        if (length >= sizeof reply &&
            banReplies_.Admit(RepeatThrottle::KeyOfAddress(sender.binaryAddress), now, ended))
            SendRawShown(sender, reply, sizeof reply);
        else
            CountRejected(Rejected::BanReplyWithheld);
        return;
    }

    if (length != 0) {
        if (HandleClientAnswers(sender, data, length, timeUs)) return;
        if (data[0] == ID_CONN_INCOMING && length == 3 &&
            HandleOpenConnectionRequest(sender, data, now, timeUs))
            return;
    }

    if (ConnectedSystem* slot = FindSlotNet(sender)) {
        HandleSlotDatagram(*slot, sender, data, length, timeUs);
        return;
    }
    HandleUnconnectedDatagram(sender, data, length);
}

void NetPeer::ExpectDatagram(uint32_t binaryAddress, uint16_t port) {
    // Only noted here: HandleDatagram looks it up under the lock it takes anyway.
    hintedSender_ = PlayerID{binaryAddress, port};
}

void NetPeer::ResolveHintedSender() {
    const PlayerID sender = hintedSender_;
    hintedSender_ = UNASSIGNED_PLAYER_ID;
    if (sender == UNASSIGNED_PLAYER_ID) return;
    const int32_t index = FindIndexNet(sender);
    lookupAnswers_[nextLookupAnswer_] = LookupAnswer{sender, index};
    nextLookupAnswer_ ^= 1u;
    if (index < 0) return;
    __builtin_prefetch(&remoteSystemList_[index]);
    channelOf_[index]->Prefetch();
}

bool NetPeer::HandleClientAnswers(PlayerID sender, const uint8_t* data, uint32_t length, uint64_t timeUs) {
    const uint8_t id = data[0];
    if (id == ID_CONN_OPEN_REPLY && length <= 2) {
        ShowRawReceive(sender, data, length);
        const NetTime now = NetTime(timeUs / 1000u);
        for (size_t i = 0; i < pendingConnects_.size();) {
            RequestedConnection& request = pendingConnects_[i];
            if (request.playerId != sender) {
                ++i;
                continue;
            }
            ConnectedSystem* slot = FindSlotNet(sender);
            if (slot == nullptr) slot = AssignRemoteSystem(sender, CM_UNVERIFIED_SENDER, now, timeUs);
            if (slot != nullptr) {
                slot->connectMode = CM_REQUESTED_CONNECTION;
                slot->weInitiated = 1;
                uint8_t message[1 + kMaxPasswordBytes];
                message[0] = ID_CONN_REQUEST;
                std::memcpy(message + 1, request.password, request.passwordLength);
                SendBytesImmediateLocked(message, 1u + request.passwordLength, SYSTEM_PRIORITY_LEVEL,
                                         RELIABILITY_RELIABLE, 0, sender, timeUs);
            }
            pendingConnects_.erase(pendingConnects_.begin() + long(i));
        }
        return true;
    }

    if ((id == ID_CONN_ATTEMPT_FAILED || id == ID_CONN_NO_FREE_SLOT || id == ID_CONN_BANNED) && length <= 2) {
        const size_t before = pendingConnects_.size();
        std::erase_if(pendingConnects_, [&](const RequestedConnection& r) { return r.playerId == sender; });
        if (pendingConnects_.size() != before) PushNotice(id, sender, 0xFFFF);
        return false;
    }

    // A server that wants a cookie: repeat the request at once with the one it sent, masked.
    if (id == ID_CONN_COOKIE_REPLY && length == 3) {
        bool matched = false;
        const uint16_t cookie = uint16_t(ReadU16(data + 1) ^ kCookieMask);
        for (RequestedConnection& request : pendingConnects_) {
            if (request.playerId != sender) continue;
            matched = true;
            // A server repeating the same cookie is answered by the retry schedule, not at once,
            // so a stream of [26] cannot make us send a stream of requests.
            if (request.haveCookie && request.cookie == cookie) continue;
            request.haveCookie = true;
            request.cookie = cookie;
            SendOpenRequest(request);
        }
        return matched;
    }
    return false;
}

void NetPeer::SendOpenRequest(const RequestedConnection& request) {
    uint8_t message[3] = {ID_CONN_INCOMING, 0, 0};
    if (request.haveCookie) WriteU16(message + 1, request.cookie);
    SendRaw(request.playerId, message, sizeof message);
}

bool NetPeer::HandleOpenConnectionRequest(PlayerID sender, const uint8_t* data, NetTime now,
                                          uint64_t timeUs) {
    const uint32_t seed = settings_.CookieSeed();
    if (settings_.ConnCookies() != 0 &&
        !cookie_.Accepts(uint16_t(ReadU16(data + 1) ^ kCookieMask), sender, seed, timeUs)) {
        CountRejected(Rejected::WrongCookie);
        if (settings_.CookieLogging() != 0 &&
            AdmitLine(RepeatedLine::CookieRequest, RepeatThrottle::KeyOfAddress(sender.binaryAddress), now))
            Log("[connection] %s requests connection cookie.", sender.ToString(true));
        uint8_t reply[3] = {ID_CONN_COOKIE_REPLY, 0, 0};
        WriteU16(reply + 1, cookie_.For(sender, seed, timeUs));
        SendRaw(sender, reply, sizeof reply);
        return true;
    }

    const int32_t minTime = settings_.MinConnectionTime();
    if (haveLastAcceptedRequest_ && minTime > 0 && int32_t(now - lastAcceptedRequestTime_) < minTime) {
        CountRejected(Rejected::TooSoon);
        if (!haveMinTimeWarning_ || int32_t(now - lastMinTimeWarning_) > minTime) {
            Log("Warning: Minimum time between new connections (%u) exceeded for %s. Ignoring the request.",
                uint32_t(minTime), sender.ToString(true));
            haveMinTimeWarning_ = true;
            lastMinTimeWarning_ = now;
        }
        return true;
    }
    haveLastAcceptedRequest_ = true;
    lastAcceptedRequestTime_ = now;

    ConnectedSystem* slot = FindSlotNet(sender);
    if (slot != nullptr && !slot->weInitiated) {
        const int32_t mode = slot->connectMode;
        if (mode == CM_CONNECTED || mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY) {
            const uint8_t reply[2] = {ID_CONN_ATTEMPT_FAILED, 0};
            SendRaw(sender, reply, sizeof reply);
        }
        return false;
    }

    char ip[PlayerID::kStringSize];
    sender.ToString(false, ip, sizeof ip);
    uint32_t fromAddress = 0;
    uint32_t active = 0;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        const ConnectedSystem& s = remoteSystemList_[i];
        if (!s.isActive) continue;
        ++active;
        if (s.playerId.binaryAddress == sender.binaryAddress &&
            (s.connectMode == CM_UNVERIFIED_SENDER || !s.loggedOn))
            ++fromAddress;
    }
    const uint64_t addressKey = RepeatThrottle::KeyOfAddress(sender.binaryAddress);
    if (fromAddress > kServerFullSlotsPerAddress) {
        CountRejected(Rejected::ServerFullAttack);
        if (AdmitLine(RepeatedLine::ServerFullAttack, addressKey, now))
            Log("Blocking %s due to a 'server full' attack (1)", ip);
        BanAutomatically(sender, kServerFullBanMs, -1);
        return true;
    }
    // The last slot handed out went to this address moments ago and is still waiting for its
    // player to join: a second one for the same address would take the very last slot. (A player
    // who left and comes back has no such slot any more.)
    const ConnectedSystem* lastAssigned =
        haveLastAssigned_ && lastAssignedIndex_ >= 0 && uint32_t(lastAssignedIndex_) < maximumNumberOfPeers_
            ? &remoteSystemList_[lastAssignedIndex_]
            : nullptr;
    if (lastAssigned != nullptr && lastAssigned->isActive && !lastAssigned->loggedOn &&
        lastAssigned->playerId.binaryAddress == sender.binaryAddress &&
        lastAssignedAddress_ == sender.binaryAddress &&
        int32_t(now - lastAssignedTime_) < int32_t(kServerFullRepeatMs) &&
        active + 1 == maximumNumberOfPeers_) {
        CountRejected(Rejected::ServerFullAttack);
        if (AdmitLine(RepeatedLine::ServerFullAttack, addressKey, now))
            Log("Blocking %s due to a 'server full' attack (2)", ip);
        BanAutomatically(sender, kServerFullBanMs, -1);
        return true;
    }

    if (slot == nullptr) {
        slot = AssignRemoteSystem(sender, CM_UNVERIFIED_SENDER, now, timeUs);
        if (slot == nullptr) {
            CountRejected(Rejected::NoFreeSlot);
            NoteServerFull(now);
            const uint8_t reply[2] = {ID_CONN_NO_FREE_SLOT, 0};
            SendRaw(sender, reply, sizeof reply);
            return true;
        }
        haveLastAssigned_ = true;
        lastAssignedAddress_ = sender.binaryAddress;
        lastAssignedTime_ = now;
        lastAssignedIndex_ = SlotIndexOf(slot);
        PushNotice(ID_CONN_INCOMING, sender, uint16_t(SlotIndexOf(slot)));
    }
    const uint8_t reply[2] = {ID_CONN_OPEN_REPLY, 0};
    SendRaw(sender, reply, sizeof reply);
    return true;
}

void NetPeer::HandleSlotDatagram(ConnectedSystem& slot, PlayerID sender, const uint8_t* data, uint32_t length,
                                 uint64_t timeUs) {
    bool limitBreached = false;
    if (slot.channel->ProcessDatagram(data, length, sender, timeUs, limitBreached, Observers())) {
        if (limitBreached) {
            slot.channel->CountRejected(Rejected::FloodLimit);
            BanAutomatically(sender, kFloodLimitBanMs, SlotIndexOf(&slot));
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
    slot.channel->CountRejected(Rejected::ChannelRejected);
    // One notice per sender and interval (the user logs each): a sender with a slot must not be
    // able to write a log line per datagram it sends. Capped as well, against many senders.
    if (AdmitLine(RepeatedLine::PacketModified, RepeatThrottle::KeyOf(sender), NetTime(timeUs / 1000u)))
        PushNotice(ID_PACKET_MODIFIED, sender, uint16_t(SlotIndexOf(&slot)), true);
    else
        slot.channel->CountRejected(Rejected::TamperNoticeWithheld);
}

void NetPeer::HandleUnconnectedDatagram(PlayerID sender, const uint8_t* data, uint32_t length) {
    ShowRawReceive(sender, data, length);
    if (length > kMaxUnconnectedDatagram) {
        CountRejected(Rejected::OversizedUnconnected);
        BanAutomatically(sender, kUnconnectedFloodBanMs, -1);
        return;
    }
    if (length == 0) {
        CountRejected(Rejected::OtherUnconnected);
        return;
    }
    const uint8_t id = data[0];

    if ((id == ID_UNCONNECTED_PING || id == ID_UNCONNECTED_PING_OPEN) && length == 5) {
        if (id == ID_UNCONNECTED_PING_OPEN &&
            CountConnectedIncomingLocked() >= maximumIncomingConnections_.load()) {
            CountRejected(Rejected::OtherUnconnected);
            return;
        }
        std::vector<uint8_t> reply(5);
        reply[0] = ID_UNCONNECTED_PONG;
        std::memcpy(reply.data() + 1, data + 1, 4);
        {
            Lock lock(offlinePingMutex_);
            reply.insert(reply.end(), offlinePingResponse_.begin(), offlinePingResponse_.end());
        }
        SendRawShown(sender, reply.data(), uint32_t(reply.size()));
        return;
    }

    if ((id == ID_UNCONNECTED_PONG && length >= 5 && length <= 404) ||
        (id == ID_ADVERTISE && length >= 2 && length <= 401)) {
        Packet* packet = NewPacket(length);
        if (packet == nullptr) return;
        std::memcpy(packet->data, data, length);
        packet->sender = sender;
        packet->playerIndex = 0xFFFF;
        PushPacket(packet, true);
        return;
    }
    CountRejected(Rejected::OtherUnconnected);
}

// ---- the connection request and its answers ----------------------------------------------------

void NetPeer::ParseConnectionRequest(uint32_t index, const uint8_t* data, uint32_t length, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    if (CountConnectedIncomingLocked() >= maximumIncomingConnections_.load()) {
        const uint8_t reply = ID_CONN_NO_FREE_SLOT;
        SendBytesImmediateLocked(&reply, 1, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, slot.playerId,
                                 timeUs);
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        return;
    }
    if (length == 0 ||
        !ConstantTimeEquals(data + 1, length - 1, incomingPassword_, incomingPasswordLength_)) {
        const uint8_t reply = ID_CONN_BAD_PASSWORD;
        SendBytesImmediateLocked(&reply, 1, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, slot.playerId,
                                 timeUs);
        slot.connectMode = CM_DISCONNECT_ASAP_SILENTLY;
        return;
    }
    AcceptConnection(index, nullptr, timeUs);
}

void NetPeer::AcceptConnection(uint32_t index, const uint8_t* key, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    slot.hasLinkKey = key != nullptr ? 1 : 0;
    if (key != nullptr) std::memcpy(slot.linkKey, key, sizeof slot.linkKey);
    slot.connectMode = key != nullptr ? CM_SET_KEY_ON_NEXT_BLOCK : CM_HANDLING_CONNECTION_REQUEST;

    uint8_t message[13];
    message[0] = ID_CONN_ACCEPTED;
    WriteU32(message + 1, slot.playerId.binaryAddress);
    WriteU16(message + 5, slot.playerId.port);
    WriteU16(message + 7, uint16_t(index));
    WriteU32(message + 9, settings_.ServerChallenge());
    SendBytesImmediateLocked(message, sizeof message, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                             slot.playerId, timeUs);
}

void NetPeer::HandleHandshakeDone(uint32_t index, uint8_t* data, uint32_t bitLength, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    const int32_t mode = slot.connectMode;
    if (mode != CM_HANDLING_CONNECTION_REQUEST && mode != CM_SET_KEY_ON_NEXT_BLOCK &&
        slot.playerId != myPlayerId_) {
        slot.channel->CountRejected(Rejected::OutOfTurn);
        delete[] data;
        return;
    }
    slot.connectMode = CM_CONNECTED;
    PingNowLocked(slot.playerId, timeUs);
    SendStaticDataLocked(slot.playerId, timeUs);
    slot.externalId = PlayerID{ReadU32(data + 1), ReadU16(data + 5)};
    PushMessage(data, bitLength, slot.playerId, uint16_t(index));
}

void NetPeer::HandleConnectionAccepted(uint32_t index, uint8_t* data, uint32_t bitLength, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    const int32_t mode = slot.connectMode;
    if (mode != CM_REQUESTED_CONNECTION && mode != CM_HANDLING_CONNECTION_REQUEST &&
        !allowIpMigration_.load()) {
        slot.channel->CountRejected(Rejected::OutOfTurn);
        NotifyAndCloseLocked(slot.playerId, 0, timeUs);
        delete[] data;
        return;
    }
    const bool wasHandling = mode == CM_HANDLING_CONNECTION_REQUEST;
    slot.connectMode = CM_CONNECTED;
    slot.externalId = PlayerID{ReadU32(data + 1), ReadU16(data + 5)};
    if (!wasHandling) slot.channel->SetEncryption(nullptr);

    uint8_t done[7];
    done[0] = ID_CONN_HANDSHAKE_DONE;
    WriteU32(done + 1, slot.playerId.binaryAddress);
    WriteU16(done + 5, slot.playerId.port);
    SendBytesImmediateLocked(done, sizeof done, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, slot.playerId,
                             timeUs);
    if (!wasHandling) {
        PingNowLocked(slot.playerId, timeUs);
        SendStaticDataLocked(slot.playerId, timeUs);
    }
    PushMessage(data, bitLength, slot.playerId, uint16_t(index));
}

bool NetPeer::InitializeSecurity(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*) {
    return false;
}

// ---- client side ---------------------------------------------------------------------------------

bool NetPeer::Connect(const char* host, uint16_t remotePort, const char* passwordData,
                      int32_t passwordDataLength) {
    if (host == nullptr || !IsActive() || (socket_ == -1 && !socketless_)) return false;
    uint32_t passwordLength = 0;
    if (passwordData != nullptr && passwordDataLength > 0)
        passwordLength = std::min<uint32_t>(uint32_t(passwordDataLength), kMaxPasswordBytes);

    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return false;
    if ((std::strcmp(text, "127.0.0.1") == 0 || std::strcmp(text, "0.0.0.0") == 0) &&
        remotePort == myPlayerId_.port)
        return false;
    {
        Lock lock(peerLock_);
        if (FindIndexNet(target) >= 0) return false;
    }

    RequestedConnection* request = requestedConnections_.WriteLock();
    *request = RequestedConnection{};
    request->playerId = target;
    request->nextRequestTime = NowMs();
    request->requestsMade = 0;
    request->passwordLength = uint8_t(passwordLength);
    if (passwordLength != 0) std::memcpy(request->password, passwordData, passwordLength);
    request->haveCookie = false;
    request->cookie = 0;
    requestedConnections_.WriteUnlock();
    return true;
}

void NetPeer::Ping(const char* host, uint16_t remotePort, bool onlyReplyOnAcceptingConnections) {
    if (!IsActive()) return;
    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return;
    uint8_t message[5];
    message[0] = onlyReplyOnAcceptingConnections ? ID_UNCONNECTED_PING_OPEN : ID_UNCONNECTED_PING;
    WriteU32(message + 1, NowMs());
    SendRawShown(target, message, sizeof message);
}

void NetPeer::AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                              int32_t dataLength) {
    if (!IsActive() || dataLength < 0 || uint32_t(dataLength) > kMaxAdvertiseBytes) return;
    if (dataLength > 0 && data == nullptr) return;
    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return;
    uint8_t message[1 + kMaxAdvertiseBytes];
    message[0] = ID_ADVERTISE;
    uint32_t length = 2;
    if (dataLength == 0) {
        message[1] = 0;
    } else {
        std::memcpy(message + 1, data, uint32_t(dataLength));
        length = 1u + uint32_t(dataLength);
    }
    SendRawShown(target, message, length);
}

void NetPeer::SetOfflinePingResponse(const uint8_t* data, uint32_t length) {
    // The answer must fit one datagram behind its 5-byte header.
    constexpr uint32_t kMaxResponse = uint32_t(kMaxDatagramBytes) - 5;
    if (data == nullptr) length = 0;
    if (length > kMaxResponse) length = kMaxResponse;
    Lock lock(offlinePingMutex_);
    offlinePingResponse_.assign(data, data + length);
}

}  // namespace velt
