#!/usr/bin/env python3
"""Independent encoder/decoder for the transport's bit stream, checked against our C++ one.

Written from the wire rules alone: bits most significant first, multi-byte values as their
little-endian bytes, the compressed integer form, the 16-bit compressed float, the magnitude +
unit-vector form and the 52-bit quaternion. Floats are emulated in single precision, each
operation rounded (a double result of one +, -, x, / or sqrt on singles rounds to the same
single as the single-precision operation).

Usage: bitstream_oracle.py <path of bitstream_tool>
"""
import math
import random
import struct
import subprocess
import sys


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def f32_bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def bits_f32(u):
    return struct.unpack("<f", struct.pack("<I", u))[0]


def le_bytes(value, width):
    return [(value >> (8 * i)) & 0xFF for i in range(width // 8)]


# ---- encoder --------------------------------------------------------------------------------

class Writer:
    def __init__(self):
        self.bits = []

    def raw(self, data, count, right_aligned=True):
        """count bits taken from data in order, each byte most significant bit first."""
        if count <= 0:
            return
        full, rest = divmod(count, 8)
        for b in data[:full]:
            self.bits += [(b >> (7 - i)) & 1 for i in range(8)]
        if rest:
            last = data[full]
            if right_aligned:
                last = (last << (8 - rest)) & 0xFF
            self.bits += [(last >> (7 - i)) & 1 for i in range(rest)]

    def bit(self, v):
        self.bits.append(1 if v else 0)

    def uint(self, v, width):
        self.raw(le_bytes(v & ((1 << width) - 1), width), width)

    def float32(self, f):
        self.uint(f32_bits(f), 32)

    def compressed(self, v, width, unsigned):
        data = le_bytes(v & ((1 << width) - 1), width)
        filler = 0x00 if unsigned else 0xFF
        current = width // 8 - 1
        while current > 0:
            if data[current] == filler:
                self.bit(1)
                current -= 1
            else:
                self.bit(0)
                self.raw(data, (current + 1) * 8)
                return
        nibble = data[0] & 0xF0
        if (unsigned and nibble == 0x00) or (not unsigned and nibble == 0xF0):
            self.bit(1)
            self.raw(data, 4)
        else:
            self.bit(0)
            self.raw(data, 8)

    def compressed_float(self, v):
        v = f32(v)
        if math.isnan(v):
            u = 32767
        else:
            v = min(1.0, max(-1.0, v))
            u = int(f32(f32(v + 1.0) * 32767.5))
        self.uint(u, 16)

    def vector(self, x, y, z):
        s = f32(f32(x * x) + f32(y * y))
        s = f32(s + f32(z * z))
        m = f32(math.sqrt(s))
        self.float32(m)
        if m > 0.00001:
            for c in (x, y, z):
                self.compressed_float(f32(c / m))

    def quaternion(self, w, x, y, z):
        for c in (w, x, y, z):
            self.bit(c < 0)
        for c in (x, y, z):
            self.uint(int(f32(abs(c) * 65535.0)) & 0xFFFF, 16)

    def align(self):
        while len(self.bits) % 8:
            self.bits.append(0)

    def hex(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, padded[i:i + 8])), 2) for i in range(0, len(padded), 8)).hex()


# ---- decoder --------------------------------------------------------------------------------

class Short(Exception):
    pass


