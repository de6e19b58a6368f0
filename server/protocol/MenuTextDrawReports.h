#pragma once

// What a player does with the menus and text draws the scripts showed him: a menu row chosen, a
// menu left, a text draw clicked (or the selection cancelled). Each only raises a callback.

#include "net/NetworkTypes.h"

namespace velt {

// RPC MenuRowSelect: u8 row. From joined players only.
void RpcMenuRowSelect(RpcCallParams* params);
// RPC MenuExit: empty. From joined players only.
void RpcMenuExit(RpcCallParams* params);
// RPC TextDrawSelect: u16 text draw id; 0xFFFF (also when missing) for a cancelled selection,
// 2048..2303 for one of the player's own text draws.
void RpcTextDrawSelect(RpcCallParams* params);

}  // namespace velt
