"""Bit-level reader and writer in the game's wire order.

Bits are packed without gaps, most significant bit of each byte first. Multi-byte values go
out little-endian, one whole byte after the other even when the write cursor is not on a byte
boundary. Readers never read past the end: every shortfall raises WireError, so a decoder over
hostile bytes either returns a complete value or fails cleanly.
"""

import math
import struct


class WireError(ValueError):
    """Bytes that do not hold what the reader expected (short, malformed or out of range)."""


def f32(value):
    """Round a Python float to IEEE single precision, as the peers compute."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


class BitWriter:
    def __init__(self):
        self._buf = bytearray()
        self.bits = 0

    # -- raw bits ---------------------------------------------------------------------------
    def write_bit(self, bit):
        if self.bits % 8 == 0:
            self._buf.append(0)
        if bit:
            self._buf[-1] |= 0x80 >> (self.bits % 8)
        self.bits += 1
        return self

    def write_bits(self, value, count):
        """The `count` low bits of an integer, most significant first."""
        if count < 0:
            raise ValueError("negative bit count")
        value &= (1 << count) - 1 if count else 0
        for shift in range(count - 1, -1, -1):
            self.write_bit((value >> shift) & 1)
        return self

    def write_raw(self, data, bit_count=None):
        """The first `bit_count` bits of `data` (all of it by default), left-aligned."""
        data = bytes(data)
        if bit_count is None:
            bit_count = len(data) * 8
        if bit_count > len(data) * 8:
            raise ValueError("not enough source bits")
        if self.bits % 8 == 0 and bit_count % 8 == 0:
            self._buf += data[: bit_count // 8]
            self.bits += bit_count
            return self
        whole, rest = divmod(bit_count, 8)
        for b in data[:whole]:
            self.write_bits(b, 8)
        if rest:
            self.write_bits(data[whole] >> (8 - rest), rest)
        return self

    def write_bytes(self, data):
        return self.write_raw(data)

    def align(self):
        """Zero bits up to the next byte boundary."""
        while self.bits % 8:
            self.write_bit(0)
        return self

    # -- typed values (little-endian, byte by byte) ------------------------------------------
    def write_u8(self, v):
        return self.write_raw(struct.pack("<B", v & 0xFF))

    def write_u16(self, v):
        return self.write_raw(struct.pack("<H", v & 0xFFFF))

    def write_u32(self, v):
        return self.write_raw(struct.pack("<I", v & 0xFFFFFFFF))

    def write_i32(self, v):
        return self.write_raw(struct.pack("<i", v))

    def write_f32(self, v):
        return self.write_raw(struct.pack("<f", v))

    def write_bool(self, v):
        return self.write_bit(1 if v else 0)

    # -- compressed forms --------------------------------------------------------------------
    def write_compressed(self, value, size_bits, signed=False):
        """Leading filler bytes (0x00, or 0xFF for signed) cost one bit each; the lowest byte
        costs 5 bits when its high nibble is filler too."""
        nbytes = size_bits // 8
        raw = (value & ((1 << size_bits) - 1)).to_bytes(nbytes, "little")
        filler = 0xFF if signed else 0x00
        current = nbytes - 1
        while current > 0:
            if raw[current] == filler:
                self.write_bit(1)
                current -= 1
            else:
                self.write_bit(0)
                return self.write_raw(raw[: current + 1])
        low = raw[0]
        if (low & 0xF0) == (filler & 0xF0):
            self.write_bit(1)
            self.write_bits(low & 0x0F, 4)
        else:
            self.write_bit(0)
            self.write_bits(low, 8)
        return self

    def write_compressed_u16(self, v):
        return self.write_compressed(v, 16)

    def write_compressed_u32(self, v):
        return self.write_compressed(v, 32)

    def write_compressed_float(self, v):
        """A value in [-1, 1] as a u16 (NaN as the midpoint); used by the vector form."""
        if v != v:
            u = 32767
        else:
            v = max(-1.0, min(1.0, v))
            u = int(f32((v + 1.0) * 32767.5))
        return self.write_u16(u)

    def write_compressed_vector(self, x, y, z):
        x, y, z = f32(x), f32(y), f32(z)
        m = f32(math.sqrt(f32(f32(f32(x * x) + f32(y * y)) + f32(z * z))))
        self.write_f32(m)
        if m > 0.00001:
            self.write_compressed_float(f32(x / m))
            self.write_compressed_float(f32(y / m))
            self.write_compressed_float(f32(z / m))
        return self

    def write_compressed_quaternion(self, w, x, y, z):
        for c in (w, x, y, z):
            self.write_bit(1 if c < 0 else 0)
        for c in (x, y, z):
            self.write_u16(int(f32(abs(c) * 65535.0)) & 0xFFFF)
        return self

    # -- result ------------------------------------------------------------------------------
    def getvalue(self):
        return bytes(self._buf)

    def __len__(self):
        return len(self._buf)


class BitReader:
    def __init__(self, data, bit_length=None):
        self._data = bytes(data)
        total = len(self._data) * 8
        if bit_length is None:
            bit_length = total
        if bit_length < 0 or bit_length > total:
            raise WireError("bit length %d outside a %d-byte buffer" % (bit_length, len(self._data)))
        self.bits = bit_length
        self.pos = 0

    @property
    def remaining(self):
        return self.bits - self.pos

    def _need(self, count):
        if count < 0 or count > self.bits - self.pos:
            raise WireError("needs %d bits, %d left" % (count, self.bits - self.pos))

    def read_bit(self):
        self._need(1)
        b = (self._data[self.pos >> 3] >> (7 - (self.pos & 7))) & 1
        self.pos += 1
        return b

    def read_bits(self, count):
        """`count` bits as an unsigned integer, first bit most significant."""
        self._need(count)
        value = 0
        for _ in range(count):
            value = (value << 1) | ((self._data[self.pos >> 3] >> (7 - (self.pos & 7))) & 1)
            self.pos += 1
        return value

    def read_raw(self, bit_count):
        """`bit_count` bits, left-aligned in (bit_count + 7) // 8 bytes."""
        self._need(bit_count)
        if self.pos % 8 == 0:
            start = self.pos >> 3
            out = bytearray(self._data[start: start + (bit_count + 7) // 8])
            if bit_count % 8:
                out[-1] &= (0xFF << (8 - bit_count % 8)) & 0xFF
            self.pos += bit_count
            return bytes(out)
        whole, rest = divmod(bit_count, 8)
        out = bytearray(self.read_bits(8) for _ in range(whole))
        if rest:
            out.append(self.read_bits(rest) << (8 - rest))
        return bytes(out)

    def read_bytes(self, count):
        return self.read_raw(count * 8)

    def align(self):
        self.pos = min(self.bits, (self.pos + 7) & ~7)
        return self

    def read_u8(self):
        return self.read_bits(8)

    def read_u16(self):
        return struct.unpack("<H", self.read_bytes(2))[0]

    def read_u32(self):
        return struct.unpack("<I", self.read_bytes(4))[0]

    def read_i32(self):
        return struct.unpack("<i", self.read_bytes(4))[0]

    def read_f32(self):
        return struct.unpack("<f", self.read_bytes(4))[0]

    def read_bool(self):
        return bool(self.read_bit())

    def read_compressed(self, size_bits, signed=False):
        nbytes = size_bits // 8
        filler = 0xFF if signed else 0x00
        raw = bytearray(nbytes)
        current = nbytes - 1
        while current > 0:
            if self.read_bit():
                raw[current] = filler
                current -= 1
            else:
                raw[: current + 1] = self.read_bytes(current + 1)
                return int.from_bytes(raw, "little", signed=signed)
        if self.read_bit():
            low = self.read_bits(4)
            if signed:
                low |= 0xF0
        else:
            low = self.read_bits(8)
        raw[0] = low
        return int.from_bytes(raw, "little", signed=signed)

    def read_compressed_u16(self):
        return self.read_compressed(16)

    def read_compressed_u32(self):
        return self.read_compressed(32)

    def read_compressed_float(self):
        return self.read_u16() / 32767.5 - 1.0

    def read_compressed_vector(self):
        m = self.read_f32()
        if m > 0.00001:
            return tuple(self.read_compressed_float() * m for _ in range(3))
        return (0.0, 0.0, 0.0)

    def read_compressed_quaternion(self):
        """(w, x, y, z); w's size follows from the other three of a unit quaternion."""
        signs = [self.read_bit() for _ in range(4)]
        x, y, z = (self.read_u16() / 65535.0 for _ in range(3))
        w = math.sqrt(max(0.0, 1.0 - x * x - y * y - z * z))
        vals = [w, x, y, z]
        return tuple(-v if s else v for v, s in zip(vals, signs))

    def read_string8(self, limit=255):
        n = self.read_u8()
        if n > limit:
            raise WireError("text of %d bytes over the limit of %d" % (n, limit))
        return self.read_bytes(n)

    def read_string32(self, limit=4096):
        n = self.read_u32()
        if n > limit:
            raise WireError("text of %d bytes over the limit of %d" % (n, limit))
        return self.read_bytes(n)
