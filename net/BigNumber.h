#pragma once
// Fixed-width unsigned integers as arrays of 32-bit words, least significant word first, and the
// modular arithmetic that the RSA keys of the secure connection and of plugin signatures are made
// of. Carry-level operations are done here on the words; multiplication, division, exponentiation,
// inverses and primality go through libcrypto's big numbers, converted at the edges.
//
// Byte form (keys on the wire and in files): the words in order, each little-endian, which is the
// number little-endian as a whole.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velt {

template <size_t Words>
struct BigNumber {
    static constexpr size_t kWords = Words;
    static constexpr size_t kBytes = Words * 4;
    static constexpr size_t kBits = Words * 32;
    uint32_t word[Words] = {};

    void SetWord(uint32_t value) {
        std::memset(word, 0, sizeof word);
        word[0] = value;
    }
    bool IsZero() const {
        for (uint32_t w : word)
            if (w != 0) return false;
        return true;
    }
    bool IsOdd() const { return (word[0] & 1u) != 0; }
    void ToBytes(uint8_t* out) const {
        for (size_t i = 0; i < Words; ++i)
            for (size_t b = 0; b < 4; ++b) out[i * 4 + b] = uint8_t(word[i] >> (8 * b));
    }
    static BigNumber FromBytes(const uint8_t* in) {
        BigNumber n;
        for (size_t i = 0; i < Words; ++i)
            n.word[i] = uint32_t(in[i * 4]) | uint32_t(in[i * 4 + 1]) << 8 | uint32_t(in[i * 4 + 2]) << 16 |
                        uint32_t(in[i * 4 + 3]) << 24;
        return n;
    }
    // Highest set bit plus one; 0 for zero.
    size_t BitLength() const {
        for (size_t i = Words; i-- > 0;)
            if (word[i] != 0) return i * 32 + 32 - size_t(__builtin_clz(word[i]));
        return 0;
    }
    friend bool operator==(const BigNumber& a, const BigNumber& b) {
        return std::memcmp(a.word, b.word, sizeof a.word) == 0;
    }
};

using Big128 = BigNumber<4>;
using Big256 = BigNumber<8>;
using Big512 = BigNumber<16>;
using Big1024 = BigNumber<32>;

// ---- carry-level operations on the words ----
template <size_t W>
bool GreaterThan(const BigNumber<W>& a, const BigNumber<W>& b) {
    for (size_t i = W; i-- > 0;)
        if (a.word[i] != b.word[i]) return a.word[i] > b.word[i];
    return false;
}
// a += b; returns the carry out of the top word.
template <size_t W>
uint32_t AddInPlace(BigNumber<W>& a, const BigNumber<W>& b, uint32_t carry = 0) {
    for (size_t i = 0; i < W; ++i) {
        const uint64_t s = uint64_t(a.word[i]) + b.word[i] + carry;
        a.word[i] = uint32_t(s);
        carry = uint32_t(s >> 32);
    }
    return carry;
}
// a -= b; returns the borrow out of the top word.
template <size_t W>
uint32_t SubtractInPlace(BigNumber<W>& a, const BigNumber<W>& b, uint32_t borrow = 0) {
    for (size_t i = 0; i < W; ++i) {
        const uint64_t d = uint64_t(a.word[i]) - b.word[i] - borrow;
        a.word[i] = uint32_t(d);
        borrow = uint32_t(d >> 32) & 1u;
    }
    return borrow;
}
template <size_t W>
uint32_t Increment(BigNumber<W>& a) {
    for (size_t i = 0; i < W; ++i)
        if (++a.word[i] != 0) return 0;
    return 1;
}
template <size_t W>
uint32_t Decrement(BigNumber<W>& a) {
    for (size_t i = 0; i < W; ++i)
        if (a.word[i]-- != 0) return 0;
    return 1;
}
// Shifts by any number of bits; bits shifted out are lost, zeros come in.
template <size_t W>
void ShiftLeft(BigNumber<W>& a, size_t bits) {
    BigNumber<W> r;
    const size_t words = bits / 32, rest = bits % 32;
    for (size_t i = W; i-- > words;) {
        uint64_t v = uint64_t(a.word[i - words]) << rest;
        if (rest != 0 && i - words >= 1) v |= a.word[i - words - 1] >> (32 - rest);
        r.word[i] = uint32_t(v);
    }
    a = r;
}
template <size_t W>
void ShiftRight(BigNumber<W>& a, size_t bits) {
    BigNumber<W> r;
    const size_t words = bits / 32, rest = bits % 32;
    for (size_t i = 0; i + words < W; ++i) {
        uint32_t v = a.word[i + words] >> rest;
        if (rest != 0 && i + words + 1 < W) v |= a.word[i + words + 1] << (32 - rest);
        r.word[i] = v;
    }
    a = r;
}

