#!/usr/bin/env python3
"""Plugin signatures made with the openssl tool, checked by the server's verifier.

Usage: plugin_signature_check.py <plugin_signature_tool>

openssl makes a 1024-bit key pair (exponent 65537, and another with exponent 3) and a raw
signature (the private operation without padding) of the block the verifier expects: the plugin's SHA-1 digest followed by zeros, read as
one little-endian number. The key file and the hexadecimal signature file are written here from
their layouts. A valid signature verifies; a one-byte change of the plugin, a truncated plugin, a
truncated signature file and a forged signature for the exponent-3 key (a number whose cube merely
ends in the digest) fail.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    print(("ok  " if ok else "FAIL") + " " + what)
    if not ok:
        failures.append(what)


def openssl(*args, **kw):
    return subprocess.run(["openssl"] + list(args), check=True, capture_output=True, **kw)


def make_key(d, name, exponent):
    pem = os.path.join(d, name + ".pem")
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
            "-pkeyopt", "rsa_keygen_pubexp:%d" % exponent, "-out", pem)
    text = openssl("pkey", "-in", pem, "-text", "-noout", text=True).stdout

    def field(label):
        m = re.search(label + r":\n((?:\s+[0-9a-f:]+\n)+)", text)
        return int(re.sub(r"[\s:]", "", m.group(1)), 16)

    n, p, q = field("modulus"), field("prime1"), field("prime2")
    e = int(re.search(r"publicExponent: (\d+)", text).group(1))
    assert n == p * q and e == exponent
    key_file = os.path.join(d, name + ".key")
    with open(key_file, "wb") as f:
        f.write((128).to_bytes(4, "little") + e.to_bytes(4, "little") + n.to_bytes(128, "little") +
                p.to_bytes(64, "little") + q.to_bytes(64, "little"))
    return pem, key_file, n, e


def write_signature(path, value):
    with open(path, "w") as f:
        f.write(value.to_bytes(128, "little").hex().upper() + "\n")


def verify(tool, key_file, plugin):
    return subprocess.run([tool, key_file, plugin], check=True, capture_output=True, text=True).stdout.strip()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as d:
        plugin = os.path.join(d, "plugin.so")
        sig = os.path.join(d, "plugin.sig")
        content = bytes(range(256)) * 40
        with open(plugin, "wb") as f:
            f.write(content)
        digest = hashlib.sha1(content).digest()
        block = int.from_bytes(digest + bytes(108), "little")

        pem, key_file, n, e = make_key(d, "main", 65537)
        raw = os.path.join(d, "block.bin")
        with open(raw, "wb") as f:
            f.write(block.to_bytes(128, "big"))
        signed = openssl("pkeyutl", "-decrypt", "-inkey", pem, "-pkeyopt", "rsa_padding_mode:none", "-in", raw).stdout
        write_signature(sig, int.from_bytes(signed, "big"))
        check(verify(tool, key_file, plugin) == "1", "an openssl signature verifies")

        changed = bytearray(content)
        changed[1000] ^= 1
        with open(plugin, "wb") as f:
            f.write(changed)
        check(verify(tool, key_file, plugin) == "0", "a one-byte change of the plugin fails")
        with open(plugin, "wb") as f:
            f.write(content[:-1])
        check(verify(tool, key_file, plugin) == "0", "a truncated plugin fails")
        with open(plugin, "wb") as f:
            f.write(content)
        with open(sig) as f:
            text = f.read()
        with open(sig, "w") as f:
            f.write(text[:200] + "\n")
        check(verify(tool, key_file, plugin) == "0", "a truncated signature fails")

        # Exponent 3: s with s^3 = digest (mod 2^160) exists for an odd digest, and s^3 < n, so
        # s^3 mod n ends in the digest. Only the whole-block comparison tells it from a signature.
        _, key3, n3, _ = make_key(d, "three", 3)
        salt = 0
        while True:
            forged_content = content + salt.to_bytes(4, "little")
            low = int.from_bytes(hashlib.sha1(forged_content).digest(), "little")
            if low & 1:
                break
            salt += 1
        with open(plugin, "wb") as f:
            f.write(forged_content)
        s = pow(low, pow(3, -1, 1 << 159), 1 << 160)
        assert pow(s, 3, 1 << 160) == low and s ** 3 < n3
        assert (s ** 3 % n3).to_bytes(128, "little")[:20] == hashlib.sha1(forged_content).digest()
        write_signature(sig, s)
        check(verify(tool, key3, plugin) == "0", "a forged low-exponent signature fails")
        # And the same key does verify an honest signature.
        pem3 = os.path.join(d, "three.pem")
        block3 = int.from_bytes(hashlib.sha1(forged_content).digest() + bytes(108), "little")
        with open(raw, "wb") as f:
            f.write(block3.to_bytes(128, "big"))
        signed = openssl("pkeyutl", "-decrypt", "-inkey", pem3, "-pkeyopt", "rsa_padding_mode:none", "-in", raw).stdout
        write_signature(sig, int.from_bytes(signed, "big"))
        check(verify(tool, key3, plugin) == "1", "an honest exponent-3 signature verifies")
    if failures:
        sys.exit("%d checks failed" % len(failures))
    print("PASS")


if __name__ == "__main__":
    main()
