#include "server/protocol/InGameRcon.h"

#include <cstring>
#include <string>
#include <string_view>

#include "net/BitStream.h"
#include "net/ConstantTime.h"
#include "net/Packet.h"
#include "server/console/Console.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/SyncHandlers.h"
#include "server/shared/StringUtil.h"

namespace velt {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

// The first two blank-separated words of a line (runs of blanks count as one).
struct TwoWords {
    std::string_view first;
    std::string_view second;
};

TwoWords SplitTwoWords(std::string_view line) {
    TwoWords words;
    std::string_view* slots[2] = {&words.first, &words.second};
    size_t pos = 0;
    for (std::string_view* slot : slots) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        *slot = line.substr(pos, end - pos);
        pos = end;
    }
    return words;
}

// Runs one console line with its log lines mirrored to the admin who sent it.
class AdminCommandScope {
public:
    explicit AdminCommandScope(uint16_t player) : saved_(RconAdminId) { RconAdminId = player; }
    ~AdminCommandScope() { RconAdminId = saved_; }
    AdminCommandScope(const AdminCommandScope&) = delete;
    AdminCommandScope& operator=(const AdminCommandScope&) = delete;

private:
    uint16_t saved_;
};

void AttemptLogin(GameServer& server, const Packet& packet, uint16_t slot, const char* text) {
    TwoWords words = SplitTwoWords(text);
    // Nothing but a login is answered before one succeeded, and a login needs its password.
    if (words.second.empty() || words.first.size() != 5 || CompareNoCaseUpperN(words.first, "login", 5) != 0)
        return;
    const std::string attempt(words.second);
    const char* password = server.GetConsole().GetStringVariable("rcon_password");
    const bool success = password != nullptr &&
                         ConstantTimeEquals(attempt.data(), attempt.size(), password, std::strlen(password));

    char ip[PlayerID::kStringSize];
    packet.sender.ToString(false, ip, sizeof ip);
    RaiseCallback(server, {}, NoPlayerToLose,
                  [&](auto& side) { return side.OnRconLoginAttempt(ip, attempt.c_str(), success); });

    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr) return;
    const bool present = pool->IsConnected(slot);
    RconLoginGuard& guard = server.GetRconLoginGuard();
    if (success) {
        guard.Forget(packet.sender.binaryAddress);
        // A script may have thrown him out while hearing of the attempt: no rights for an empty slot.
        if (present) pool->SetAdmin(slot, true);
        LogPrintf("RCON (In-Game): Player #%d (%s) has logged in.", int(slot), pool->GetName(slot));
        if (present) server.SendClientMessage(slot, kWhite, "SERVER: You are logged in as admin.");
        return;
    }
    LogPrintf("RCON (In-Game): Player #%d (%s) failed login.", int(slot), pool->GetName(slot));
    if (present)
        server.SendClientMessage(slot, kWhite,
                                 "SERVER: Bad admin password. Repeated attempts will get you banned.");
    // What the message says: a guesser does not get a second connection's worth of tries either,
    // the count follows the address.
    if (!guard.CountFailure(packet.sender.binaryAddress, server.GetTickMs())) return;
    const std::string name = pool->GetName(slot);
    LogPrintf("RCON (In-Game): Player #%d (%s) banned after %u failed logins.", int(slot), name.c_str(),
              unsigned(RconLoginGuard::kMaxFailures));
    server.AddBan(name.c_str(), ip, "RCON LOGIN FAILURES");
    if (present) server.KickPlayer(slot);
}

}  // namespace

void HandleRconCommand(GameServer& server, Packet* packet) {
    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr || packet == nullptr || packet->playerIndex >= kMaxPlayers) return;
    const uint16_t slot = packet->playerIndex;
    if (pool->GetAt(slot) == nullptr) return;
    BitStream bs;
    uint8_t id = 0;
    uint32_t length = 0;
    if (!OpenPacketStream(packet, bs) || !bs.Read(id) || !bs.Read(length)) return;
    if (length < 1 || length > kMaxRconCommandLength) return;
    // Zero-filled, so the text always ends; a packet shorter than its length is dropped.
    char text[kMaxRconCommandLength + 1] = {};
    if (!bs.ReadBytes(text, int32_t(length))) return;

    if (!pool->IsAdmin(slot)) {
        AttemptLogin(server, *packet, slot, text);
        return;
    }
    if (text[0] == '\0') {
        server.SendClientMessage(slot, kWhite, "You forgot the RCON command!");
        return;
    }
    LogPrintf("RCON (In-Game): Player [%s] sent command: %s", pool->GetName(slot), text);
    AdminCommandScope scope(slot);
    server.GetConsole().Execute(text);
}

void InGameRconLogEcho(uint16_t player, const char* line) {
    if (GameServer* server = TheGameServer) server->SendClientMessageText(player, kWhite, line);
}

}  // namespace velt
