#!/usr/bin/env python3
"""Independent check of the text compressor's wire form.

Takes the fixed code as the wire client builds it from the character-frequency table
(tests/wire/velt_wire/text.py, written from the wire form, not from the C++ code), then compares
it with what the C++ side reports: the code of every byte value, the bit strings of a set of
compressed texts, and the texts it decodes from streams built here.

Usage: huffman_oracle.py <path to huffman_dump_tool>
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wire'))
from velt_wire.bitstream import BitReader, WireError  # noqa: E402
from velt_wire.text import CODES, read_compressed_text  # noqa: E402


def compressed_u16(value):
    """Bits of the stream's compressed unsigned 16-bit form."""
    lo, hi = value & 0xFF, value >> 8
    if hi != 0:
        return '0' + format(lo, '08b') + format(hi, '08b')
    if lo >> 4 == 0:
        return '11' + format(lo, '04b')
    return '10' + format(lo, '08b')


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
    reader = BitReader(bytes_of(bits), len(bits))
    try:
        return read_compressed_text(reader), reader.pos
    except WireError:
        return None


def bytes_of(bits):
    """A bit string as left-aligned bytes."""
    pad = (-len(bits)) % 8
    return int(bits + '0' * pad, 2).to_bytes((len(bits) + pad) // 8, 'big') if bits else b''


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
        data = bytes_of(bits)
        out = run(tool, 'decode', '4096', str(len(bits)), data.hex()).strip()
        want = 'ok %d %s' % (len(bits), text.hex())
        if out != want.strip():
            failures += 1
            print('decode of the oracle form of %r: C++ "%s"' % (text[:20], out[:80]))

    print('%d passed, %d failed' % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
