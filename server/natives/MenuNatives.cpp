#include "server/natives/MenuNatives.h"

#include "server/natives/WorldNativeArgs.h"
#include "server/world/MenuPool.h"

namespace velt {

namespace {

constexpr size_t kMenuTextLimit = kMenuTextSize - 1;

MenuPool* Menus() { return TheGameServer != nullptr ? TheGameServer->GetMenuPool() : nullptr; }

// The menu of the id argument, or null.
Menu* MenuArg(cell id) {
    MenuPool* pool = Menus();
    return pool != nullptr ? pool->Get(ByteArg(id)) : nullptr;
}

// CreateMenu(title[], columns, Float:x, Float:y, Float:col1width, Float:col2width): the id 1..127;
// -1 when all are in use or there is no pool.
cell n_CreateMenu(VmInstance* vm, const cell* params) {
    MenuPool* pool = Menus();
    if (pool == nullptr || !HasNativeArgs(vm, params, 6)) return -1;
    const uint8_t id =
        pool->Create(TextArg(vm, params[1], kMenuTextLimit), CellToFloat(params[3]), CellToFloat(params[4]),
                     ByteArg(params[2]), CellToFloat(params[5]), CellToFloat(params[6]));
    return id != kNoMenu ? id : -1;
}

cell n_DestroyMenu(VmInstance* vm, const cell* params) {
    MenuPool* pool = Menus();
    if (pool == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    return pool->Destroy(ByteArg(params[1]));
}

// AddMenuItem(menu, column, text[]): the row given to the text; -1 for a full or unknown column.
cell n_AddMenuItem(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 3) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr) return 0;
    const uint8_t row = menu->AddItem(ByteArg(params[2]), TextArg(vm, params[3], kMenuTextLimit));
    return row != kNoMenu ? row : -1;
}

// SetMenuColumnHeader(menu, column, text[]): 1 for an existing menu, whatever the column.
cell n_SetMenuColumnHeader(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 3) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr) return 0;
    menu->SetColumnHeader(ByteArg(params[2]), TextArg(vm, params[3], kMenuTextLimit));
    return 1;
}

// ShowMenuForPlayer(menu, player): the menu becomes the player's current one.
cell n_ShowMenuForPlayer(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 2) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr || NativeConnectedPlayer(params[2]) == nullptr) return 0;
    const uint16_t player = NativeId(params[2]);
    menu->ShowForPlayer(player);
    Menus()->SetPlayerMenu(player, menu->Id());
    return 1;
}

// HideMenuForPlayer(menu, player): the player's current menu stays as it was.
cell n_HideMenuForPlayer(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 2) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr || NativeConnectedPlayer(params[2]) == nullptr) return 0;
    menu->HideForPlayer(NativeId(params[2]));
    return 1;
}

cell n_IsValidMenu(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 1) && MenuArg(params[1]) != nullptr ? 1 : 0;
}

cell n_DisableMenu(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 1) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr) return 0;
    menu->Disable();
    return 1;
}

// DisableMenuRow(menu, row): rows 0..11.
cell n_DisableMenuRow(VmInstance* vm, const cell* params) {
    Menu* menu = HasNativeArgs(vm, params, 2) ? MenuArg(params[1]) : nullptr;
    if (menu == nullptr || ucell(params[2]) >= kMenuRows) return 0;
    menu->DisableRow(uint8_t(params[2]));
    return 1;
}

// GetPlayerMenu(player): 255 when he was shown none, for ids beyond the players', and without a
// pool.
cell n_GetPlayerMenu(VmInstance* vm, const cell* params) {
    MenuPool* pool = Menus();
    if (pool == nullptr || !HasNativeArgs(vm, params, 1)) return kNoMenu;
    return pool->GetPlayerMenu(NativeId(params[1]));
}

const VmNativeEntry kMenuNatives[] = {
    {"CreateMenu", n_CreateMenu},
    {"DestroyMenu", n_DestroyMenu},
    {"AddMenuItem", n_AddMenuItem},
    {"SetMenuColumnHeader", n_SetMenuColumnHeader},
    {"ShowMenuForPlayer", n_ShowMenuForPlayer},
    {"HideMenuForPlayer", n_HideMenuForPlayer},
    {"IsValidMenu", n_IsValidMenu},
    {"DisableMenu", n_DisableMenu},
    {"DisableMenuRow", n_DisableMenuRow},
    {"GetPlayerMenu", n_GetPlayerMenu},
};

}  // namespace

ScriptNativeRows MenuNatives() { return kMenuNatives; }

}  // namespace velt
