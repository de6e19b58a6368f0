#pragma once

// Arguments that the natives of objects read the same way, beside the ids of NativeIds.h.

#include "server/natives/NativeIds.h"
#include "server/shared/VectorMath.h"
#include "server/vm/vm.h"

namespace velt {

// Three float arguments from params[first] on: a position, a rotation, an offset.
inline Vector3 VectorArg(const cell* params, int first) {
    return {CellToFloat(params[first]), CellToFloat(params[first + 1]), CellToFloat(params[first + 2])};
}

}  // namespace velt
