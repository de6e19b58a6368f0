#include "net/Sha1.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velt {

CSHA1::CSHA1() : ctx_(EVP_MD_CTX_new()) {
    if (ctx_ == nullptr) std::abort();
    Reset();
}

CSHA1::~CSHA1() { EVP_MD_CTX_free(ctx_); }

void CSHA1::Reset() { open_ = EVP_DigestInit_ex(ctx_, EVP_sha1(), nullptr) == 1; }

void CSHA1::Update(const uint8_t* data, size_t length) {
    if (!open_ || length == 0 || data == nullptr) return;
    if (EVP_DigestUpdate(ctx_, data, length) != 1) open_ = false;
}

void CSHA1::Final() {
    unsigned int size = 0;
    if (!open_ || EVP_DigestFinal_ex(ctx_, digest_, &size) != 1 || size != kDigestBytes)
        std::memset(digest_, 0, sizeof digest_);
    open_ = false;
}

bool CSHA1::HashFile(const char* path) {
    if (path == nullptr) return false;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t chunk[kFileChunkBytes];
    bool ok = true;
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file);
        Update(chunk, got);
        if (got < sizeof chunk) {
            ok = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    return ok;
}

void CSHA1::GetHash(uint8_t out[kDigestBytes]) const { std::memcpy(out, digest_, kDigestBytes); }

void CSHA1::Digest(const uint8_t* data, size_t length, uint8_t out[kDigestBytes]) {
    CSHA1 sha;
    sha.Update(data, length);
    sha.Final();
    sha.GetHash(out);
}

}  // namespace velt
