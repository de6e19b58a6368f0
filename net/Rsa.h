#pragma once
// Raw RSA over the fixed-width numbers: the public operation m^e mod n and the private one by the
// Chinese remainder theorem. P is the width of each prime in words; the modulus has twice that.
// The secure connection uses 128-bit primes, plugin signatures 512-bit ones.

#include <cstdint>

#include "net/BigNumber.h"

namespace velt {

inline constexpr uint32_t kRsaDefaultExponent = 65537;

template <size_t P>
struct RsaKey {
    uint32_t e = 0;
    BigNumber<2 * P> n;
    // The private half; all zero in a public key.
    BigNumber<P> p, q, dP, dQ, qInv;
};

namespace rsa {
bool MakeFromPrimes(uint32_t e, const uint32_t* p, const uint32_t* q, size_t primeWords, uint32_t* n,
                    uint32_t* dP, uint32_t* dQ, uint32_t* qInv);
}  // namespace rsa

// The private values for primes p and q with exponent e. False when p or q is not a usable prime
// pair for e (equal, even, or e not invertible modulo p - 1 or q - 1).
template <size_t P>
bool RsaMakeKey(uint32_t e, const BigNumber<P>& p, const BigNumber<P>& q, RsaKey<P>& key) {
    RsaKey<P> k;
    k.e = e;
    k.p = p;
    k.q = q;
    if (!rsa::MakeFromPrimes(e, p.word, q.word, P, k.n.word, k.dP.word, k.dQ.word, k.qInv.word)) return false;
    key = k;
    return true;
}

// A new key pair from two random primes with the top bit set, exponent 65537.
template <size_t P>
RsaKey<P> RsaGenerateKey() {
    RsaKey<P> key;
    for (;;) {
        const BigNumber<P> p = GeneratePrime<P>(), q = GeneratePrime<P>();
        if (RsaMakeKey(kRsaDefaultExponent, p, q, key)) return key;
    }
}

// A public key usable to encipher messages below 2^minMessageBits: odd modulus above that bound,
// odd exponent of at least 3.
template <size_t W>
bool RsaPublicKeyUsable(uint32_t e, const BigNumber<W>& n, size_t minMessageBits) {
    return e >= 3 && (e & 1u) != 0 && n.IsOdd() && n.BitLength() > minMessageBits;
}

// c = m^e mod n. False when m is not below n or n is zero.
template <size_t W>
bool RsaPublic(const BigNumber<W>& m, uint32_t e, const BigNumber<W>& n, BigNumber<W>& c) {
    if (n.IsZero() || !GreaterThan(n, m)) return false;
    BigNumber<1> exponent;
    exponent.word[0] = e;
    return ModExp(m, exponent, n, c);
}

// m = c^d mod n by Garner's recombination: m1 = c^dP mod p, m2 = c^dQ mod q,
// h = qInv (m1 - m2) mod p, m = m2 + h q. False when c is not below n.
template <size_t P>
bool RsaPrivate(const BigNumber<2 * P>& c, const RsaKey<P>& key, BigNumber<2 * P>& m) {
    if (key.n.IsZero() || !GreaterThan(key.n, c)) return false;
    BigNumber<P> cp, cq, m1, m2, h;
    if (!Mod(c, key.p, cp) || !Mod(c, key.q, cq)) return false;
    if (!ModExp(cp, key.dP, key.p, m1) || !ModExp(cq, key.dQ, key.q, m2)) return false;
    // m1 - m2 mod p, with m2 reduced modulo p first (q may exceed p).
    BigNumber<P> m2p;
    if (!Mod(m2, key.p, m2p)) return false;
    BigNumber<P> diff = m1;
    if (SubtractInPlace(diff, m2p) != 0) AddInPlace(diff, key.p);
    if (!ModMultiply(key.qInv, diff, key.p, h)) return false;
    BigNumber<2 *P> hq = Multiply(h, key.q), m2wide;
    for (size_t i = 0; i < P; ++i) m2wide.word[i] = m2.word[i];
    if (AddInPlace(hq, m2wide) != 0) return false;
    m = hq;
    return true;
}

}  // namespace velt
