#pragma once

// The interface server plugins are built against: the names a plugin library exports, the flags
// its Supports returns, and the two tables the server hands its Load. It is the whole contract, so
// a plugin needs this header (and the machine's vm.h, which it includes) and nothing else of the
// server; it never links against the server, it calls through the tables.
//
// The interface is for 64-bit plugins: every table word is a pointer-sized slot, and script cells
// stay 32 bits (a cell never holds a host pointer). A library built for a 32-bit server does not
// load into this one.
//
// A plugin:
//     VELT_PLUGIN_EXPORT uint32_t Supports() { return velt::plugin::kVersion | velt::plugin::kScriptNotices; }
//     VELT_PLUGIN_EXPORT bool Load(void** data) { ...keep data...; return true; }
//     VELT_PLUGIN_EXPORT int VmLoad(velt::VmInstance* inst) { ...register natives...; return 0; }
// Load and Supports are required; Unload, VmLoad, VmUnload and ProcessTick are optional, and the
// last three are looked up only when Supports asks for them.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

#define VELT_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace velt::plugin {

// ---- Supports -------------------------------------------------------------------------------
// Bits 0-15: the interface version the plugin needs; the server loads up to kVersion.
inline constexpr uint32_t kVersion = 0x0220;
inline constexpr uint32_t kVersionMask = 0xFFFF;
// Wants VmLoad and VmUnload for every script instance.
inline constexpr uint32_t kScriptNotices = 0x10000;
// Wants ProcessTick once per main-loop pass.
inline constexpr uint32_t kProcessTick = 0x20000;

// ---- exports --------------------------------------------------------------------------------
// The symbol names the server looks up, and their types.
inline constexpr const char* kLoadName = "Load";
inline constexpr const char* kUnloadName = "Unload";
inline constexpr const char* kSupportsName = "Supports";
inline constexpr const char* kProcessTickName = "ProcessTick";
inline constexpr const char* kVmLoadName = "VmLoad";
inline constexpr const char* kVmUnloadName = "VmUnload";

// `data` is the data table; false refuses the load (the library is closed again).
using LoadFn = bool (*)(void** data);
using UnloadFn = void (*)();
using SupportsFn = uint32_t (*)();
using ProcessTickFn = void (*)();
// Called after a script's natives are bound (a plugin registers its own here) and before the
// script is released; the results are ignored.
using VmLoadFn = int (*)(VmInstance* inst);
using VmUnloadFn = int (*)(VmInstance* inst);

// ---- data table -----------------------------------------------------------------------------
// 256 words; the ones not listed are null.
inline constexpr size_t kDataTableWords = 256;
enum DataWord : size_t {
    kDataLogPrintf = 0,                  // LogPrintfFn: one line to the server log
    kDataVmFunctions = 16,               // void**: the machine's function table below
    kDataCallFilterScriptPublic = 17,    // CallPublicFn: every filterscript, stops at the first 0
    kDataCallGameModePublic = 18,        // CallPublicFn: the gamemode
    kDataGetGameServer = 225,            // GetObjectFn: the game server, null before it exists
    kDataGetNetServer = 226,             // GetObjectFn: its transport, null without a game server
    kDataLoadFilterScriptImage = 227,    // LoadImageFn: a filterscript from a script image in memory
    kDataGetConsole = 228,               // GetObjectFn: the console
    kDataUnloadFilterScript = 229,       // UnloadFilterScriptFn: a filterscript by name
    kDataDatabaseForHandle = 230,        // HandleLookupFn: db_get_mem_handle's handle to its sqlite3*
    kDataDatabaseResultForHandle = 231,  // HandleLookupFn: db_get_result_mem_handle's to its result
};

using LogPrintfFn = void (*)(const char* format, ...);
// Runs the named public without arguments; 0 when no script ran it or there is no game server.
using CallPublicFn = int (*)(const char* name);
// Opaque objects: a plugin may hand them back to the server, never look inside.
using GetObjectFn = void* (*)();
// 1 when the image loaded as a filterscript of that name; 0 on failure or without a game server.
// The image is read from its own header (its size field); the caller keeps it.
using LoadImageFn = int (*)(const char* name, const void* image);
// 1 when a filterscript of that name was loaded and is unloaded now; else 0.
using UnloadFilterScriptFn = int (*)(const char* name);
// A script cell cannot hold an address, so the database natives hand scripts a 32-bit handle; this
// turns it back into the object it stands for now (null for a handle that names nothing). A query
// result starts with `int32_t rows; int32_t columns; char** table;`, the table holding the column
// names and then the values row by row (null for SQL NULL).
using HandleLookupFn = void* (*)(uint32_t handle);

// ---- the machine's function table -----------------------------------------------------------
// 44 words, each the address of the vm_ function named; slots 0-2 and 40-43 are null. The types
// are those of vm.h.
inline constexpr size_t kVmFunctionWords = 44;
enum VmFunctionSlot : size_t {
    kVmAllot = 3,
    kVmCallback = 4,
    kVmTeardown = 5,
    kVmClone = 6,
    kVmExec = 7,
    kVmLookupNative = 8,
    kVmLookupPublic = 9,
    kVmLookupPubVar = 10,
    kVmFindTagId = 11,
    kVmHeaderFlags = 12,
    kVmGetAddr = 13,
    kVmGetNative = 14,
    kVmGetPublic = 15,
    kVmGetPubVar = 16,
    kVmReadString = 17,
    kVmGetTag = 18,
    kVmGetUserData = 19,
    kVmInit = 20,
    kVmJitSetup = 21,
    kVmMemorySizes = 22,
    kVmNameLength = 23,
    kVmMakeNativeEntry = 24,
    kVmNumNatives = 25,
    kVmCountPublics = 26,
    kVmNumPubVars = 27,
    kVmNumTags = 28,
    kVmPushCell = 29,
    kVmPushArray = 30,
    kVmPushString = 31,
    kVmRaiseError = 32,
    kVmRegister = 33,
    kVmUnallot = 34,
    kVmSetCallback = 35,
    kVmSetDebugHook = 36,
    kVmSetString = 37,
    kVmSetUserData = 38,
    kVmStrLen = 39,
};

// A word of either table as the function it holds, e.g.
//     auto reg = plugin::Word<decltype(&vm_Register)>(vmTable, plugin::kVmRegister);
template <class Fn>
Fn Word(void* const* table, size_t index) {
    return reinterpret_cast<Fn>(table[index]);
}

}  // namespace velt::plugin
