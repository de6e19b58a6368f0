#include "net/BigNumber.h"

#include <openssl/bn.h>

#include <memory>
#include <vector>

#include "common/LittleEndian.h"
#include "net/SecureRandom.h"

namespace velt::bignum {

namespace {

struct BnFree {
    void operator()(BIGNUM* n) const { BN_clear_free(n); }
};
struct CtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Ctx = std::unique_ptr<BN_CTX, CtxFree>;

// Words are least significant first, each little-endian: the whole is one little-endian number.
Bn FromWords(const uint32_t* words, size_t count) {
    std::vector<uint8_t> bytes(count * 4);
    for (size_t i = 0; i < count; ++i) WriteU32(&bytes[i * 4], words[i]);
    Bn n(BN_lebin2bn(bytes.data(), int(bytes.size()), nullptr));
    if (!n) std::abort();
    return n;
}

bool ToWords(const BIGNUM* n, uint32_t* words, size_t count) {
    if (size_t(BN_num_bytes(n)) > count * 4) return false;
    std::vector<uint8_t> bytes(count * 4);
    if (BN_bn2lebinpad(n, bytes.data(), int(bytes.size())) < 0) return false;
    for (size_t i = 0; i < count; ++i) words[i] = ReadU32(&bytes[i * 4]);
    return true;
}

Ctx NewCtx() {
    Ctx ctx(BN_CTX_new());
    if (!ctx) std::abort();
    return ctx;
}

Bn NewBn() {
    Bn n(BN_new());
    if (!n) std::abort();
    return n;
}

// The 128 odd primes from 3 to 727.
constexpr uint16_t kSmallPrimes[128] = {
    3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,  61,  67,  71,
    73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139, 149, 151, 157, 163, 167,
    173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229, 233, 239, 241, 251, 257, 263, 269, 271,
    277, 281, 283, 293, 307, 311, 313, 317, 331, 337, 347, 349, 353, 359, 367, 373, 379, 383, 389,
    397, 401, 409, 419, 421, 431, 433, 439, 443, 449, 457, 461, 463, 467, 479, 487, 491, 499, 503,
    509, 521, 523, 541, 547, 557, 563, 569, 571, 577, 587, 593, 599, 601, 607, 613, 617, 619, 631,
    641, 643, 647, 653, 659, 661, 673, 677, 683, 691, 701, 709, 719, 727};

}  // namespace

void Multiply(const uint32_t* a, const uint32_t* b, size_t words, uint32_t* product) {
    Ctx ctx = NewCtx();
    Bn x = FromWords(a, words), y = FromWords(b, words), r = NewBn();
    if (BN_mul(r.get(), x.get(), y.get(), ctx.get()) != 1 || !ToWords(r.get(), product, 2 * words))
        std::abort();
}

bool Divide(const uint32_t* a, size_t aWords, const uint32_t* d, size_t dWords, uint32_t* quotient,
            uint32_t* remainder) {
    Ctx ctx = NewCtx();
    Bn x = FromWords(a, aWords), y = FromWords(d, dWords), q = NewBn(), r = NewBn();
    if (BN_is_zero(y.get())) return false;
    if (BN_div(q.get(), r.get(), x.get(), y.get(), ctx.get()) != 1) return false;
    if (quotient != nullptr && !ToWords(q.get(), quotient, aWords)) return false;
    return ToWords(r.get(), remainder, dWords);
}

bool ModMultiply(const uint32_t* a, const uint32_t* b, const uint32_t* m, size_t words, uint32_t* out) {
    Ctx ctx = NewCtx();
    Bn x = FromWords(a, words), y = FromWords(b, words), n = FromWords(m, words), r = NewBn();
    if (BN_is_zero(n.get())) return false;
    return BN_mod_mul(r.get(), x.get(), y.get(), n.get(), ctx.get()) == 1 && ToWords(r.get(), out, words);
}

bool ModExp(const uint32_t* base, size_t baseWords, const uint32_t* exponent, size_t exponentWords,
            const uint32_t* m, size_t words, uint32_t* out) {
    Ctx ctx = NewCtx();
    Bn x = FromWords(base, baseWords), e = FromWords(exponent, exponentWords), n = FromWords(m, words),
       r = NewBn();
    if (BN_is_zero(n.get())) return false;
    // Exponents here are private more often than not: the constant-time ladder for odd moduli.
    if (BN_is_odd(n.get())) BN_set_flags(e.get(), BN_FLG_CONSTTIME);
    return BN_mod_exp(r.get(), x.get(), e.get(), n.get(), ctx.get()) == 1 && ToWords(r.get(), out, words);
}

bool ModInverse(const uint32_t* a, const uint32_t* m, size_t words, uint32_t* out) {
    Ctx ctx = NewCtx();
    Bn x = FromWords(a, words), n = FromWords(m, words), r = NewBn();
    if (BN_is_zero(n.get())) return false;
    if (BN_mod_inverse(r.get(), x.get(), n.get(), ctx.get()) == nullptr) return false;
    return ToWords(r.get(), out, words);
}

bool IsProbablePrime(const uint32_t* n, size_t words, int rounds) {
    (void)rounds;  // libcrypto picks the number of rounds for the size, never fewer than asked of it here
    Bn x = FromWords(n, words);
    for (uint16_t p : kSmallPrimes)
        if (BN_mod_word(x.get(), p) == 0) return false;
    Ctx ctx = NewCtx();
    return BN_check_prime(x.get(), ctx.get(), nullptr) == 1;
}

void GeneratePrime(uint32_t* out, size_t words) {
    std::vector<uint8_t> bytes(words * 4);
    for (;;) {
        SecureRandomBytes(bytes.data(), bytes.size());
        for (size_t i = 0; i < words; ++i) out[i] = ReadU32(&bytes[i * 4]);
        out[words - 1] |= 0x80000000u;
        out[0] |= 1u;
        if (IsProbablePrime(out, words, 5)) return;
    }
}

}  // namespace velt::bignum
