#!/usr/bin/env python3
"""Independent check of the text compressor's wire form.

Builds the fixed code from the character-frequency table with its own tree builder, then
compares it with what the C++ side reports: the code of every byte value, the bit strings
of a set of compressed texts, and the texts it decodes from streams built here.

Usage: huffman_oracle.py <path to huffman_dump_tool>
"""
import subprocess
import sys

FREQUENCIES = {
    10: 722, 13: 2, 32: 11084, 33: 58, 34: 63, 35: 1, 37: 31, 39: 317, 40: 64, 41: 64,
    42: 44, 44: 695, 45: 62, 46: 980, 47: 266, 48: 69, 49: 67, 50: 56, 51: 7, 52: 73,
    53: 3, 54: 14, 55: 2, 56: 69, 57: 1, 58: 167, 59: 9, 60: 1, 61: 2, 62: 25, 63: 94,
    65: 195, 66: 139, 67: 34, 68: 96, 69: 48, 70: 103, 71: 56, 72: 125, 73: 653, 74: 21,
    75: 5, 76: 23, 77: 64, 78: 85, 79: 44, 80: 34, 81: 7, 82: 92, 83: 76, 84: 147,
    85: 12, 86: 14, 87: 57, 88: 15, 89: 39, 90: 15, 91: 1, 92: 1, 93: 1, 94: 2, 95: 3,
    97: 3611, 98: 845, 99: 1077, 100: 1884, 101: 5870, 102: 841, 103: 1057, 104: 2501,
    105: 3212, 106: 164, 107: 531, 108: 2019, 109: 1330, 110: 3056, 111: 4037, 112: 848,
    113: 47, 114: 2586, 115: 2919, 116: 4771, 117: 1707, 118: 535, 119: 1106, 120: 152,
    121: 1243, 122: 100, 124: 2, 126: 10,
}


class Node:
    def __init__(self, weight, value=None, left=None, right=None):
        self.weight = weight
        self.value = value
        self.left = left
        self.right = right
        self.parent = None


def build_codes(freq):
    work = []

    def insert(node):
        # Before the first node of equal or greater weight: the newest of equal weights leads.
        for i, other in enumerate(work):
            if other.weight >= node.weight:
                work.insert(i, node)
                return
        work.append(node)

    leaves = []
    for v in range(256):
        leaf = Node(freq.get(v, 0) or 1, value=v)
        leaves.append(leaf)
        insert(leaf)
    while True:
        lesser = work.pop(0)
        greater = work.pop(0)
        parent = Node((lesser.weight + greater.weight) & 0xFFFFFFFF, left=lesser, right=greater)
        lesser.parent = parent
        greater.parent = parent
        if not work:
            root = parent
            break
        insert(parent)

    codes = []
    for leaf in leaves:
        bits = []
        node = leaf
        while node.parent is not None:
            bits.append('1' if node.parent.right is node else '0')
            node = node.parent
        codes.append(''.join(reversed(bits)))
    return root, codes


ROOT, CODES = build_codes(FREQUENCIES)


def compressed_u16(value):
    """Bits of the stream's compressed unsigned 16-bit form."""
    lo, hi = value & 0xFF, value >> 8
    if hi != 0:
        return '0' + format(lo, '08b') + format(hi, '08b')
    if lo >> 4 == 0:
        return '11' + format(lo, '04b')
    return '10' + format(lo, '08b')


def read_compressed_u16(bits, pos):
    """Inverse of compressed_u16; returns (value, new position) or None when short."""
    if pos >= len(bits):
        return None
    if bits[pos] == '0':
        if pos + 17 > len(bits):
            return None
        lo = int(bits[pos + 1:pos + 9], 2)
        hi = int(bits[pos + 9:pos + 17], 2)
        return lo | hi << 8, pos + 17
    pos += 1
    if pos >= len(bits):
        return None
    if bits[pos] == '1':
        if pos + 5 > len(bits):
            return None
        return int(bits[pos + 1:pos + 5], 2), pos + 5
    if pos + 9 > len(bits):
        return None
    return int(bits[pos + 1:pos + 9], 2), pos + 9


