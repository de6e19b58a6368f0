#include "server/game/PluginSignature.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "net/Sha1.h"
#include "server/console/Console.h"

namespace velt {

namespace {

// The public half of the program's plugin-signing key (exponent 65537), least significant byte
// first. Whoever signs plugins for a build replaces it with their own.
constexpr uint32_t kPluginKeyExponent = 65537;
constexpr uint8_t kPluginKeyModulus[RsaSignature::kModulusBytes] = {
    0xd9, 0x6f, 0x12, 0xdf, 0x88, 0x45, 0x57, 0xd9, 0xba, 0x71, 0xf3, 0x52, 0x3e, 0xc4, 0xa7, 0xe0,
    0xd9, 0xd2, 0x3b, 0xb6, 0x02, 0x27, 0x06, 0x3a, 0x24, 0x9c, 0x66, 0xa5, 0xe6, 0xa6, 0x9c, 0xf4,
    0x35, 0x9c, 0x35, 0xe8, 0x77, 0xf9, 0x9c, 0xe3, 0x46, 0xe1, 0x63, 0x68, 0x6b, 0xf2, 0x26, 0x9f,
    0x9c, 0x32, 0xb2, 0xd2, 0x91, 0xb0, 0x58, 0x82, 0xa4, 0x82, 0xf7, 0x3c, 0x2e, 0xc0, 0x1b, 0xb6,
    0x9a, 0xe3, 0xe0, 0x0e, 0xec, 0xb2, 0x48, 0x4f, 0x28, 0xcd, 0xfe, 0xc1, 0xb1, 0xbe, 0xe3, 0xc6,
    0xd9, 0xee, 0x9c, 0xcb, 0x34, 0x5e, 0x76, 0xc9, 0x3a, 0xea, 0xd6, 0xae, 0xc2, 0xdd, 0x09, 0x14,
    0x59, 0x6a, 0x06, 0xa8, 0x5b, 0xd3, 0xab, 0xfc, 0x03, 0x20, 0xf3, 0x64, 0x05, 0x75, 0x17, 0x76,
    0x40, 0xc8, 0xe9, 0xf7, 0x7a, 0xe7, 0x0c, 0x82, 0x39, 0xab, 0xc5, 0x50, 0x50, 0x24, 0x26, 0xaa,
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int32_t IsPluginUnsigned(const char* path, const Console& console) {
    if (path == nullptr) return 0;
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    const std::string name(base, std::strcspn(base, "."));
    const char* list = console.GetStringVariable("nosign");
    if (list == nullptr) return 0;
    std::istringstream words{std::string(list)};
    std::string word;
    while (words >> word)
        if (word == name) return 1;
    return 0;
}

std::string PluginSignaturePath(const char* path) {
    std::string name = path != nullptr ? path : "";
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.erase(dot);
    return name + ".sig";
}

int32_t VerifyPluginSignatureWith(const char* path, const RsaSignature& key) {
    if (path == nullptr) return 0;
    CSHA1 sha;
    sha.Reset();
    if (!sha.HashFile(path)) return 0;
    sha.Final();

    FILE* file = std::fopen(PluginSignaturePath(path).c_str(), "r");
    if (file == nullptr) return 0;
    char line[257] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) return 0;
    uint8_t signature[RsaSignature::kModulusBytes] = {};
    for (size_t i = 0; i < sizeof signature; ++i) {
        const int high = HexDigit(line[2 * i]);
        const int low = high < 0 ? -1 : HexDigit(line[2 * i + 1]);
        if (low < 0) break;
        signature[i] = uint8_t(high << 4 | low);
    }
    RsaSignature check = key;
    check.SetSignature(signature);
    return check.Verify(sha.DigestBytes()) ? 1 : 0;
}

int32_t VerifyPluginSignature(const char* path) {
    RsaSignature key;
    key.SetPublicKey(kPluginKeyExponent, kPluginKeyModulus);
    return VerifyPluginSignatureWith(path, key);
}

}  // namespace velt
