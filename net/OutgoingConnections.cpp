#include "net/OutgoingConnections.h"

#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"

namespace velt {

void OutgoingConnections::Request(PlayerID target, const char* password, uint32_t passwordLength,
                                  NetTime now) {
    passwordLength = std::min(passwordLength, kMaxPasswordBytes);
    Attempt* attempt = requested_.WriteLock();
    *attempt = Attempt{};
    attempt->playerId = target;
    attempt->nextRequestTime = now;
    attempt->requestsMade = 0;
    attempt->passwordLength = uint8_t(passwordLength);
    if (passwordLength != 0) std::memcpy(attempt->password, password, passwordLength);
    attempt->haveCookie = false;
    attempt->cookie = 0;
    requested_.WriteUnlock();
}

void OutgoingConnections::Run(NetTime now) {
    while (Attempt* attempt = requested_.ReadLock()) {
        pending_.push_back(*attempt);
        requested_.ReadUnlock();
    }
    for (size_t i = 0; i < pending_.size();) {
        Attempt& attempt = pending_[i];
        if (!TimeReached(now, attempt.nextRequestTime)) {
            ++i;
            continue;
        }
        if (attempt.requestsMade < kAttempts && attempt.playerId != UNASSIGNED_PLAYER_ID) {
            ++attempt.requestsMade;
            attempt.nextRequestTime = now + kRetryMs;
            SendOpenRequest(attempt);
            ++i;
            continue;
        }
        const PlayerID target = attempt.playerId;
        pending_.erase(pending_.begin() + long(i));
        core_.incoming.PushNotice(ID_CONN_ATTEMPT_FAILED, target, 0xFFFF);
    }
}

bool OutgoingConnections::HandleAnswer(PlayerID sender, const uint8_t* data, uint32_t length,
                                       uint64_t timeUs) {
    const uint8_t id = data[0];
    if (id == ID_CONN_OPEN_REPLY && length <= 2) {
        core_.ShowRawReceive(sender, data, length);
        const NetTime now = NetTime(timeUs / 1000u);
        for (size_t i = 0; i < pending_.size();) {
            Attempt& attempt = pending_[i];
            if (attempt.playerId != sender) {
                ++i;
                continue;
            }
            int32_t index = core_.slots.Find(sender);
            if (index < 0) index = core_.AssignSlot(sender, CM_UNVERIFIED_SENDER, now, timeUs);
            if (index >= 0) {
                ConnectedSystem& slot = core_.slots.At(uint32_t(index));
                slot.connectMode = CM_REQUESTED_CONNECTION;
                slot.weInitiated = 1;
                uint8_t message[1 + kMaxPasswordBytes];
                message[0] = ID_CONN_REQUEST;
                std::memcpy(message + 1, attempt.password, attempt.passwordLength);
                sender_.SendBytes(uint32_t(index), message, 1u + attempt.passwordLength, RELIABILITY_RELIABLE,
                                  timeUs);
            }
            pending_.erase(pending_.begin() + long(i));
        }
        return true;
    }

    if ((id == ID_CONN_ATTEMPT_FAILED || id == ID_CONN_NO_FREE_SLOT || id == ID_CONN_BANNED) && length <= 2) {
        const size_t before = pending_.size();
        std::erase_if(pending_, [&](const Attempt& a) { return a.playerId == sender; });
        if (pending_.size() != before) core_.incoming.PushNotice(id, sender, 0xFFFF);
        return false;
    }

    // A server that wants a cookie: repeat the request at once with the one it sent, masked.
    if (id == ID_CONN_COOKIE_REPLY && length == 3) {
        bool matched = false;
        const uint16_t cookie = uint16_t(ReadU16(data + 1) ^ kCookieMask);
        for (Attempt& attempt : pending_) {
            if (attempt.playerId != sender) continue;
            matched = true;
            // A server repeating the same cookie is answered by the retry schedule, not at once,
            // so a stream of [26] cannot make us send a stream of requests.
            if (attempt.haveCookie && attempt.cookie == cookie) continue;
            attempt.haveCookie = true;
            attempt.cookie = cookie;
            SendOpenRequest(attempt);
        }
        return matched;
    }
    return false;
}

void OutgoingConnections::SendOpenRequest(const Attempt& attempt) {
    uint8_t message[3] = {ID_CONN_INCOMING, 0, 0};
    if (attempt.haveCookie) WriteU16(message + 1, attempt.cookie);
    core_.SendRaw(attempt.playerId, message, sizeof message);
}

void OutgoingConnections::Clear() {
    requested_.Clear();
    pending_.clear();
}

}  // namespace velt
