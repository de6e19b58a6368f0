#pragma once
// SHA-1 hasher with the reset / update / final cycle the handshake cookie and the plugin signature
// check are written against. The compression itself is libcrypto's.

#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

namespace velt {

class CSHA1 {
public:
    static constexpr size_t kDigestBytes = 20;
    // Files are read in pieces of this many bytes.
    static constexpr size_t kFileChunkBytes = 8000;

    CSHA1();
    ~CSHA1();
    CSHA1(const CSHA1&) = delete;
    CSHA1& operator=(const CSHA1&) = delete;

    void Reset();
    // Ignored after Final until the next Reset: a finished hash is not extended by accident.
    void Update(const uint8_t* data, size_t length);
    // Makes the digest readable; the hasher then needs Reset before the next hash.
    void Final();
    // Updates over the whole file; false when it cannot be opened or read.
    bool HashFile(const char* path);
    const uint8_t* DigestBytes() const { return digest_; }
    void GetHash(uint8_t out[kDigestBytes]) const;

    // Reset, Update over data, Final, copy.
    static void Digest(const uint8_t* data, size_t length, uint8_t out[kDigestBytes]);

private:
    evp_md_ctx_st* ctx_;
    bool open_ = false;
    uint8_t digest_[kDigestBytes] = {};
};

}  // namespace velt
