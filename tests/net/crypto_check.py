#!/usr/bin/env python3
"""The secure connection's cryptography against independent references.

Usage: crypto_check.py <crypto_tool>

- SHA-1 of files (empty, 1, 64, 8000, 8001 bytes, 1 MiB) equals `sha1sum`, and a missing file fails.
- Big-number operations at every width equal Python's integers (pow() for the modular ones).
- Generated primes pass `openssl prime`; generated RSA keys are consistent and round-trip.
- Enciphered datagrams decipher with a block cipher and frame check written here from their
  description.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


class Tool:
    def __init__(self, path):
        self.p = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)

    def ask(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        return self.p.stdout.readline().strip()

    def close(self):
        self.p.stdin.close()
        self.p.wait(timeout=30)


def sha1_files(tool):
    rng = random.Random(1)
    with tempfile.TemporaryDirectory() as d:
        for size in (0, 1, 64, 8000, 8001, 1 << 20):
            path = os.path.join(d, "f%d" % size)
            with open(path, "wb") as f:
                f.write(bytes(rng.getrandbits(8) for _ in range(size)))
            want = subprocess.run(["sha1sum", path], check=True, capture_output=True, text=True).stdout.split()[0]
            check(tool.ask("sha1 " + path) == want, "sha1 of %d bytes" % size)
        check(tool.ask("sha1 " + os.path.join(d, "missing")) == "fail", "sha1 of a missing file fails")


def bignum(tool):
    rng = random.Random(2)
    for w in (4, 8, 16, 32):
        bits = 32 * w
        mask = (1 << bits) - 1

        def r(b=bits):
            # Mix full-width values with short ones and edge values.
            k = rng.choice([b, b, b - 1, b // 2, 32, 1])
            return rng.choice([rng.getrandbits(k), mask, 0, 1]) if rng.random() < 0.1 else rng.getrandbits(k)

        for _ in range(40):
            a, b = r(), r()
            check(tool.ask("add %d %x %x" % (w, a, b)) == "%x %d" % ((a + b) & mask, (a + b) >> bits), "add %d" % w)
            check(tool.ask("sub %d %x %x" % (w, a, b)) == "%x %d" % ((a - b) & mask, 1 if a < b else 0), "sub %d" % w)
            check(tool.ask("inc %d %x" % (w, a)) == "%x %d" % ((a + 1) & mask, 1 if a == mask else 0), "inc %d" % w)
            check(tool.ask("dec %d %x" % (w, a)) == "%x %d" % ((a - 1) & mask, 1 if a == 0 else 0), "dec %d" % w)
            s = rng.choice([0, 1, 31, 32, 33, bits - 1, rng.randrange(bits)])
            check(tool.ask("shl %d %x %d" % (w, a, s)) == "%x" % ((a << s) & mask), "shl %d by %d" % (w, s))
            check(tool.ask("shr %d %x %d" % (w, a, s)) == "%x" % (a >> s), "shr %d by %d" % (w, s))
            check(tool.ask("mul %d %x %x" % (w, a, b)) == "%x" % (a * b), "mul %d" % w)
            if b:
                check(tool.ask("div %d %x %x" % (w, a, b)) == "%x %x" % (a // b, a % b), "div %d" % w)
            else:
                check(tool.ask("div %d %x %x" % (w, a, b)) == "none", "div %d by zero" % w)
            m = r() | 1
            if m > 1:
                check(tool.ask("modmul %d %x %x %x" % (w, a, b, m)) == "%x" % (a * b % m), "modmul %d" % w)
                check(tool.ask("modexp %d %x %x %x" % (w, a, b, m)) == "%x" % pow(a, b, m), "modexp %d" % w)
                try:
                    want = "%x" % pow(a, -1, m)
                except ValueError:
                    want = "none"
                check(tool.ask("inv %d %x %x" % (w, a, m)) == want, "inv %d" % w)


def primes(tool):
    openssl = shutil.which("openssl")
    check(tool.ask("isprime 4 2d7") == "0", "727 itself fails the small-prime sieve")
    check(tool.ask("isprime 4 %x" % (3 * 1000003)) == "0", "a multiple of a table prime fails")
    check(tool.ask("isprime 4 %x" % ((1 << 127) - 1)) == "1", "2^127 - 1 passes")
    check(tool.ask("isprime 4 %x" % (((1 << 61) - 1) * ((1 << 67) - 1 + 0))) == "0", "a composite fails")
    for w in (4, 16):
        for _ in range(3):
            p = int(tool.ask("prime %d" % w), 16)
            check(p.bit_length() == 32 * w, "a %d-word prime has its top bit" % w)
            out = subprocess.run([openssl, "prime", str(p)], check=True, capture_output=True, text=True).stdout
            check(out.strip().endswith("is prime"), "openssl prime %x: %s" % (p, out.strip()))


def rsa(tool):
    rng = random.Random(3)
    for w in (4, 16):
        for _ in range(3):
            m = rng.getrandbits(2 * 32 * w - 2)
            e, n, p, q, dp, dq, qinv, c, back = tool.ask("rsa %d %x" % (w, m)).split()
            e, n, p, q, dp, dq, qinv, c, back = [int(e)] + [int(x, 16) for x in (n, p, q, dp, dq, qinv, c, back)]
            check(n == p * q, "n = p q")
            d = pow(e, -1, (p - 1) * (q - 1))
            check(dp == d % (p - 1) and dq == d % (q - 1) and qinv == pow(q, -1, p), "private values")
            check(c == pow(m, e, n), "public operation equals pow()")
            check(back == m, "private operation recovers the message")


def xtea_decipher(block, key):
    delta, mask = 0x9E3779B9, 0xFFFFFFFF
    l = int.from_bytes(block[:4], "little")
    r = int.from_bytes(block[4:], "little")
    s = (delta * 32) & mask
    for _ in range(32):
        r = (r - ((((l << 4) ^ (l >> 5)) + l) ^ (s + key[(s >> 11) & 3]))) & mask
        s = (s - delta) & mask
        l = (l - ((((r << 4) ^ (r >> 5)) + r) ^ (s + key[s & 3]))) & mask
    return l.to_bytes(4, "little") + r.to_bytes(4, "little")


def check_byte(data):
    r, c1, c2, total = 55665, 52845, 22719, 0
    for b in data:
        cipher = (b ^ (r >> 8)) & 0xFF
        total = (total + cipher) & 0xFFFFFFFF
        r = ((cipher + r) * c1 + c2) & 0xFFFF
    return (total ^ (total << 4)) & 0xFF


def frames(tool):
    rng = random.Random(4)
    for length in list(range(1, 20)) + [100, 575]:
        key_bytes = bytes(rng.getrandbits(8) for _ in range(16))
        key = [int.from_bytes(key_bytes[i:i + 4], "little") for i in range(0, 16, 4)]
        payload = bytes(rng.getrandbits(8) for _ in range(length))
        out = bytes.fromhex(tool.ask("frame %s %s" % (key_bytes.hex(), payload.hex())))
        pad = (8 - (length + 2) % 8) % 8
        check(len(out) == length + 2 + pad, "frame length for %d bytes" % length)
        plain = b"".join(xtea_decipher(out[i:i + 8], key) for i in range(0, len(out), 8))
        check(plain[1] & 15 == pad, "pad count for %d bytes" % length)
        check(plain[0] == check_byte(plain[1:]), "check byte for %d bytes" % length)
        check(plain[2 + pad:] == payload, "payload for %d bytes" % length)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    tool = Tool(sys.argv[1])
    try:
        sha1_files(tool)
        bignum(tool)
        primes(tool)
        rsa(tool)
        frames(tool)
    finally:
        tool.close()
    if failures:
        sys.exit("%d checks failed" % len(failures))
    print("PASS")


if __name__ == "__main__":
    main()
