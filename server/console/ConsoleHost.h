#pragma once

#include <cstdint>
#include <string>

namespace velt {

class FilterScripts;
class GameMode;

// What console commands need of the running game: the player pool, the transport's view of a
// player, bans, the gamemode rotation, world settings and the script hosts. The game server
// provides it once it exists; until then the console has no host and such commands do nothing.
class ConsoleHost {
public:
    virtual ~ConsoleHost() = default;

    // Script hosts; null while absent.
    virtual FilterScripts* GetFilterScripts() = 0;
    virtual GameMode* GetGameMode() = 0;

    // Player slots 0..999.
    virtual bool IsPlayerSlotUsed(uint16_t id) = 0;
    virtual std::string GetPlayerName(uint16_t id) = 0;
    virtual std::string GetPlayerIp(uint16_t id) = 0;  // dotted form, from the transport
    virtual int32_t GetPlayerPing(uint16_t id) = 0;    // last ping, from the transport
    virtual uint32_t GetConnectedCount() = 0;          // connections the transport counts

    virtual void KickPlayer(uint16_t id) = 0;
    virtual void AddBan(const char* name, const char* ip, const char* reason) = 0;
    virtual void RemoveBan(const char* ip) = 0;
    virtual void LoadBanList() = 0;

    // "gmx": the next rotation entry becomes the next gamemode; true when that worked.
    virtual bool SetNextGameModeFromRotation() = 0;
    // "changemode": the named gamemode becomes the next one; false when it has no script file.
    virtual bool SetNextGameMode(const char* name) = 0;

    virtual void SendClientMessageToAll(uint32_t colour, const char* text) = 0;
    virtual void SetGravity(float gravity) = 0;
    virtual void SetWeather(uint8_t weather) = 0;
};

}  // namespace velt