// ---- arithmetic through libcrypto (raw word arrays; each returns false when a result does not
// fit its width or the operation is undefined, e.g. a zero divisor or no inverse) ----
namespace bignum {
void Multiply(const uint32_t* a, const uint32_t* b, size_t words, uint32_t* product /* 2 x words */);
bool Divide(const uint32_t* a, size_t aWords, const uint32_t* d, size_t dWords, uint32_t* quotient,
            uint32_t* remainder /* dWords */);
bool ModMultiply(const uint32_t* a, const uint32_t* b, const uint32_t* m, size_t words, uint32_t* out);
bool ModExp(const uint32_t* base, size_t baseWords, const uint32_t* exponent, size_t exponentWords,
            const uint32_t* m, size_t words, uint32_t* out);
bool ModInverse(const uint32_t* a, const uint32_t* m, size_t words, uint32_t* out);
bool IsProbablePrime(const uint32_t* n, size_t words, int rounds);
// Fills words with a random prime whose top bit is set (so a product of two has its full width).
void GeneratePrime(uint32_t* out, size_t words);
}  // namespace bignum

template <size_t W>
BigNumber<2 * W> Multiply(const BigNumber<W>& a, const BigNumber<W>& b) {
    BigNumber<2 * W> r;
    bignum::Multiply(a.word, b.word, W, r.word);
    return r;
}
// a = q x d + r, with the quotient in a's width and the remainder in d's.
template <size_t A, size_t D>
bool Divide(const BigNumber<A>& a, const BigNumber<D>& d, BigNumber<A>& q, BigNumber<D>& r) {
    return bignum::Divide(a.word, A, d.word, D, q.word, r.word);
}
template <size_t A, size_t D>
bool Mod(const BigNumber<A>& a, const BigNumber<D>& m, BigNumber<D>& r) {
    return bignum::Divide(a.word, A, m.word, D, nullptr, r.word);
}
template <size_t W>
bool ModMultiply(const BigNumber<W>& a, const BigNumber<W>& b, const BigNumber<W>& m, BigNumber<W>& r) {
    return bignum::ModMultiply(a.word, b.word, m.word, W, r.word);
}
template <size_t W, size_t E>
bool ModExp(const BigNumber<W>& base, const BigNumber<E>& exponent, const BigNumber<W>& m, BigNumber<W>& r) {
    return bignum::ModExp(base.word, W, exponent.word, E, m.word, W, r.word);
}
template <size_t W>
bool ModInverse(const BigNumber<W>& a, const BigNumber<W>& m, BigNumber<W>& r) {
    return bignum::ModInverse(a.word, m.word, W, r.word);
}
// Trial division by the odd primes 3..727 (so those primes themselves fail), then Miller-Rabin.
template <size_t W>
bool IsProbablePrime(const BigNumber<W>& n, int rounds = 5) {
    return bignum::IsProbablePrime(n.word, W, rounds);
}
template <size_t W>
BigNumber<W> GeneratePrime() {
    BigNumber<W> p;
    bignum::GeneratePrime(p.word, W);
    return p;
}

}  // namespace velt
