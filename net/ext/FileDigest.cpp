#include "net/ext/FileDigest.h"

#include <openssl/evp.h>

namespace velt {

FileDigest DigestOf(const uint8_t* data, size_t length) {
    static const uint8_t kNothing = 0;
    FileDigest digest{};
    unsigned int size = 0;
    EVP_Digest(data != nullptr ? data : &kNothing, data != nullptr ? length : 0, digest.data(), &size,
               EVP_sha1(), nullptr);
    return digest;
}

}  // namespace velt
