#pragma once

// The 1000 player slots of the server. A slot's id is the connection's index in the transport.
// Joins and leaves go through Connect and Disconnect, which tell the other players, log the
// "[join]"/"[part]" lines and raise the scripts' connect and disconnect callbacks.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "server/game/Player.h"

namespace velt {

class GameServer;
struct ConnectedSystem;

inline constexpr size_t kMaxPlayerName = 24;
inline constexpr size_t kMaxPlayerSerial = 99;
// A joining client may send a version text of up to 24 characters, and its 25-byte row holds them.
inline constexpr size_t kMaxPlayerVersion = 24;

enum DisconnectReason : uint8_t {
    DISCONNECT_TIMEOUT = 0,  // connection lost, or server teardown
    DISCONNECT_QUIT = 1,
    DISCONNECT_KICK = 2,  // kick or ban
};

class PlayerPool {
public:
    explicit PlayerPool(GameServer& server);
    // Disconnects every slot with reason 0.
    ~PlayerPool();
    PlayerPool(const PlayerPool&) = delete;
    PlayerPool& operator=(const PlayerPool&) = delete;

    // 1 when the player joined; 0 (slot left free, nothing sent or logged) for an id above 999,
    // a used slot, a name of 25 or more characters, a serial above 99 or a version above 24.
    int Connect(uint16_t id, const char* name, const char* serial, const char* version, bool bot);
    // 1 when the player left; 0 for an id above 999, an unused slot, or a slot already leaving
    // (a script that kicks a player from inside its disconnect callback).
    int Disconnect(uint16_t id, uint8_t reason);
    void DisconnectAll();

    void Process(float elapsedSeconds);
    void SendExistingPlayers(uint16_t joiner);
    void SendPlayerStreamOut(uint16_t id, uint16_t to);
    // End of a gamemode: every player's disconnect callback (gamemode first) and a fresh record.
    void ResetAll();
    // Start of a gamemode: virtual worlds, scores and money back to 0.
    void ResetGameModeStats();
    void SetVirtualWorld(uint16_t id, int32_t world);
    bool IsNameInUse(const char* name) const;
    // A connected player's new name, told to every player: 1 when changed; 0 for a free slot, an
    // empty name or one in use (by anybody, the player himself included, whatever the letter
    // case); -1 for a name longer than 24 characters or with a character outside the name rule.
    int SetName(uint16_t id, const char* name);
    int32_t GetHumanCount() const;
    int32_t GetNpcCount() const;
    bool IsReady(uint16_t id) const;
    float GetDistance(uint16_t a, uint16_t b) const;
    void StreamOutPlayerForAll(uint16_t id);
    void StreamOutVehicleForAll(uint16_t vehicle);
    void StreamOutActorForAll(uint16_t actor);

    // Frees the records of players who left. Called between passes, when no Player method can
    // still be running further up the stack.
    void ReleaseRetired();

    bool IsConnected(uint16_t id) const { return id < kMaxPlayers && used_[id]; }
    Player* GetAt(uint16_t id) const { return id < kMaxPlayers ? players_[id].get() : nullptr; }
    // "" for a free slot.
    const char* GetName(uint16_t id) const { return id < kMaxPlayers ? names_[id].data() : ""; }
    const char* GetSerial(uint16_t id) const { return id < kMaxPlayers ? serials_[id].data() : ""; }
    const char* GetVersion(uint16_t id) const { return id < kMaxPlayers ? versions_[id].data() : ""; }
    bool IsBot(uint16_t id) const { return id < kMaxPlayers && bot_[id]; }
    bool IsAdmin(uint16_t id) const { return id < kMaxPlayers && admin_[id]; }
    void SetAdmin(uint16_t id, bool on) {
        if (id < kMaxPlayers) admin_[id] = on;
    }
    int32_t GetVirtualWorld(uint16_t id) const { return id < kMaxPlayers ? world_[id] : 0; }
    int32_t GetScore(uint16_t id) const { return id < kMaxPlayers ? score_[id] : 0; }
    void SetScore(uint16_t id, int32_t score) {
        if (id < kMaxPlayers) score_[id] = score;
    }
    int32_t GetMoney(uint16_t id) const { return id < kMaxPlayers ? money_[id] : 0; }
    int32_t GetDrunkLevel(uint16_t id) const { return id < kMaxPlayers ? drunk_[id] : 0; }
    // Scripts' changes between two statistics reports; the sum wraps in 32 bits.
    void SetMoney(uint16_t id, int32_t money) {
        if (id < kMaxPlayers) money_[id] = money;
    }
    void GiveMoney(uint16_t id, int32_t amount) {
        if (id < kMaxPlayers) money_[id] = int32_t(uint32_t(money_[id]) + uint32_t(amount));
    }
    // The client's statistics report.
    void StoreStats(uint16_t id, int32_t money, int32_t drunkLevel);
    ConnectedSystem* GetConnectedSystem(uint16_t id) const {
        return id < kMaxPlayers ? systems_[id] : nullptr;
    }
    // When the slot's last score table went out (set to the pool's creation at first); the score
    // requests are answered at most every 2000 ms per slot.
    uint32_t GetScoresSentAt(uint16_t id) const { return id < kMaxPlayers ? slotTime_[id] : 0; }
    void SetScoresSentAt(uint16_t id, uint32_t ms) {
        if (id < kMaxPlayers) slotTime_[id] = ms;
    }
    // Highest used id, 0 when none is used; loops run from 0 to it inclusive.
    int32_t GetUpperIndex() const { return upperIndex_; }
    int32_t GetConnectedCount() const { return connectedCount_; }

private:
    void RecomputeUpperIndex();

    GameServer& server_;
    std::array<int32_t, kMaxPlayers> world_{};
    std::array<int32_t, kMaxPlayers> score_{};
    std::array<int32_t, kMaxPlayers> money_{};
    std::array<int32_t, kMaxPlayers> drunk_{};
    std::array<std::array<char, kMaxPlayerSerial + 2>, kMaxPlayers> serials_{};
    std::array<std::array<char, kMaxPlayerVersion + 1>, kMaxPlayers> versions_{};
    std::array<bool, kMaxPlayers> used_{};
    std::array<bool, kMaxPlayers> leaving_{};
    std::array<std::unique_ptr<Player>, kMaxPlayers> players_{};
    std::array<ConnectedSystem*, kMaxPlayers> systems_{};
    std::array<std::array<char, kMaxPlayerName + 1>, kMaxPlayers> names_{};
    std::array<bool, kMaxPlayers> admin_{};
    std::array<bool, kMaxPlayers> bot_{};
    std::array<uint32_t, kMaxPlayers> slotTime_{};
    uint32_t createdTime_ = 0;
    float serverTickAccumulator_ = 0.0f;
    int32_t connectedCount_ = 0;
    int32_t upperIndex_ = 0;
    std::vector<std::unique_ptr<Player>> retired_;
};

}  // namespace velt
