#pragma once

// What a player types: chat lines, commands, and answers to the dialogs the scripts showed. Each
// handler checks the sender, hands the text to the scripts and relays or answers as they decide.

#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

inline constexpr uint32_t kMaxChatLength = 128;
inline constexpr uint32_t kMinCommandLength = 2;
inline constexpr uint32_t kMaxCommandLength = 255;
inline constexpr uint32_t kMaxDialogTextLength = 128;

// RPC ChatText: u8 length, text.
void RpcChatText(RpcCallParams* params);
// RPC CommandText: u32 length, text.
void RpcCommandText(RpcCallParams* params);
// RPC DialogResponse: u16 dialog, u8 response, u16 list item, u8 length, text.
void RpcDialogResponse(RpcCallParams* params);

}  // namespace velt
