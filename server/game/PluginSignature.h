#pragma once
// Detached plugin signatures: "name.sig" beside a plugin holds, as one line of hexadecimal
// digits, a signature of the plugin file's SHA-1 digest made with the private half of the key
// the program holds. The loader does not call these; they are offered to whoever wants plugins
// checked.

#include <cstdint>
#include <string>

#include "net/RsaSignature.h"

namespace velt {

class Console;

// 1 when the plugin's base name (after the last '/' or '\', cut at its first '.') is one of the
// blank-separated words of "nosign", else 0.
int32_t IsPluginUnsigned(const char* path, const Console& console);

// The signature file of a plugin: the path with the extension of its last component replaced by
// ".sig" (a '.' in a directory name is not an extension).
std::string PluginSignaturePath(const char* path);

// 1 when the signature file holds a valid signature of the file at path under key, else 0.
int32_t VerifyPluginSignatureWith(const char* path, const RsaSignature& key);
// The same under the key held in the program.
int32_t VerifyPluginSignature(const char* path);

}  // namespace velt
