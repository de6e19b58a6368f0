#include "server/console/ConsoleHostStandIn.h"

#include <algorithm>
#include <cstdio>

namespace velt {

bool StandInConsoleHost::IsPlayerSlotUsed(uint16_t id) { return players.count(id) != 0; }

std::string StandInConsoleHost::GetPlayerName(uint16_t id) {
    auto it = players.find(id);
    return it != players.end() ? it->second.name : std::string();
}

std::string StandInConsoleHost::GetPlayerIp(uint16_t id) {
    auto it = players.find(id);
    return it != players.end() ? it->second.ip : std::string("255.255.255.255");
}

int32_t StandInConsoleHost::GetPlayerPing(uint16_t id) {
    auto it = players.find(id);
    return it != players.end() ? it->second.ping : -1;
}

uint32_t StandInConsoleHost::GetConnectedCount() {
    return connectedCount >= 0 ? static_cast<uint32_t>(connectedCount)
                               : static_cast<uint32_t>(players.size());
}

void StandInConsoleHost::KickPlayer(uint16_t id) { calls.push_back("KickPlayer " + std::to_string(id)); }

void StandInConsoleHost::AddBan(const char* name, const char* ip, const char* reason) {
    calls.push_back(std::string("AddBan ") + name + "|" + ip + "|" + reason);
}

void StandInConsoleHost::RemoveBan(const char* ip) { calls.push_back(std::string("RemoveBan ") + ip); }

void StandInConsoleHost::LoadBanList() { calls.push_back("LoadBanList"); }

bool StandInConsoleHost::SetNextGameModeFromRotation() {
    calls.push_back("SetNextGameModeFromRotation");
    return rotationSucceeds;
}

bool StandInConsoleHost::SetNextGameMode(const char* name) {
    calls.push_back(std::string("SetNextGameMode ") + name);
    return std::find(gameModeFiles.begin(), gameModeFiles.end(), name) != gameModeFiles.end();
}

void StandInConsoleHost::SendClientMessageToAll(uint32_t colour, const char* text) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", colour);
    calls.push_back(std::string("SendClientMessageToAll ") + buf + "|" + text);
}

void StandInConsoleHost::SetGravity(float gravity) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "SetGravity %f", static_cast<double>(gravity));
    calls.push_back(buf);
}

void StandInConsoleHost::SetWeather(uint8_t weather) {
    calls.push_back("SetWeather " + std::to_string(weather));
}

}  // namespace velt
