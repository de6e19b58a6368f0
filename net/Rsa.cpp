#include "net/Rsa.h"

#include <openssl/bn.h>

#include <algorithm>
#include <vector>

namespace velt::rsa {

bool MakeFromPrimes(uint32_t e, const uint32_t* p, const uint32_t* q, size_t primeWords, uint32_t* n,
                    uint32_t* dP, uint32_t* dQ, uint32_t* qInv) {
    std::vector<uint32_t> pm1(p, p + primeWords), qm1(q, q + primeWords);
    if ((p[0] & 1u) == 0 || (q[0] & 1u) == 0 || e < 3 || (e & 1u) == 0) return false;
    if (std::equal(pm1.begin(), pm1.end(), q)) return false;
    // p - 1 and q - 1 (odd primes: the lowest bit is set, so no borrow).
    pm1[0] &= ~1u;
    qm1[0] &= ~1u;
    std::vector<uint32_t> eWide(primeWords, 0), d(primeWords);
    eWide[0] = e;
    bignum::Multiply(p, q, primeWords, n);
    // d mod (p - 1) is e's inverse modulo p - 1, and likewise for q: no need for d itself.
    if (!bignum::ModInverse(eWide.data(), pm1.data(), primeWords, dP)) return false;
    if (!bignum::ModInverse(eWide.data(), qm1.data(), primeWords, dQ)) return false;
    return bignum::ModInverse(q, p, primeWords, qInv);
}

}  // namespace velt::rsa
