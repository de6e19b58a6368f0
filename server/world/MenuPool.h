#pragma once

// The menus of the world, ids 1 to 127 (255 = none): small on-screen lists of one or two columns
// of up to 12 rows. A menu's whole description goes to a player the first time it is shown to
// him and again after any change of its rows or headers; otherwise a show or hide is one byte.
// Which menu each player was shown last is kept here for the scripts.

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "server/world/WorldPlayerIds.h"

namespace velt {

class GameServer;

inline constexpr uint8_t kMaxMenus = 128;  // ids 1..127; 0 is never handed out
inline constexpr uint8_t kNoMenu = 255;
inline constexpr uint8_t kMenuRows = 12;
inline constexpr uint8_t kMenuColumns = 2;
inline constexpr size_t kMenuTextSize = 32;  // 31 characters and the terminator

class Menu {
public:
    using Text = std::array<char, kMenuTextSize>;

    // Two columns only when `columns` is 2; every row enabled.
    Menu(GameServer& server, uint8_t id, std::string_view title, float x, float y, uint8_t columns,
         float column1Width, float column2Width);

    // The row the text (cut to 31 characters) went into; 255 for a column other than 0 and 1 or
    // a full one. Every player gets the whole menu again at its next show.
    uint8_t AddItem(uint8_t column, std::string_view text);
    // Columns other than 0 and 1 are ignored.
    void SetColumnHeader(uint8_t column, std::string_view text);

    // Player ids beyond the players' range are ignored by these three.
    void InitForPlayer(uint16_t player);
    // The whole menu first when this player has not had it since its last change.
    void ShowForPlayer(uint16_t player);
    void HideForPlayer(uint16_t player);
    void ResetPlayerInit() { sentToPlayer_.reset(); }
    void ForgetPlayer(uint16_t player) {
        if (player < kWorldPlayerIds) sentToPlayer_.reset(player);
    }
    bool WasSentTo(uint16_t player) const { return player < kWorldPlayerIds && sentToPlayer_[player]; }

    // A player who already has the menu keeps the old state until it is sent again.
    void Disable() { interactionEnabled_ = 0; }
    void DisableRow(uint8_t row) {
        if (row < kMenuRows) rowEnabled_[row] = 0;
    }

    uint8_t Id() const { return id_; }
    uint8_t Columns() const { return columns_; }
    const Text& Title() const { return title_; }
    uint8_t ItemCount(uint8_t column) const { return column < kMenuColumns ? itemCount_[column] : 0; }
    // The empty text for a row or column beyond the menu's.
    const Text& Item(uint8_t row, uint8_t column) const {
        return row < kMenuRows && column < kMenuColumns ? items_[row][column] : kEmptyText;
    }
    const Text& Header(uint8_t column) const { return column < kMenuColumns ? headers_[column] : kEmptyText; }
    bool IsEnabled() const { return interactionEnabled_ != 0; }
    bool IsRowEnabled(uint8_t row) const { return row < kMenuRows && rowEnabled_[row] != 0; }

private:
    static constexpr Text kEmptyText{};

    GameServer& server_;
    uint8_t id_;
    Text title_{};
    std::array<std::array<Text, kMenuColumns>, kMenuRows> items_{};
    std::array<Text, kMenuColumns> headers_{};
    std::bitset<kWorldPlayerIds> sentToPlayer_;
    int32_t interactionEnabled_ = 1;
    std::array<int32_t, kMenuRows> rowEnabled_{};
    float x_;
    float y_;
    float column1Width_;
    float column2Width_;
    uint8_t columns_;
    std::array<uint8_t, kMenuColumns> itemCount_{};
};

class MenuPool {
public:
    explicit MenuPool(GameServer& server);
    ~MenuPool();
    MenuPool(const MenuPool&) = delete;
    MenuPool& operator=(const MenuPool&) = delete;

    // The lowest free id of 1..127; kNoMenu when all are in use or memory runs out.
    uint8_t Create(std::string_view title, float x, float y, uint8_t columns, float column1Width,
                   float column2Width);
    // 1 when the id was in use. Players who have the menu open are not told.
    int Destroy(uint8_t id);
    bool Exists(uint8_t id) const { return id < kMaxMenus && menus_[id] != nullptr; }
    Menu* Get(uint8_t id) { return Exists(id) ? menus_[id].get() : nullptr; }

    // The menu last shown to the player; kNoMenu for none and for ids beyond the players'.
    uint8_t GetPlayerMenu(uint16_t player) const {
        return player < kWorldPlayerIds ? playerMenu_[player] : kNoMenu;
    }
    void SetPlayerMenu(uint16_t player, uint8_t id) {
        if (player < kWorldPlayerIds) playerMenu_[player] = id;
    }
    // A player left: whoever takes his id next has been shown no menu, and must be sent the
    // whole of each menu before its first show.
    void ForgetPlayer(uint16_t player);

private:
    GameServer& server_;
    std::array<std::unique_ptr<Menu>, kMaxMenus> menus_;
    std::array<uint8_t, kWorldPlayerIds> playerMenu_;
};

}  // namespace velt
