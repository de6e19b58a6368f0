#pragma once
// Reads fuzz bytes as the values the VM fuzz targets build programs from. Running past the end
// yields zeros, so every input, however short, makes a whole program.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

namespace velt {

struct VmFuzzInput {
    const uint8_t* p;
    size_t n;
    uint8_t byte() {
        if (!n) return 0;
        --n;
        return *p++;
    }
    cell word() {
        ucell v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return cell(v);
    }
    // Mostly small numbers, sometimes any cell.
    cell value() {
        uint8_t b = byte();
        if (b < 0xC0) return cell(int8_t(b - 0x60));
        return word();
    }
};

}  // namespace velt
