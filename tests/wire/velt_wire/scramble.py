"""Client-side datagram scrambling (the server sends plain and only descrambles).

The substitution table and the key constant are deployment data: they are read from the C++
header the server is built with, so the two can never disagree. The steps are written here
from the wire rules: checksum over the plain bytes, then per byte the substitution and, at odd
payload positions, the low byte of the port-derived key.
"""

import re

from .bitstream import WireError


def load_table(header_path):
    """(descramble table, key constant) from the header; the table maps scrambled -> plain."""
    with open(header_path, encoding="ascii") as f:
        text = f.read()
    body = re.search(r"kDescrambleTable\s*=\s*\{(.*?)\};", text, re.S)
    const = re.search(r"kScrambleKeyConstant\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;", text)
    if not body or not const:
        raise WireError("no table or key constant in " + header_path)
    table = [int(v, 16) for v in re.findall(r"0x[0-9A-Fa-f]{1,2}", body.group(1))]
    if sorted(table) != list(range(256)):
        raise WireError("the table in %s is not a permutation of 0..255" % header_path)
    return table, int(const.group(1), 0)


def checksum(plain):
    c = 0
    for b in plain:
        c ^= b & 0xAA
    return c


class Scrambler:
    def __init__(self, descramble_table, key_constant, server_port):
        if sorted(descramble_table) != list(range(256)):
            raise ValueError("the table must be a permutation of 0..255")
        self.descramble_table = list(descramble_table)
        self.scramble_table = [0] * 256
        for scrambled, plain in enumerate(self.descramble_table):
            self.scramble_table[plain] = scrambled
        self.key_low = (server_port ^ key_constant) & 0xFF

    @classmethod
    def from_header(cls, header_path, server_port):
        table, constant = load_table(header_path)
        return cls(table, constant, server_port)

    def encode(self, plain):
        out = bytearray([checksum(plain)])
        for i, b in enumerate(plain):
            s = self.scramble_table[b]
            out.append(s ^ self.key_low if i & 1 else s)
        return bytes(out)

    def decode(self, wire):
        """(plain bytes, checksum good): what the server's descrambler makes of `wire`."""
        if not wire:
            return b"", False
        plain = bytes(self.descramble_table[(b ^ self.key_low) if i & 1 else b]
                      for i, b in enumerate(wire[1:]))
        return plain, checksum(plain) == wire[0]
