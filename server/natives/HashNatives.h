#pragma once

// Password hashes for scripts: SHA256_PassHash (SHA-256 of a password followed by a salt) in the
// main table, and WP_Hash (Whirlpool of a text) in a one-row table of its own that no script load
// registers. Both digests come from the system's libcrypto; Whirlpool lives in its legacy
// provider, which is loaded into a library context of its own so that the rest of the process
// keeps the default algorithms.

#include <cstddef>
#include <string_view>

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows HashNatives();

inline constexpr size_t kSha256HexLength = 64;
inline constexpr size_t kWhirlpoolHexLength = 128;

// Upper-case hex digest of SHA-256(password bytes followed by salt bytes) into `out`
// (kSha256HexLength + 1 bytes, terminated). False, with `out` empty, when libcrypto fails.
bool Sha256PassHash(std::string_view password, std::string_view salt, char* out);

// Upper-case hex Whirlpool digest of the bytes into `out` (kWhirlpoolHexLength + 1 bytes,
// terminated). False, with `out` empty, when the legacy provider cannot be loaded.
bool WhirlpoolHash(std::string_view bytes, char* out);

// Binds WP_Hash to the script (vm_Register of its one-row table). Nothing calls it on a load.
int RegisterWhirlpoolNatives(VmInstance* inst);
int WhirlpoolNativesCleanup(VmInstance* inst);

}  // namespace velt
