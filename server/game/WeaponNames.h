#pragma once

#include <cstdint>

namespace velt {

// Name of a weapon or death reason: ids 0..54 that have one; every other id gives "".
const char* GetWeaponName(uint32_t id);

}  // namespace velt
