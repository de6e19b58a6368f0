#!/usr/bin/env python3
"""Independent decoder of reliability-layer datagrams.

1. Decodes the datagrams that the C++ writer built and compares them with what the writer was
   given (acknowledgement ranges and messages), and checks the writer's size budget.
2. Feeds the C++ reader datagrams built here (well-formed, malformed and random bytes) in both
   roles and compares its reading, message by message, with this decoder's.

Usage: wire_decode.py <path to wire_dump_tool>
"""
import random
import subprocess
import sys

MAX_PAYLOAD_BITS = 11928
ORDERED = (7, 9, 10)


class Short(Exception):
    pass


class Bits:
    def __init__(self, data):
        self.s = ''.join(format(b, '08b') for b in data)
        self.pos = 0

    def left(self):
        return len(self.s) - self.pos

    def take(self, n):
        if self.left() < n:
            raise Short()
        v = self.s[self.pos:self.pos + n]
        self.pos += n
        return v

    def bit(self):
        return self.take(1) == '1'

    def field(self, n):
        """An n-bit field, most significant bit first."""
        return int(self.take(n), 2)

    def u16(self):
        lo = self.field(8)
        return lo | self.field(8) << 8

    def compressed(self, nbytes):
        """Unsigned compressed integer: a 1 bit per leading zero byte, from the top."""
        value = [0] * nbytes
        current = nbytes - 1
        while current > 0:
            if self.bit():
                current -= 1
                continue
            for i in range(current + 1):
                value[i] = self.field(8)
            return int.from_bytes(bytes(value), 'little')
        value[0] = self.field(4) if self.bit() else self.field(8)
        return int.from_bytes(bytes(value), 'little')

    def align(self):
        self.pos = min((self.pos + 7) // 8 * 8, len(self.s))


def decode(data, role):
    """Returns (acks state, ranges, messages, refusal) the way the datagram reads."""
    b = Bits(data)
    try:
        has_acks = b.bit()
    except Short:
        return 'bad', [], [], 'truncated-acks'
    ranges = []
    state = 'none'
    if has_acks:
        state = 'read'
        try:
            for _ in range(b.compressed(2)):
                single = b.bit()
                lo = b.u16()
                hi = lo if single else b.u16()
                if hi < lo:
                    return 'bad', [], [], 'inverted-ack-range'
                ranges.append((lo, hi))
        except Short:
            return 'bad', [], [], 'truncated-acks'

    messages = []
    refusal = 'none'
    while b.left() >= 16:
        try:
            number = b.u16()
            rel = b.field(4)
            if rel <= 5:
                refusal = 'bad-reliability'
                break
            channel = index = 0
            if rel in ORDERED:
                channel = b.field(5)
                index = b.u16()
            split_id = split_index = split_count = 0
            if b.bit():
                if role == 'server':
                    refusal = 'refused-split'
                    break
                split_id = b.u16()
                split_index = b.compressed(4)
                split_count = b.compressed(4)
                if split_count == 0 or split_index >= split_count:
                    refusal = 'bad-split-fields'
                    break
            length = b.compressed(2)
        except Short:
            refusal = 'truncated-header'
            break
        if length == 0 or length > MAX_PAYLOAD_BITS:
            refusal = 'bad-length'
            break
        b.align()
        nbytes = (length + 7) // 8
        if b.left() < nbytes * 8:
            refusal = 'truncated-payload'
            break
        payload = bytes(b.field(8) for _ in range(nbytes))
        messages.append((number, rel, channel, index, split_id, split_index, split_count, length,
                         payload.hex()))
    return state, ranges, messages, refusal


# ---- encoder (for the reader's side) ------------------------------------------------------------

def c_u16(v):
    lo, hi = v & 0xFF, v >> 8
    if hi:
        return '0' + format(lo, '08b') + format(hi, '08b')
    return '11' + format(lo, '04b') if lo < 16 else '10' + format(lo, '08b')


def c_u32(v):
    b = v.to_bytes(4, 'little')
    out = ''
    current = 3
    while current > 0:
        if b[current] == 0:
            out += '1'
            current -= 1
        else:
            return out + '0' + ''.join(format(x, '08b') for x in b[:current + 1])
    return out + ('1' + format(b[0], '04b') if b[0] < 16 else '0' + format(b[0], '08b'))


def u16(v):
    return format(v & 0xFF, '08b') + format(v >> 8, '08b')


def encode_message(bits, number, rel, channel=0, index=0, split=None, length=None, payload=b''):
    bits += u16(number) + format(rel, '04b')
    if rel in ORDERED:
        bits += format(channel, '05b') + u16(index)
    if split is None:
        bits += '0'
    else:
        bits += '1' + u16(split[0]) + c_u32(split[1]) + c_u32(split[2])
    if length is None:
        length = len(payload) * 8
    bits += c_u16(length)
    bits += '0' * ((-len(bits)) % 8)
    return bits + ''.join(format(x, '08b') for x in payload)


def to_bytes(bits):
    bits += '0' * ((-len(bits)) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def random_datagram(rng):
    bits = ''
    if rng.random() < 0.5:
        n = rng.randrange(4)
        bits += '1' + c_u16(n)
        for _ in range(n):
            lo = rng.randrange(65536)
            if rng.random() < 0.5:
                bits += '1' + u16(lo)
            else:
                hi = lo + rng.randrange(-3, 50) if rng.random() < 0.95 else lo
                bits += '0' + u16(lo) + u16(max(0, min(hi, 65535)))
    else:
        bits += '0'
    for _ in range(rng.randrange(5)):
        rel = rng.choice([6, 7, 8, 9, 10, 6, 7, 8, 9, 10, 11, 15, 5, 0])
        split = None
        if rng.random() < 0.3:
            count = rng.choice([1, 2, 3, 300, 70000, 0])
            split = (rng.randrange(65536), rng.randrange(count + 2), count)
        size = rng.choice([1, 2, 5, 40, 1491, 1492])
        payload = bytes(rng.randrange(256) for _ in range(size))
        length = rng.choice([None, None, None, 0, size * 8 - 3, 11929, 11928])
        bits = encode_message(bits, rng.randrange(65536), rel, rng.randrange(32),
                              rng.randrange(65536), split, length, payload)
    data = to_bytes(bits)
    cut = rng.random()
    if cut < 0.2 and data:
        data = data[:rng.randrange(len(data))]
    elif cut < 0.3:
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(40)))
    return data


