"""Layout of one reliability-layer datagram: an optional acknowledgement list, then messages.

    has-acks(1) [count(compressed u16) ranges...] { message }*
    range:   min==max(1) min(u16) [max(u16)]
    message: number(u16) reliability(4) [channel(5) index(u16)]  (kinds 7, 9, 10)
             split(1) [split id(u16) piece(compressed u32) pieces(compressed u32)]
             bit length(compressed u16) pad-to-byte payload

The u16 fields are two little-endian bytes, each most significant bit first, wherever they
fall; the 4- and 5-bit fields are the low bits of the value, most significant first.
"""

from dataclasses import dataclass

from .bitstream import BitReader, BitWriter, WireError

UNRELIABLE = 6
UNRELIABLE_SEQUENCED = 7
RELIABLE = 8
RELIABLE_ORDERED = 9
RELIABLE_SEQUENCED = 10

RELIABLE_KINDS = (RELIABLE, RELIABLE_ORDERED, RELIABLE_SEQUENCED)
ORDERED_KINDS = (UNRELIABLE_SEQUENCED, RELIABLE_ORDERED, RELIABLE_SEQUENCED)

MAX_PAYLOAD_BITS = 11928   # 1491 bytes: the largest payload a reader takes
UDP_OVERHEAD = 28          # bytes of IP and UDP header the message budget leaves out


def header_estimate_bits(reliability, split=False):
    """The header size the sender budgets for before writing (the real one may be smaller)."""
    bits = 4 + 49
    if reliability in ORDERED_KINDS:
        bits += 21
    if split:
        bits += 80
    return bits


@dataclass
class WireMessage:
    number: int
    reliability: int
    payload: bytes
    bits: int
    channel: int = 0
    index: int = 0
    split_id: int = 0
    split_index: int = 0
    split_count: int = 0   # 0: a whole message

    def write(self, w):
        w.write_u16(self.number)
        w.write_bits(self.reliability, 4)
        if self.reliability in ORDERED_KINDS:
            w.write_bits(self.channel, 5)
            w.write_u16(self.index)
        if self.split_count:
            w.write_bit(1)
            w.write_u16(self.split_id)
            w.write_compressed_u32(self.split_index)
            w.write_compressed_u32(self.split_count)
        else:
            w.write_bit(0)
        w.write_compressed_u16(self.bits)
        w.align()
        # The payload always fills whole bytes: the next message starts on a byte boundary.
        w.write_raw(self.payload, self.bits)
        w.align()

    @classmethod
    def read(cls, r):
        """One message, or None when the rest of the datagram holds none that is readable."""
        try:
            if r.remaining < 16:
                return None
            number = r.read_u16()
            reliability = r.read_bits(4)
            if reliability <= 5:
                return None
            channel = index = 0
            if reliability in ORDERED_KINDS:
                channel = r.read_bits(5)
                index = r.read_u16()
            split_id = split_index = split_count = 0
            if r.read_bit():
                split_id = r.read_u16()
                split_index = r.read_compressed_u32()
                split_count = r.read_compressed_u32()
                if split_count == 0 or split_index >= split_count:
                    return None
            bits = r.read_compressed_u16()
            if bits == 0 or bits > MAX_PAYLOAD_BITS:
                return None
            r.align()
            payload = r.read_raw(bits)
            r.align()
        except WireError:
            return None
        if reliability > RELIABLE_SEQUENCED:
            reliability = UNRELIABLE   # 11..15 are delivered like plain unreliable messages
        return cls(number, reliability, payload, bits, channel, index, split_id, split_index,
                   split_count)


def ranges_of(numbers):
    """Sorted (min, max) runs covering a set of message numbers."""
    out = []
    for n in sorted(numbers):
        if out and out[-1][1] + 1 == n:
            out[-1] = (out[-1][0], n)
        else:
            out.append((n, n))
    return out


def range_bits(r):
    return 17 if r[0] == r[1] else 33


def write_acks(w, ranges):
    w.write_bit(1)
    w.write_compressed_u16(len(ranges))
    for lo, hi in ranges:
        if lo == hi:
            w.write_bit(1)
            w.write_u16(lo)
        else:
            w.write_bit(0)
            w.write_u16(lo)
            w.write_u16(hi)


@dataclass
class Datagram:
    acks: list        # (min, max) ranges, possibly empty
    has_acks: bool
    messages: list    # WireMessage


def build_datagram(ranges, messages):
    w = BitWriter()
    if ranges:
        write_acks(w, ranges)
    else:
        w.write_bit(0)
    for m in messages:
        m.write(w)
    return w.getvalue()


def parse_datagram(data):
    """The acknowledgements and readable messages of a datagram; WireError when its
    acknowledgement part is unreadable (the whole datagram is then void)."""
    r = BitReader(data)
    ranges = []
    has_acks = bool(r.read_bit()) if r.remaining else False
    if has_acks:
        count = r.read_compressed_u16()
        for _ in range(count):
            if r.read_bit():
                lo = hi = r.read_u16()
            else:
                lo = r.read_u16()
                hi = r.read_u16()
                if hi < lo:
                    raise WireError("acknowledgement range %d..%d runs backwards" % (lo, hi))
            ranges.append((lo, hi))
    messages = []
    while True:
        m = WireMessage.read(r)
        if m is None:
            break
        messages.append(m)
    return Datagram(ranges, has_acks, messages)
