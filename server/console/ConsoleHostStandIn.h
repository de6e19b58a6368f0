#pragma once

#include <map>
#include <string>
#include <vector>

#include "server/console/ConsoleHost.h"

namespace velt {

// A console host without a game server: players are a table the test fills, and every call that
// would act on the game is recorded as one line of text.
class StandInConsoleHost : public ConsoleHost {
public:
    struct PlayerEntry {
        std::string name;
        std::string ip;
        int32_t ping = 0;
    };

    std::map<uint16_t, PlayerEntry> players;
    // Overrides the connection count; by default the number of players in the table.
    int64_t connectedCount = -1;
    std::vector<std::string> gameModeFiles;  // names SetNextGameMode accepts
    bool rotationSucceeds = true;
    FilterScripts* filterScripts = nullptr;
    GameMode* gameMode = nullptr;

    std::vector<std::string> calls;

    FilterScripts* GetFilterScripts() override { return filterScripts; }
    GameMode* GetGameMode() override { return gameMode; }
    bool IsPlayerSlotUsed(uint16_t id) override;
    std::string GetPlayerName(uint16_t id) override;
    std::string GetPlayerIp(uint16_t id) override;
    int32_t GetPlayerPing(uint16_t id) override;
    uint32_t GetConnectedCount() override;
    void KickPlayer(uint16_t id) override;
    void AddBan(const char* name, const char* ip, const char* reason) override;
    void RemoveBan(const char* ip) override;
    void LoadBanList() override;
    bool SetNextGameModeFromRotation() override;
    bool SetNextGameMode(const char* name) override;
    void SendClientMessageToAll(uint32_t colour, const char* text) override;
    void SetGravity(float gravity) override;
    void SetWeather(uint8_t weather) override;
};

}  // namespace velt