class Reader:
    def __init__(self, bits):
        self.bits = bits
        self.pos = 0

    def take(self, n):
        if n <= 0 or self.pos + n > len(self.bits):
            raise Short()
        out = self.bits[self.pos:self.pos + n]
        self.pos += n
        return out

    def raw(self, n):
        """n bits into (n + 7) // 8 bytes, a final partial byte right-aligned."""
        bits = self.take(n)
        out = []
        for i in range(0, n, 8):
            chunk = bits[i:i + 8]
            out.append(int("".join(map(str, chunk)), 2))
        return out

    def uint(self, width):
        return sum(b << (8 * i) for i, b in enumerate(self.raw(width)))

    def sint(self, width):
        v = self.uint(width)
        return v - (1 << width) if v >> (width - 1) else v

    def compressed(self, width, unsigned):
        out = [0] * (width // 8)
        filler = 0x00 if unsigned else 0xFF
        current = width // 8 - 1
        while current > 0:
            if self.take(1)[0]:
                out[current] = filler
                current -= 1
            else:
                out[:current + 1] = self.raw((current + 1) * 8)
                break
        else:
            if self.take(1)[0]:
                nibble = self.raw(4)[0]
                out[0] = nibble if unsigned else nibble | 0xF0
            else:
                out[0] = self.raw(8)[0]
        v = sum(b << (8 * i) for i, b in enumerate(out))
        if not unsigned and v >> (width - 1):
            v -= 1 << width
        return v

    def unit_float(self):
        return f32(f32(self.uint(16) / 32767.5) - 1.0)

    def vector(self):
        m = bits_f32(self.uint(32))
        if not m > 0.00001:
            return (0.0, 0.0, 0.0)
        comps = [self.uint(16) for _ in range(3)]
        return tuple(f32(f32(f32(u / 32767.5) - 1.0) * m) for u in comps)

    def quaternion(self):
        signs = self.take(4)
        x, y, z = (f32(self.uint(16) / 65535.0) for _ in range(3))
        rest = f32(1.0 - f32(x * x))
        rest = f32(rest - f32(y * y))
        rest = f32(rest - f32(z * z))
        w = f32(math.sqrt(rest)) if rest > 0 else 0.0
        vals = [w, x, y, z]
        return tuple(-v if s else v for v, s in zip(vals, signs))


# ---- ops shared with the C++ tool -----------------------------------------------------------

INT_WIDTH = {"u8": (8, True), "i8": (8, False), "u16": (16, True), "i16": (16, False),
             "u32": (32, True), "i32": (32, False)}


def fhex(f):
    return "%08x" % f32_bits(f)


def encode(ops, w=None):
    """ops: list of (name, value). Returns the writer and each op's start bit."""
    w = w or Writer()
    starts = []
    for name, v in ops:
        starts.append(len(w.bits))
        if name == "bit":
            w.bit(v)
        elif name in INT_WIDTH:
            w.uint(v, INT_WIDTH[name][0])
        elif name == "f32":
            w.float32(v)
        elif name[0] == "c" and name[1:] in INT_WIDTH:
            width, unsigned = INT_WIDTH[name[1:]]
            w.compressed(v, width, unsigned)
        elif name in ("cbu", "cbs"):
            w.compressed(int.from_bytes(bytes(v[1]), "little"), v[0], name == "cbu")
        elif name == "cf":
            w.compressed_float(v)
        elif name == "vec":
            w.vector(*v)
        elif name == "quat":
            w.quaternion(*v)
        elif name == "raw":
            w.raw(v[1], v[0], True)
        elif name == "rawl":
            w.raw(v[1], v[0], False)
        elif name == "bytes":
            w.raw(v, 8 * len(v))
        elif name == "abytes":
            w.align()
            w.raw(v, 8 * len(v))
        elif name == "align":
            w.align()
        else:
            raise ValueError(name)
    return w, starts


def write_token(name, v):
    if name in ("f32", "cf"):
        return "%s:%s" % (name, fhex(v))
    if name in ("vec", "quat"):
        return "%s:%s" % (name, ",".join(fhex(c) for c in v))
    if name in ("raw", "rawl", "cbu", "cbs"):
        return "%s:%d:%s" % (name, v[0], bytes(v[1]).hex())
    if name in ("bytes", "abytes"):
        return "%s:%s" % (name, bytes(v).hex())
    if name == "align":
        return "align"
    return "%s:%d" % (name, int(v))


def read_token(name, v):
    if name in ("raw", "rawl"):
        return "raw:%d" % v[0]
    if name in ("cbu", "cbs"):
        return "%s:%d" % (name, v[0])
    if name in ("bytes", "abytes"):
        return "%s:%d" % (name, len(v))
    return name


def decode_value(r, name, v):
    """Reads one op with the oracle's decoder, returning the tool's text for it."""
    if name == "bit":
        return str(r.take(1)[0])
    if name in INT_WIDTH:
        width, unsigned = INT_WIDTH[name]
        return str(r.uint(width) if unsigned else r.sint(width))
    if name == "f32":
        return "%08x" % r.uint(32)
    if name[0] == "c" and name[1:] in INT_WIDTH:
        width, unsigned = INT_WIDTH[name[1:]]
        return str(r.compressed(width, unsigned))
    if name in ("cbu", "cbs"):
        width = v[0]
        value = r.compressed(width, name == "cbu") & ((1 << width) - 1)
        return value.to_bytes(width // 8, "little").hex()
    if name == "cf":
        return fhex(r.unit_float())
    if name == "vec":
        return ",".join(fhex(c) for c in r.vector())
    if name == "quat":
        return ",".join(fhex(c) for c in r.quaternion())
    if name in ("raw", "rawl"):
        return bytes(r.raw(v[0])).hex()
    if name == "bytes":
        return bytes(r.raw(8 * len(v))).hex() if v else ""
    if name == "abytes":
        start = r.pos
        aligned = (r.pos + 7) // 8 * 8
        if not v or aligned + 8 * len(v) > len(r.bits):
            raise Short()
        r.pos = aligned
        try:
            return bytes(r.raw(8 * len(v))).hex()
        except Short:
            r.pos = start
            raise
    raise ValueError(name)


def expected_read(bits, ops):
    """What the tool must print when reading ops from exactly these bits."""
    r = Reader(bits)
    out = ""
    for i, (name, v) in enumerate(ops):
        before = r.pos
        try:
            out += decode_value(r, name, v) + " "
        except Short:
            return out + "FAIL %d %d %d" % (i, before, before)
    return out + "END %d" % r.pos


# ---- golden cases from the wire rules -------------------------------------------------------

def b(s):
    return [int(c) for c in s.replace(" ", "")]


def byte_bits(*values):
    return "".join(format(v, "08b") for v in values)


GOLDEN = [
    # Compressed unsigned 16-bit: 5, 0x0023, 0x1234 and 0.
    ([("cu16", 5)], "1 1 0101"),
    ([("cu16", 0x0023)], "1 0 00100011"),
    ([("cu16", 0x1234)], "0 " + byte_bits(0x34, 0x12)),
    ([("cu16", 0)], "1 1 0000"),
    ([("cu16", 0xFFFF)], "0 " + byte_bits(0xFF, 0xFF)),
    ([("cu16", 0x00F0)], "1 0 11110000"),
    # Unsigned 32-bit below 16 costs 8 bits; wider values stop at their top non-zero byte.
    ([("cu32", 15)], "1 1 1 1 1111"),
    ([("cu32", 16)], "1 1 1 0 00010000"),
    ([("cu32", 0x0100)], "1 1 0 " + byte_bits(0x00, 0x01)),
    ([("cu32", 0x012345)], "1 0 " + byte_bits(0x45, 0x23, 0x01)),
    ([("cu32", 0x80000000)], "0 " + byte_bits(0, 0, 0, 0x80)),
    # Signed: filler 0xFF, nibble kept when the high nibble is 0xF.
    ([("ci32", -1)], "1 1 1 1 1111"),
    ([("ci32", -16)], "1 1 1 1 0000"),
    ([("ci32", -17)], "1 1 1 0 11101111"),
    ([("ci32", -200)], "1 1 1 0 " + byte_bits(0x38)),
    ([("ci32", 5)], "0 " + byte_bits(5, 0, 0, 0)),
    ([("ci16", -1)], "1 1 1111"),
    ([("ci16", -300)], "0 " + byte_bits(0xD4, 0xFE)),
    ([("cu8", 9)], "1 1001"),
    # Any width: one bit per filler byte from the top.
    ([("cbu", (64, [5, 0, 0, 0, 0, 0, 0, 0]))], "1111111 1 0101"),
    ([("cbs", (64, [0xFF] * 8))], "1111111 1 1111"),
    ([("cbu", (40, [1, 2, 3, 4, 5]))], "0 " + byte_bits(1, 2, 3, 4, 5)),
    ([("cbu", (48, [0x34, 0x12, 0, 0, 0, 0]))], "1111 0 " + byte_bits(0x34, 0x12)),
    ([("cbs", (40, [0x80, 0xFF, 0xFF, 0xFF, 0xFF]))], "1111 0 " + byte_bits(0x80)),
    ([("cu8", 0x9A)], "0 10011010"),
    ([("ci8", -3)], "1 1101"),
    # Little-endian multi-byte values.
    ([("u16", 0x1234)], byte_bits(0x34, 0x12)),
    ([("u32", 0x12345678)], byte_bits(0x78, 0x56, 0x34, 0x12)),
    ([("i16", -2)], byte_bits(0xFE, 0xFF)),
    ([("f32", 1.0)], byte_bits(0x00, 0x00, 0x80, 0x3F)),
    # Compressed float: -1 -> 0, 0 -> 32767, 1 -> 65535, clamped beyond.
    ([("cf", -1.0)], byte_bits(0x00, 0x00)),
    ([("cf", 0.0)], byte_bits(0xFF, 0x7F)),
    ([("cf", 1.0)], byte_bits(0xFF, 0xFF)),
    ([("cf", 1.005)], byte_bits(0xFF, 0xFF)),
    ([("cf", -1.005)], byte_bits(0x00, 0x00)),
    ([("cf", 0.5)], byte_bits(0xFF, 0xBF)),  # 1.5 x 32767.5 = 49151.25
    # Vectors: zero (and tiny) is the float 0 alone; (3, 0, 0) is 3.0 and unit x.
    ([("vec", (0.0, 0.0, 0.0))], "0" * 32),
    ([("vec", (2.0 ** -17, 0.0, 0.0))], byte_bits(0x00, 0x00, 0x00, 0x37)),
    ([("vec", (3.0, 0.0, 0.0))], byte_bits(0x00, 0x00, 0x40, 0x40, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x7F)),
    ([("vec", (0.0, -2.0, 0.0))], byte_bits(0x00, 0x00, 0x00, 0x40, 0xFF, 0x7F, 0x00, 0x00, 0xFF, 0x7F)),
    # Quaternions: four sign bits, then three u16.
    ([("quat", (1.0, 0.0, 0.0, 0.0))], "0000" + "0" * 48),
    ([("quat", (-1.0, 0.0, 0.0, 0.0))], "1000" + "0" * 48),
    ([("quat", (0.0, -1.0, 0.5, -0.25))], "0101" + byte_bits(0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x3F)),
    # Odd bit offsets: the same forms after 1, 3 and 7 leading bits.
    ([("bit", 1), ("cu16", 5)], "1 1 1 0101"),
    ([("bit", 1), ("bit", 0), ("bit", 1), ("u16", 0x1234)], "101 " + byte_bits(0x34, 0x12)),
    ([("raw", (7, [0x55])), ("cu16", 0x1234)], "1010101 0 " + byte_bits(0x34, 0x12)),
    ([("bit", 1), ("quat", (-1.0, 0.0, 0.0, 0.0))], "1 1000" + "0" * 48),
    ([("raw", (3, [0x05])), ("cf", 0.0)], "101 " + byte_bits(0xFF, 0x7F)),
    # Raw bits: right-aligned takes the low bits of a partial last byte, left-aligned the high.
    ([("raw", (12, [0xAB, 0x0C]))], "10101011 1100"),
    ([("rawl", (12, [0xAB, 0xC0]))], "10101011 1100"),
    ([("raw", (3, [0xFD]))], "101"),
    ([("rawl", (3, [0xBF]))], "101"),
    # Alignment: nothing on an empty stream, padding to 8 after one bit.
    ([("align", None)], ""),
    ([("bit", 1), ("align", None)], "10000000"),
    ([("bit", 1), ("abytes", [0xAB])], "10000000 " + byte_bits(0xAB)),
    ([("bit", 1), ("bytes", [0xAB, 0xCD])], "1 " + byte_bits(0xAB, 0xCD)),
]


def bits_hex(bits):
    w = Writer()
    w.bits = list(bits)
    return w.hex()


# ---- random cases ---------------------------------------------------------------------------

EDGE_INTS = [0, 1, 5, 15, 16, 0x7F, 0x80, 0xFF, 0x100, 0xFFF, 0x1000, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
             0xFFFFFF, 0x1000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]


def random_int(rng, width, unsigned):
    choice = rng.random()
    if choice < 0.5:
        v = rng.choice(EDGE_INTS) + rng.choice([-1, 0, 0, 1])
    elif choice < 0.75:
        v = rng.getrandbits(rng.randint(1, width))
    else:
        v = rng.getrandbits(width)
    if rng.random() < 0.5:
        v = -v
    v &= (1 << width) - 1
    if not unsigned and v >> (width - 1):
        v -= 1 << width
    return v


def random_float(rng, scale):
    return f32(rng.uniform(-scale, scale))


def random_op(rng, allow_align=True):
    kinds = ["bit", "u8", "i8", "u16", "i16", "u32", "i32", "f32", "cu8", "ci8", "cu16", "ci16",
             "cu32", "ci32", "cbu", "cbs", "cf", "vec", "quat", "raw", "rawl", "bytes", "abytes"]
    name = rng.choice(kinds)
    if name == "bit":
        return name, rng.randint(0, 1)
    if name in INT_WIDTH:
        width, unsigned = INT_WIDTH[name]
        return name, random_int(rng, width, unsigned)
    if name[0] == "c" and name[1:] in INT_WIDTH:
        width, unsigned = INT_WIDTH[name[1:]]
        return name, random_int(rng, width, unsigned)
    if name == "f32":
        return name, random_float(rng, 1e6)
    if name == "cf":
        return name, random_float(rng, 1.0)
    if name == "vec":
        scale = rng.choice([0.00001, 1.0, 100.0, 5000.0])
        v = [random_float(rng, scale) for _ in range(3)]
        if rng.random() < 0.15:
            v = [0.0, 0.0, 0.0]
        return name, tuple(v)
    if name == "quat":
        v = [random_float(rng, 1.0) for _ in range(4)]
        n = math.sqrt(sum(c * c for c in v)) or 1.0
        return name, tuple(f32(c / n) for c in v)
    if name in ("raw", "rawl"):
        n = rng.randint(1, 40)
        return name, (n, [rng.getrandbits(8) for _ in range((n + 7) // 8)])
    if name in ("cbu", "cbs"):
        width = rng.choice([8, 24, 40, 48, 64, 96])
        data = [rng.getrandbits(8) for _ in range(width // 8)]
        fill = rng.randint(0, width // 8)
        for i in range(width // 8 - fill, width // 8):
            data[i] = 0x00 if name == "cbu" else 0xFF
        return name, (width, data)
    count = rng.randint(1, 12)
    return name, [rng.getrandbits(8) for _ in range(count)]


def canonical_write_ops(ops):
    """Left-aligned raw ops read back right-aligned; the oracle's value text must match that."""
    out = []
    for name, v in ops:
        if name == "rawl":
            n, data = v
            full, rest = divmod(n, 8)
            data = list(data)
            if rest:
                data[full] = (data[full] >> (8 - rest)) & 0xFF
            out.append(("raw", (n, data)))
        else:
            out.append((name, v))
    return out


def check_decoded(r, name, v):
    """Reads one op's value from r; returns a complaint, or None when it matches v."""
    if name == "bit":
        got = r.take(1)[0]
        return None if got == v else "bit %d" % got
    if name in INT_WIDTH:
        width, unsigned = INT_WIDTH[name]
        got = r.uint(width) if unsigned else r.sint(width)
        return None if got == v else "got %d" % got
    if name[0] == "c" and name[1:] in INT_WIDTH:
        width, unsigned = INT_WIDTH[name[1:]]
        got = r.compressed(width, unsigned)
        return None if got == v else "got %d" % got
    if name == "f32":
        got = r.uint(32)
        return None if got == f32_bits(v) else "got %08x" % got
    if name in ("cbu", "cbs"):
        width, data = v
        got = r.compressed(width, name == "cbu") & ((1 << width) - 1)
        return None if got == int.from_bytes(bytes(data), "little") else "got %x" % got
    if name == "cf":
        got = r.unit_float()
        return None if abs(got - max(-1.0, min(1.0, v))) <= 1.0 / 32767.5 + 1e-6 else "got %r" % got
    if name == "vec":
        got = r.vector()
        m = math.sqrt(sum(c * c for c in v))
        tol = (m * 2.0 / 32767.0 + 1e-6) if m > 0.00001 else 0.00002
        return None if all(abs(a - c) <= tol for a, c in zip(got, v)) else "got %r" % (got,)
    if name == "quat":
        got = r.quaternion()
        ok = all(abs(a - c) <= 1.0 / 65535 + 1e-6 for a, c in zip(got[1:], v[1:]))
        # w is rebuilt from the truncated x, y, z: looser, and its sign only matters away from 0.
        ok = ok and abs(got[0] - v[0]) <= 0.03 and (abs(v[0]) < 0.03 or (got[0] < 0) == (v[0] < 0))
        return None if ok else "got %r" % (got,)
    if name in ("raw", "rawl"):
        n, data = v
        got = r.raw(n)
        full, rest = divmod(n, 8)
        want = list(data[:full])
        if rest:
            last = data[full]
            want.append(last & ((1 << rest) - 1) if name == "raw" else last >> (8 - rest))
        return None if got == want else "got %r" % (got,)
    if name == "bytes":
        got = r.raw(8 * len(v))
        return None if got == list(v) else "got %r" % (got,)
    if name == "abytes":
        r.pos = min(len(r.bits), (r.pos + 7) // 8 * 8)
        got = r.raw(8 * len(v))
        return None if got == list(v) else "got %r" % (got,)
    raise ValueError(name)


# ---- driver ---------------------------------------------------------------------------------

class Tool:
    def __init__(self, path):
        self.path = path
        self.lines = []

    def run(self):
        text = "".join(line + "\n" for line in self.lines)
        res = subprocess.run([self.path], input=text, capture_output=True, text=True, timeout=300)
        if res.returncode != 0:
            sys.exit("tool exited with %d: %s" % (res.returncode, res.stderr[-2000:]))
        out = res.stdout.splitlines()
        if len(out) != len(self.lines):
            sys.exit("tool answered %d of %d lines" % (len(out), len(self.lines)))
        return out


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    rng = random.Random(0x5EED)
    failures = []
    checks = []  # (line, expected, description)

    # 1. Golden strings: the oracle reproduces them, and so must the C++ writer and reader.
    for ops, text in GOLDEN:
        want = b(text)
        got, _ = encode(ops)
        if got.bits != want:
            failures.append("oracle disagrees with golden %r: %s" % (ops, "".join(map(str, got.bits))))
        line = "W " + " ".join(write_token(n, v) for n, v in ops)
        checks.append((line, "%d %s" % (len(want), bits_hex(want)), "write %r" % (ops,)))
        rops = [(n, v) for n, v in canonical_write_ops(ops) if n != "align"]
        if rops:
            line = "R %d %s %s" % (len(want), bits_hex(want) or "-", " ".join(read_token(n, v) for n, v in rops))
            checks.append((line, expected_read(want, rops).strip(), "read %r" % (ops,)))

    # Golden reads: signed -1 reads back as all ones; a short compressed value fails in place.
    checks.append(("R 8 ff ci32", "-1 END 8", "signed -1 from 8 bits"))
    checks.append(("R 6 c0 cu16", "0 END 6", "unsigned 0 from 6 bits"))
    checks.append(("R 10 a0 cu16", "FAIL 0 0 0", "cu16 ending inside its byte"))
    checks.append(("R 16 1a09 cu16", "FAIL 0 0 0", "cu16 one bit short of 17"))
    checks.append(("R 0 - bit", "FAIL 0 0 0", "empty stream"))

    # 2. Random sequences: C++ writes -> oracle decodes; oracle encodes -> C++ reads.
    cases = []
    for _ in range(400):
        ops = [random_op(rng) for _ in range(rng.randint(1, 12))]
        cases.append(ops)
        w, _ = encode(ops)
        line = "W " + " ".join(write_token(n, v) for n, v in ops)
        checks.append((line, "%d %s" % (len(w.bits), w.hex()), "random write %r" % (ops,)))
        rops = canonical_write_ops(ops)
        # The read is given the oracle's bits, so this checks the C++ reader on its own.
        line = "R %d %s %s" % (len(w.bits), w.hex() or "-", " ".join(read_token(n, v) for n, v in rops))
        checks.append((line, expected_read(w.bits, rops).strip(), "random read %r" % (ops,)))

    # 3. Every cut point of a few sequences: the read that crosses the cut fails in place.
    for ops in cases[:25]:
        w, _ = encode(ops)
        rops = canonical_write_ops(ops)
        for cut in range(len(w.bits)):
            bits = w.bits[:cut]
            line = "R %d %s %s" % (cut, w.hex(), " ".join(read_token(n, v) for n, v in rops))
            checks.append((line, expected_read(bits, rops).strip(), "cut %d of %r" % (cut, ops)))

    tool = Tool(sys.argv[1])
    tool.lines = [c[0] for c in checks]
    answers = tool.run()
    for (line, want, what), got in zip(checks, answers):
        if got.strip() != want.strip():
            failures.append("%s\n  sent: %s\n  want: %s\n  got:  %s" % (what, line, want, got.strip()))

    # C++ -> oracle: the C++ writer's bytes, decoded by the oracle, give back what was written
    # (exactly for integers, raw bits and floats; within the form's step for the lossy forms).
    decode_checks = 0
    for (line, _, what), got in zip(checks, answers):
        if not what.startswith("random write"):
            continue
        ops = cases[decode_checks]
        decode_checks += 1
        try:
            nbits, hexdata = got.split()[0], (got.split() + [""])[1]
            data = bytes.fromhex(hexdata)
            bits = [(byte >> (7 - i)) & 1 for byte in data for i in range(8)][:int(nbits)]
            r = Reader(bits)
            for name, v in ops:
                problem = check_decoded(r, name, v)
                if problem:
                    failures.append("C++ bytes decode %s %r: %s" % (name, v, problem))
            if r.pos != len(bits):
                failures.append("C++ wrote %d bits, oracle read %d for %r" % (len(bits), r.pos, ops))
        except (Short, ValueError, IndexError) as e:
            failures.append("C++ bytes of %r do not decode: %r" % (ops, e))

    if failures:
        for f in failures[:30]:
            print(f)
        print("%d failures out of %d checks" % (len(failures), len(checks)))
        return 1
    print("bitstream oracle: %d checks passed (%d oracle round trips)" % (len(checks), decode_checks))
    return 0


if __name__ == "__main__":
    sys.exit(main())