def main():
    if len(sys.argv) != 2:
        print('usage: wire_decode.py <wire_dump_tool>', file=sys.stderr)
        return 2
    tool = sys.argv[1]
    checks = failures = 0

    # 1. What the writer built.
    out = subprocess.run([tool, 'write', '11', '400'], capture_output=True, text=True,
                         check=True).stdout.split('\n')
    i = 0
    while i < len(out):
        line = out[i]
        i += 1
        if not line.startswith('D '):
            continue
        _, mtu, cipher, hexdata = line.split(' ')
        mtu, cipher = int(mtu), cipher == '1'
        want_ranges, want_msgs = [], []
        while out[i] != 'E':
            f = out[i].split(' ')
            if f[0] == 'A':
                want_ranges.append((int(f[1]), int(f[2])))
            else:
                num, rel, ch, idx, sid, sidx, scount, length = (int(x) for x in f[1:9])
                if rel not in ORDERED:
                    ch = idx = 0
                want_msgs.append((num, rel, ch, idx, sid, sidx, scount, length, f[9]))
            i += 1
        checks += 1
        data = bytes.fromhex(hexdata)
        state, ranges, msgs, refusal = decode(data, 'client')
        # Payload bits past a message's length are whatever its buffer held: compare the rest.
        def masked(m):
            pay = bytearray(bytes.fromhex(m[8]))
            if m[7] % 8:
                pay[-1] &= (0xFF << (8 - m[7] % 8)) & 0xFF
            return m[:8] + (bytes(pay).hex(),)
        problems = []
        if state != ('read' if want_ranges else 'none'):
            problems.append('acks state %s' % state)
        if ranges != want_ranges:
            problems.append('ranges %r, wrote %r' % (ranges[:3], want_ranges[:3]))
        if [masked(m) for m in msgs] != [masked(m) for m in want_msgs]:
            problems.append('messages differ:\n  read  %r\n  wrote %r' % (msgs[:2], want_msgs[:2]))
        if refusal != 'none':
            problems.append('refusal %s' % refusal)
        budget = (mtu - (36 if cipher else 28)) * 8
        if want_msgs and len(data) * 8 > budget:
            problems.append('%d bytes exceed the budget of %d bits' % (len(data), budget))
        if problems:
            failures += 1
            print('datagram %s...: %s' % (hexdata[:16], '; '.join(problems)))

    # 2. The reader, on datagrams built here.
    rng = random.Random(5)
    datagrams = [b'\x00', b'', b'\x80\x00'] + [random_datagram(rng) for _ in range(1500)]
    for role in ('server', 'client'):
        res = subprocess.run([tool, 'read', role], input='\n'.join(d.hex() for d in datagrams) + '\n',
                             capture_output=True, text=True, check=True).stdout.split('\n')
        pos = 0
        for data in datagrams:
            checks += 1
            block = []
            while not res[pos].startswith('end '):
                block.append(res[pos])
                pos += 1
            got_refusal = res[pos][4:]
            pos += 1
            head = block[0].split(' ')
            got_state = head[1]
            got_ranges = [tuple(int(x) for x in r.split('-')) for r in head[2].split(',') if r]
            got_msgs = []
            for m in block[1:]:
                f = m.split(' ')
                got_msgs.append(tuple(int(x) for x in f[1:9]) + (f[9],))
            state, ranges, msgs, refusal = decode(data, role)
            if state == 'bad':
                ranges, msgs = [], []
            if (got_state, got_ranges, got_msgs, got_refusal) != (state, ranges, msgs, refusal):
                failures += 1
                print('%s reader on %s: C++ %s/%d ranges/%d messages/%s, oracle %s/%d/%d/%s' % (
                    role, data.hex()[:40], got_state, len(got_ranges), len(got_msgs), got_refusal,
                    state, len(ranges), len(msgs), refusal))

    print('%d passed, %d failed' % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
