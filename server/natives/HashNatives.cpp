#include "server/natives/HashNatives.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <mutex>
#include <string>

namespace velt {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void DigestToHex(const unsigned char* digest, size_t length, char* out) {
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = kHexDigits[digest[i] >> 4];
        out[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
    }
    out[2 * length] = '\0';
}

// Digest of the concatenated parts with `md`; false when libcrypto refuses.
bool Digest(const EVP_MD* md, std::initializer_list<std::string_view> parts, char* hexOut) {
    hexOut[0] = '\0';
    if (md == nullptr) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1;
    for (std::string_view part : parts) {
        if (ok && !part.empty()) ok = EVP_DigestUpdate(ctx, part.data(), part.size()) == 1;
    }
    if (ok) ok = EVP_DigestFinal_ex(ctx, digest, &length) == 1;
    EVP_MD_CTX_free(ctx);
    if (ok) DigestToHex(digest, length, hexOut);
    return ok;
}

// The Whirlpool implementation, fetched once from a library context holding only the legacy
// provider. Stays null when the provider is not installed. Kept for the life of the process.
const EVP_MD* WhirlpoolMd() {
    static std::once_flag once;
    static OSSL_LIB_CTX* ctx = nullptr;
    static EVP_MD* md = nullptr;
    std::call_once(once, [] {
        ctx = OSSL_LIB_CTX_new();
        if (ctx == nullptr) return;
        if (OSSL_PROVIDER_load(ctx, "legacy") == nullptr) return;
        md = EVP_MD_fetch(ctx, "WHIRLPOOL", nullptr);
    });
    return md;
}

std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    return text;
}

// SHA256_PassHash(const password[], const salt[], hash[], size)
cell n_SHA256_PassHash(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4)) return 0;
    char hex[kSha256HexLength + 1];
    if (!Sha256PassHash(TextArg(vm, params[1]), TextArg(vm, params[2]), hex)) return 0;
    return SetScriptString(vm, params[3], hex, params[4]);
}

// WP_Hash(buffer[], len, const str[]): writes the digest only into a buffer that holds all of it.
cell n_WP_Hash(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const cell size = params[2];
    if (size <= static_cast<cell>(kWhirlpoolHexLength)) return 0;
    char hex[kWhirlpoolHexLength + 1];
    if (!WhirlpoolHash(TextArg(vm, params[3]), hex)) return 0;
    SetScriptString(vm, params[1], hex, static_cast<cell>(kWhirlpoolHexLength + 1));
    return 0;
}

const VmNativeEntry kHashNatives[] = {
    {"SHA256_PassHash", n_SHA256_PassHash},
};

const VmNativeEntry kWhirlpoolNatives[] = {
    {"WP_Hash", n_WP_Hash},
    {nullptr, nullptr},
};

}  // namespace

bool Sha256PassHash(std::string_view password, std::string_view salt, char* out) {
    return Digest(EVP_sha256(), {password, salt}, out);
}

bool WhirlpoolHash(std::string_view bytes, char* out) { return Digest(WhirlpoolMd(), {bytes}, out); }

ScriptNativeRows HashNatives() { return kHashNatives; }

int RegisterWhirlpoolNatives(VmInstance* inst) { return vm_Register(inst, kWhirlpoolNatives, -1); }

int WhirlpoolNativesCleanup(VmInstance*) { return 0; }

}  // namespace velt
