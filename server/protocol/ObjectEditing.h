#pragma once

// The results of the object editors and of the object selection a client reports. Each reaches the
// scripts only when it is whole, names an object or slot the sender may have edited and selected,
// and carries finite numbers; anything else is dropped without an answer.

#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

// What an editor result says: the player gave up, settled on the values, or is still dragging.
enum EditResponse : int32_t {
    EDIT_RESPONSE_CANCEL = 0,
    EDIT_RESPONSE_FINAL = 1,
    EDIT_RESPONSE_UPDATE = 2,
};

// RPC AttachedObjectEdit: i32 response, i32 slot, the 52-byte attached-object record.
void RpcAttachedObjectEdit(RpcCallParams* params);
// RPC ObjectEdit: bit player-object flag, u16 object, i32 response, position, rotation (f32 each).
void RpcObjectEdit(RpcCallParams* params);
// RPC ObjectSelect: i32 type (not trusted), u16 object, i32 model, position (f32 each).
void RpcObjectSelect(RpcCallParams* params);

}  // namespace velt
