#include "server/world/MenuPool.h"

#include <algorithm>
#include <new>

#include "net/BitStream.h"
#include "server/game/GameServer.h"

namespace velt {

namespace {

// Cut to 31 characters, the rest of the field zero.
Menu::Text MenuText(std::string_view text) {
    Menu::Text out{};
    std::copy_n(text.begin(), std::min(text.size(), kMenuTextSize - 1), out.begin());
    return out;
}

}  // namespace

Menu::Menu(GameServer& server, uint8_t id, std::string_view title, float x, float y, uint8_t columns,
           float column1Width, float column2Width)
    : server_(server),
      id_(id),
      title_(MenuText(title)),
      x_(x),
      y_(y),
      column1Width_(column1Width),
      column2Width_(column2Width),
      columns_(columns == 2 ? 2 : 1) {
    rowEnabled_.fill(1);
}

uint8_t Menu::AddItem(uint8_t column, std::string_view text) {
    if (column >= kMenuColumns || itemCount_[column] >= kMenuRows) return kNoMenu;
    ResetPlayerInit();
    const uint8_t row = itemCount_[column]++;
    items_[row][column] = MenuText(text);
    return row;
}

void Menu::SetColumnHeader(uint8_t column, std::string_view text) {
    if (column >= kMenuColumns) return;
    ResetPlayerInit();
    headers_[column] = MenuText(text);
}

void Menu::InitForPlayer(uint16_t player) {
    if (player >= kWorldPlayerIds) return;
    sentToPlayer_.set(player);
    const bool twoColumns = columns_ == 2;
    BitStream bs;
    bs.Write(id_);
    bs.Write(int32_t(twoColumns ? 1 : 0));
    bs.WriteBytes(title_.data(), int32_t(kMenuTextSize));
    bs.Write(x_);
    bs.Write(y_);
    bs.Write(column1Width_);
    if (twoColumns) bs.Write(column2Width_);
    bs.Write(interactionEnabled_);
    for (int32_t enabled : rowEnabled_) bs.Write(enabled);
    for (uint8_t column = 0; column < (twoColumns ? 2 : 1); ++column) {
        bs.WriteBytes(headers_[column].data(), int32_t(kMenuTextSize));
        bs.Write(itemCount_[column]);
        for (uint8_t row = 0; row < itemCount_[column]; ++row)
            bs.WriteBytes(items_[row][column].data(), int32_t(kMenuTextSize));
    }
    server_.SendRpcToPlayer(RPC_MenuInit, &bs, player, RpcChannel::World);
}

void Menu::ShowForPlayer(uint16_t player) {
    if (player >= kWorldPlayerIds) return;
    if (!sentToPlayer_[player]) InitForPlayer(player);
    BitStream bs;
    bs.Write(id_);
    server_.SendRpcToPlayer(RPC_MenuShow, &bs, player, RpcChannel::World);
}

void Menu::HideForPlayer(uint16_t player) {
    if (player >= kWorldPlayerIds) return;
    BitStream bs;
    bs.Write(id_);
    server_.SendRpcToPlayer(RPC_MenuHide, &bs, player, RpcChannel::World);
}

MenuPool::MenuPool(GameServer& server) : server_(server) { playerMenu_.fill(kNoMenu); }

MenuPool::~MenuPool() = default;

uint8_t MenuPool::Create(std::string_view title, float x, float y, uint8_t columns, float column1Width,
                         float column2Width) {
    for (uint8_t id = 1; id < kMaxMenus; ++id) {
        if (menus_[id] != nullptr) continue;
        menus_[id].reset(new (std::nothrow)
                             Menu(server_, id, title, x, y, columns, column1Width, column2Width));
        return menus_[id] != nullptr ? id : kNoMenu;
    }
    return kNoMenu;
}

int MenuPool::Destroy(uint8_t id) {
    if (!Exists(id)) return 0;
    menus_[id].reset();
    return 1;
}

void MenuPool::ForgetPlayer(uint16_t player) {
    if (player >= kWorldPlayerIds) return;
    playerMenu_[player] = kNoMenu;
    for (const std::unique_ptr<Menu>& menu : menus_)
        if (menu != nullptr) menu->ForgetPlayer(player);
}

}  // namespace velt