def encode_text(data, max_chars):
    """Bit string of a compressed text with its length field."""
    if max_chars < 1 or len(data) < max_chars:
        count = len(data)
    else:
        count = max_chars - 1

    def padded(code):
        if len(code) % 8 == 0:
            return code
        r = 8 - len(code) % 8
        for c in CODES:
            if len(c) > r:
                return code + c[:r]
        return code

    # The count field is 16 bits wide: a text too long for it is cut to the longest prefix
    # whose padded code still fits.
    total = 0
    fits = 0
    for i in range(count):
        total += len(CODES[data[i]])
        if len(padded('0' * total)) > 65535:
            break
        fits = i + 1
    code = padded(''.join(CODES[b] for b in data[:fits]))
    return compressed_u16(len(code)) + code


def decode_text(bits):
    """Decode a compressed text from a bit string; returns (bytes, bits consumed) or None."""
    got = read_compressed_u16(bits, 0)
    if got is None:
        return None
    count, pos = got
    if pos + count > len(bits):
        return None
    out = bytearray()
    node = ROOT
    for b in bits[pos:pos + count]:
        node = node.right if b == '1' else node.left
        if node.left is None:
            out.append(node.value)
            node = ROOT
    return bytes(out), pos + count


def bits_of(data, nbits=None):
    s = ''.join(format(b, '08b') for b in data)
    return s if nbits is None else s[:nbits]


def run(tool, *args, stdin=None):
    return subprocess.run([tool, *args], input=stdin, capture_output=True, check=True,
                          text=True).stdout


SAMPLE_TEXTS = [
    b'',
    b'a',
    b'e',
    b'Hello, world!',
    b'The quick brown fox jumps over the lazy dog.\n',
    bytes(range(1, 256)),
    b'\x01\x02\xff\xfe\x80',
    b'{FF0000}Label text with colour embeds and numbers 0123456789',
    b'~' * 40,
]


def main():
    if len(sys.argv) != 2:
        print('usage: huffman_oracle.py <huffman_dump_tool>', file=sys.stderr)
        return 2
    tool = sys.argv[1]
    failures = 0
    checks = 0

    # 1. The code of every byte value.
    table = run(tool, 'table').split('\n')
    for v in range(256):
        checks += 1
        want = '%d %s' % (v, CODES[v])
        if table[v] != want:
            failures += 1
            print('code of %d: C++ "%s", oracle "%s"' % (v, table[v], want))

    # 2. Compressed texts written by C++, as bit strings (length field included).
    cases = [(t, len(t) + 1) for t in SAMPLE_TEXTS]
    cases += [(b'abcdefghij', 5), (b'abcdefghij', 0), (b'abcdefghij', 10), (b'abcdefghij', 11)]
    # Long enough that the 16-bit count field forces a cut.
    cases += [(b'\x01' * 9000, 0), (b'xyz' * 6000 + b'QQ', 0), (b'\xff' * 4095 + b'ab', 0)]
    for text, max_chars in cases:
        checks += 1
        out = run(tool, 'encode', str(max_chars), text.hex()).strip()
        nbits_s, hexdata = out.split(' ') if ' ' in out else (out, '')
        nbits = int(nbits_s)
        got = bits_of(bytes.fromhex(hexdata), nbits)
        want = encode_text(text, max_chars)
        if got != want:
            failures += 1
            print('encode %r (max %d): C++ %d bits, oracle %d bits; first difference at %d' % (
                text[:20], max_chars, len(got), len(want),
                next((i for i, (a, b) in enumerate(zip(got, want)) if a != b),
                     min(len(got), len(want)))))
            continue
        # And the oracle decodes it back to the (possibly cut) text.
        decoded = decode_text(got)
        if decoded is None or not text.startswith(decoded[0]) or decoded[1] != len(got):
            failures += 1
            print('oracle could not decode the C++ form of %r' % text[:20])

    # 3. Streams built here, decoded by C++.
    for text in SAMPLE_TEXTS:
        checks += 1
        bits = encode_text(text, len(text) + 1)
        pad = (-len(bits)) % 8
        data = int(bits + '0' * pad, 2).to_bytes((len(bits) + pad) // 8, 'big') if bits else b''
        out = run(tool, 'decode', '4096', str(len(bits)), data.hex()).strip()
        want = 'ok %d %s' % (len(bits), text.hex())
        if out != want.strip():
            failures += 1
            print('decode of the oracle form of %r: C++ "%s"' % (text[:20], out[:80]))

    print('%d passed, %d failed' % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
