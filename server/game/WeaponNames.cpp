#include "server/game/WeaponNames.h"

namespace velt {

namespace {

// Index = weapon id; ids without a weapon of their own (0, 19-21, 47, 48, 50-52) stay empty.
constexpr const char* kWeaponNames[] = {
    "",                    // 0
    "Brass Knuckles",      // 1
    "Golf Club",           // 2
    "Nite Stick",          // 3
    "Knife",               // 4
    "Baseball Bat",        // 5
    "Shovel",              // 6
    "Pool Cue",            // 7
    "Katana",              // 8
    "Chainsaw",            // 9
    "Dildo",               // 10
    "Dildo",               // 11
    "Vibrator",            // 12
    "Vibrator",            // 13
    "Flowers",             // 14
    "Cane",                // 15
    "Grenade",             // 16
    "Teargas",             // 17
    "Molotov Cocktail",    // 18
    "",                    // 19
    "",                    // 20
    "",                    // 21
    "Colt 45",             // 22
    "Silenced Pistol",     // 23
    "Desert Eagle",        // 24
    "Shotgun",             // 25
    "Sawn-off Shotgun",    // 26
    "Combat Shotgun",      // 27
    "UZI",                 // 28
    "MP5",                 // 29
    "AK47",                // 30
    "M4",                  // 31
    "TEC9",                // 32
    "Rifle",               // 33
    "Sniper Rifle",        // 34
    "Rocket Launcher",     // 35
    "Heat Seaker",         // 36
    "Flamethrower",        // 37
    "Minigun",             // 38
    "Satchel Explosives",  // 39
    "Bomb",                // 40
    "Spray Can",           // 41
    "Fire Extinguisher",   // 42
    "Camera",              // 43
    "Night Vision",        // 44
    "Thermal Goggles",     // 45
    "Parachute",           // 46
    "",                    // 47
    "",                    // 48
    "Vehicle",             // 49
    "",                    // 50
    "",                    // 51
    "",                    // 52
    "Drowned",             // 53
    "Splat",               // 54
};
static_assert(sizeof kWeaponNames / sizeof kWeaponNames[0] == 55);

}  // namespace

const char* GetWeaponName(uint32_t id) {
    return id < sizeof kWeaponNames / sizeof kWeaponNames[0] ? kWeaponNames[id] : "";
}

}  // namespace velt
