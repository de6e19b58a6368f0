#pragma once

// The highest id in use, kept by the pools whose scripts and loops ask for it.

#include <cstdint>

namespace velt {

// The highest id of 1..count-1 for which inUse(id) holds; 0 when there is none (whether id 0 is
// in use or not).
template <class InUse>
int32_t HighestIdInUse(int32_t count, InUse&& inUse) {
    for (int32_t id = count - 1; id > 0; --id) {
        if (inUse(id)) return id;
    }
    return 0;
}

}  // namespace velt
