// Test helper for crypto_check.py: reads one command a line on stdin and prints one result line.
// Numbers are hexadecimal, most significant digit first (as Python prints them); W is a width in
// 32-bit words (4, 8, 16 or 32).
//
//   sha1 PATH                 digest hex, or "fail"
//   add|sub W A B             result and carry/borrow
//   inc|dec W A               result and carry/borrow
//   shl|shr W A BITS          result
//   mul W A B                 product (2W words)
//   div W A D                 quotient and remainder
//   modmul W A B M | modexp W A E M | inv W A M      result, or "none"
//   isprime W N               1 or 0
//   prime W                   a generated prime
//   rsa W M                   a new key with W-word primes, M enciphered and deciphered:
//                             e n p q dP dQ qInv c m
//   frame KEY PAYLOAD         the enciphered datagram (bytes as hex, in memory order)

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "net/BigNumber.h"
#include "net/Rsa.h"
#include "net/Sha1.h"
#include "net/TEABlockEncryptor.h"

namespace {

using namespace velt;

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Hex(const uint8_t* data, size_t length) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < length; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

template <size_t W>
BigNumber<W> Parse(const std::string& hex) {
    BigNumber<W> n;
    size_t bit = 0;
    for (size_t i = hex.size(); i-- > 0 && bit < W * 32; bit += 4) {
        const uint32_t digit = uint32_t(std::stoul(hex.substr(i, 1), nullptr, 16));
        n.word[bit / 32] |= digit << (bit % 32);
    }
    return n;
}

template <size_t W>
std::string Print(const BigNumber<W>& n) {
    std::ostringstream s;
    s << std::hex;
    bool any = false;
    for (size_t i = W; i-- > 0;) {
        if (!any && n.word[i] == 0) continue;
        if (any) {
            s.width(8);
            s.fill('0');
        }
        s << n.word[i];
        any = true;
    }
    return any ? s.str() : "0";
}

template <size_t W>
std::string Run(const std::string& op, std::istringstream& in) {
    std::string a, b, c;
    in >> a >> b >> c;
    BigNumber<W> x = Parse<W>(a), y = Parse<W>(b), r;
    if (op == "add") {
        const uint32_t carry = AddInPlace(x, y);
        return Print(x) + " " + std::to_string(carry);
    }
    if (op == "sub") {
        const uint32_t borrow = SubtractInPlace(x, y);
        return Print(x) + " " + std::to_string(borrow);
    }
    if (op == "inc" || op == "dec") {
        const uint32_t carry = op == "inc" ? Increment(x) : Decrement(x);
        return Print(x) + " " + std::to_string(carry);
    }
    if (op == "shl" || op == "shr") {
        const size_t bits = std::stoul(b);
        if (op == "shl")
            ShiftLeft(x, bits);
        else
            ShiftRight(x, bits);
        return Print(x);
    }
    if (op == "mul") return Print(Multiply(x, y));
    if (op == "div") {
        BigNumber<W> q;
        return Divide(x, y, q, r) ? Print(q) + " " + Print(r) : "none";
    }
    if (op == "modmul") return ModMultiply(x, y, Parse<W>(c), r) ? Print(r) : "none";
    if (op == "modexp") return ModExp(x, y, Parse<W>(c), r) ? Print(r) : "none";
    if (op == "inv") return ModInverse(x, y, r) ? Print(r) : "none";
    if (op == "isprime") return IsProbablePrime(x) ? "1" : "0";
    if (op == "prime") return Print(GeneratePrime<W>());
    if (op == "rsa") {
        if constexpr (W <= 16) {
            const RsaKey<W> key = RsaGenerateKey<W>();
            const BigNumber<2 * W> m = Parse<2 * W>(a);
            BigNumber<2 * W> ciphered, back;
            if (!RsaPublic(m, key.e, key.n, ciphered) || !RsaPrivate(ciphered, key, back)) return "none";
            return std::to_string(key.e) + " " + Print(key.n) + " " + Print(key.p) + " " + Print(key.q) +
                   " " + Print(key.dP) + " " + Print(key.dQ) + " " + Print(key.qInv) + " " + Print(ciphered) +
                   " " + Print(back);
        }
    }
    return "?";
}

std::string Dispatch(const std::string& line) {
    std::istringstream in(line);
    std::string op;
    in >> op;
    if (op == "sha1") {
        std::string path;
        std::getline(in >> std::ws, path);
        CSHA1 sha;
        if (!sha.HashFile(path.c_str())) return "fail";
        sha.Final();
        return Hex(sha.DigestBytes(), CSHA1::kDigestBytes);
    }
    if (op == "frame") {
        std::string keyHex, dataHex;
        in >> keyHex >> dataHex;
        const std::vector<uint8_t> key = Bytes(keyHex);
        std::vector<uint8_t> data = Bytes(dataHex);
        if (key.size() != 16 || data.empty()) return "?";
        TEABlockEncryptor cipher;
        cipher.SetKey(key.data());
        const size_t length = data.size();
        data.resize(length + DatagramCipher::kCipherGrowthBytes);
        uint32_t out = 0;
        cipher.Encrypt(data.data(), uint32_t(length), out);
        return Hex(data.data(), out);
    }
    std::string width;
    in >> width;
    switch (std::stoi(width)) {
        case 4: return Run<4>(op, in);
        case 8: return Run<8>(op, in);
        case 16: return Run<16>(op, in);
        case 32: return Run<32>(op, in);
        default: return "?";
    }
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        std::cout << Dispatch(line) << "\n" << std::flush;
    }
    return 0;
}
