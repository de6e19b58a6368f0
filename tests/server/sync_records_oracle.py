#!/usr/bin/env python3
"""Independent decoder of the synchronisation records and their relayed forms.

Written from the record tables alone (offsets, widths, little-endian, no gaps) and the relayed
form rules (presence bits, 52-bit rotation, magnitude + unit-vector velocity, health-armour
nibbles). It draws random records, has sync_records_tool write each record and its relayed
form, decodes both bit by bit and compares every field with what it drew. The compressed parts
are predicted with single-precision arithmetic emulated one operation at a time (an IEEE single
operation equals the double result rounded to single).

Usage: sync_records_oracle.py <path of sync_records_tool> [count]
"""
import math
import random
import struct
import subprocess
import sys

# ---- single precision -----------------------------------------------------------------------


def f32(x):
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def bits_f32(u):
    return struct.unpack("<f", struct.pack("<I", u))[0]


def f32_bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


# ---- record layouts: (field, kind); kinds: u8 u16 u32 f32 lo6/hi2 (one shared byte) bytesN ----

LAYOUTS = {
    "onfoot": (68, [
        ("lrKeys", "u16"), ("udKeys", "u16"), ("keys", "u16"),
        ("px", "f32"), ("py", "f32"), ("pz", "f32"),
        ("qw", "f32"), ("qx", "f32"), ("qy", "f32"), ("qz", "f32"),
        ("health", "u8"), ("armour", "u8"), ("weapon", "lo6"), ("extraKeys", "hi2"),
        ("specialAction", "u8"),
        ("vx", "f32"), ("vy", "f32"), ("vz", "f32"),
        ("sx", "f32"), ("sy", "f32"), ("sz", "f32"),
        ("surfingId", "u16"), ("animation", "u32")]),
    "incar": (63, [
        ("vehicleId", "u16"), ("lrKeys", "u16"), ("udKeys", "u16"), ("keys", "u16"),
        ("qw", "f32"), ("qx", "f32"), ("qy", "f32"), ("qz", "f32"),
        ("px", "f32"), ("py", "f32"), ("pz", "f32"),
        ("vx", "f32"), ("vy", "f32"), ("vz", "f32"),
        ("vehicleHealth", "f32"), ("health", "u8"), ("armour", "u8"),
        ("weapon", "lo6"), ("extraKeys", "hi2"), ("siren", "u8"), ("gear", "u8"),
        ("trailerId", "u16"), ("train", "u32")]),
    "passenger": (24, [
        ("vehicleId", "u16"), ("seat", "lo6"), ("seatBits", "hi2"), ("weapon", "lo6"),
        ("extraKeys", "hi2"), ("health", "u8"), ("armour", "u8"),
        ("lrKeys", "u16"), ("udKeys", "u16"), ("keys", "u16"),
        ("px", "f32"), ("py", "f32"), ("pz", "f32")]),
    "aim": (31, [
        ("camMode", "u8"), ("fx", "f32"), ("fy", "f32"), ("fz", "f32"),
        ("cx", "f32"), ("cy", "f32"), ("cz", "f32"), ("aimZ", "f32"),
        ("zoom", "lo6"), ("weaponState", "hi2"), ("aspect", "u8")]),
    "trailer": (54, [
        ("trailerId", "u16"), ("px", "f32"), ("py", "f32"), ("pz", "f32"), ("b14", "bytes16"),
        ("vx", "f32"), ("vy", "f32"), ("vz", "f32"), ("b42", "bytes12")]),
    "unoccupied": (67, [
        ("vehicleId", "u16"), ("seat", "u8"),
        ("rx", "f32"), ("ry", "f32"), ("rz", "f32"), ("ux", "f32"), ("uy", "f32"), ("uz", "f32"),
        ("px", "f32"), ("py", "f32"), ("pz", "f32"), ("vx", "f32"), ("vy", "f32"), ("vz", "f32"),
        ("b51", "bytes12"), ("vehicleHealth", "f32")]),
    "spectator": (18, [
        ("lrKeys", "u16"), ("udKeys", "u16"), ("keys", "u16"),
        ("px", "f32"), ("py", "f32"), ("pz", "f32")]),
    "bullet": (40, [
        ("hitType", "u8"), ("hitId", "u16"),
        ("ox", "f32"), ("oy", "f32"), ("oz", "f32"), ("hx", "f32"), ("hy", "f32"), ("hz", "f32"),
        ("fx", "f32"), ("fy", "f32"), ("fz", "f32"), ("weapon", "u8")]),
    "stats": (8, [("money", "u32"), ("drunk", "u32")]),
}

RELAY_IDS = {"onfoot": 207, "incar": 200, "passenger": 211, "aim": 203, "trailer": 210,
             "unoccupied": 209, "bullet": 206}


def decode_record(kind, data):
    """Field values (floats as bit patterns, byte runs as lists) from the record's bytes."""
    size, fields = LAYOUTS[kind]
    if len(data) != size:
        raise AssertionError(f"{kind}: {len(data)} bytes, expected {size}")
    out, pos = {}, 0
    for name, t in fields:
        if t == "u8":
            out[name] = data[pos]
            pos += 1
        elif t == "u16":
            out[name] = struct.unpack_from("<H", data, pos)[0]
            pos += 2
        elif t in ("u32", "f32"):
            out[name] = struct.unpack_from("<I", data, pos)[0]
            pos += 4
        elif t == "lo6":
            out[name] = data[pos] & 0x3F
        elif t == "hi2":
            out[name] = data[pos] >> 6
            pos += 1
        elif t.startswith("bytes"):
            n = int(t[5:])
            out[name] = list(data[pos:pos + n])
            pos += n
    assert pos == size, (kind, pos)
    return out


# ---- bit reader for the relayed forms ----------------------------------------------------------

class Bits:
    def __init__(self, data, count):
        self.data, self.count, self.pos = data, count, 0

    def bit(self):
        if self.pos >= self.count:
            raise AssertionError("read past the end of the form")
        b = (self.data[self.pos // 8] >> (7 - self.pos % 8)) & 1
        self.pos += 1
        return b

    def byte(self):
        v = 0
        for _ in range(8):
            v = (v << 1) | self.bit()
        return v

    def uint(self, nbytes):
        return sum(self.byte() << (8 * i) for i in range(nbytes))

    def raw(self, n):
        return bytes(self.byte() for _ in range(n))


# ---- the compressed parts, predicted ---------------------------------------------------------

def quat_component(bits):
    v = abs(bits_f32(bits))
    if math.isnan(v):
        return 0
    scaled = f32(v * 65535.0)
    if not scaled < 4294967296.0:
        return 0xFFFF
    return int(scaled) & 0xFFFF


def unit_u16(x):
    if math.isnan(x):
        return 32767
    x = min(max(x, -1.0), 1.0)
    return int(f32(f32(x + 1.0) * 32767.5))


def vector_parts(xb, yb, zb):
    x, y, z = bits_f32(xb), bits_f32(yb), bits_f32(zb)
    s = f32(f32(x * x) + f32(y * y))
    s = f32(s + f32(z * z))
    m = f32(math.sqrt(s))
    if m > f32(0.00001):
        return f32_bits(m), [unit_u16(f32(c / m)) for c in (x, y, z)]
    return f32_bits(m), None


def nibble(v):
    if v == 0:
        return 0
    if v >= 100:
        return 15
    return v // 7


def vehicle_health_u16(bits):
    v = bits_f32(bits)
    if not v > 0.0:
        return 0
    if v >= 65535.0:
        return 0xFFFF
    return int(v)


# ---- relayed form checks -----------------------------------------------------------------------

def check_rotation(r, rec):
    signs = [r.bit() for _ in range(4)]
    want = [1 if bits_f32(rec[k]) < 0.0 else 0 for k in ("qw", "qx", "qy", "qz")]
    assert signs == want, ("rotation signs", signs, want)
    got = [r.uint(2) for _ in range(3)]
    assert got == [quat_component(rec[k]) for k in ("qx", "qy", "qz")], ("rotation", got)


def check_velocity(r, rec):
    m_bits, parts = vector_parts(rec["vx"], rec["vy"], rec["vz"])
    got_m = r.uint(4)
    assert got_m == m_bits, ("magnitude", hex(got_m), hex(m_bits))
    if parts is not None:
        got = [r.uint(2) for _ in range(3)]
        assert got == parts, ("unit vector", got, parts)


def check_optional_u16(r, value, what):
    present = r.bit()
    assert present == (1 if value else 0), (what, "presence")
    if present:
        assert r.uint(2) == value, what


def check_onfoot_relay(r, rec):
    check_optional_u16(r, rec["lrKeys"], "lrKeys")
    check_optional_u16(r, rec["udKeys"], "udKeys")
    assert r.uint(2) == rec["keys"]
    assert [r.uint(4) for _ in range(3)] == [rec["px"], rec["py"], rec["pz"]], "position"
    check_rotation(r, rec)
    assert r.byte() == (nibble(rec["health"]) << 4 | nibble(rec["armour"])), "health-armour"
    assert r.byte() == rec["weapon"], "weapon"
    assert r.byte() == rec["specialAction"]
    check_velocity(r, rec)
    surfing = r.bit()
    assert surfing == (1 if rec["surfingId"] else 0), "surfing presence"
    if surfing:
        assert r.uint(2) == rec["surfingId"]
        assert [r.uint(4) for _ in range(3)] == [rec["sx"], rec["sy"], rec["sz"]], "surf offset"
    animated = r.bit()
    assert animated == (1 if rec["animation"] else 0), "animation presence"
    if animated:
        assert r.uint(4) == rec["animation"]


def check_incar_relay(r, rec):
    for k in ("vehicleId", "lrKeys", "udKeys", "keys"):
        assert r.uint(2) == rec[k], k
    check_rotation(r, rec)
    assert [r.uint(4) for _ in range(3)] == [rec["px"], rec["py"], rec["pz"]], "position"
    check_velocity(r, rec)
    assert r.uint(2) == vehicle_health_u16(rec["vehicleHealth"]), "vehicle health"
    assert r.byte() == (nibble(rec["health"]) << 4 | nibble(rec["armour"])), "health-armour"
    assert r.byte() == rec["weapon"], "weapon"
    assert r.bit() == (1 if rec["siren"] else 0), "siren"
    assert r.bit() == (1 if rec["gear"] else 0), "gear"
    train = r.bit()
    assert train == (1 if rec["train"] else 0), "train presence"
    if train:
        assert r.uint(4) == rec["train"]
    check_optional_u16(r, rec["trailerId"], "trailer")


def check_relay(kind, pid, rec, record_bytes, nbits, form):
    r = Bits(form, nbits)
    assert r.byte() == RELAY_IDS[kind], "id"
    assert r.uint(2) == pid, "player id"
    if kind == "onfoot":
        check_onfoot_relay(r, rec)
    elif kind == "incar":
        check_incar_relay(r, rec)
    else:
        body = r.raw(LAYOUTS[kind][0])
        expected = bytearray(record_bytes)
        if kind == "passenger" and rec["weapon"] == 43:
            expected[10] &= ~0x04  # the camera's shutter is not passed on
        assert body == bytes(expected), "raw body"
    assert r.pos == nbits, ("bits left over", nbits - r.pos)
    assert len(form) == (nbits + 7) // 8


# ---- random records ----------------------------------------------------------------------------

SPECIAL_FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, 1e-6, -3e-6, 1.5, -2.0, 99.9, 1e20, -1e30,
                  3.4028234663852886e38, 1e-40, 999.9, 65535.0, 70000.0, -5.5]


def rand_float_bits(rng, compressed):
    """Any pattern for raw fields; finite values for the compressed ones."""
    roll = rng.random()
    if roll < 0.25:
        return f32_bits(f32(rng.choice(SPECIAL_FLOATS)))
    if roll < 0.6:
        return f32_bits(f32(rng.uniform(-1.2, 1.2)))
    if roll < 0.8:
        return f32_bits(f32(rng.uniform(-20000.0, 20000.0)))
    while True:
        b = rng.getrandbits(32)
        if not compressed or math.isfinite(bits_f32(b)):
            return b


COMPRESSED = {"onfoot": {"qw", "qx", "qy", "qz", "vx", "vy", "vz"},
              "incar": {"qw", "qx", "qy", "qz", "vx", "vy", "vz", "vehicleHealth"}}


def rand_record(rng, kind):
    rec = {}
    for name, t in LAYOUTS[kind][1]:
        zero = rng.random() < 0.2  # exercise every presence bit both ways
        if t == "u8":
            # The health-armour nibble boundaries turn up often enough to be checked.
            rec[name] = 0 if zero else rng.choice([rng.getrandbits(8), rng.getrandbits(8), 100, 99, 7, 6, 255])
        elif t == "u16":
            rec[name] = 0 if zero else rng.choice([rng.getrandbits(16), 0xFFFF, 1])
        elif t == "u32":
            rec[name] = 0 if zero else rng.getrandbits(32)
        elif t == "f32":
            rec[name] = rand_float_bits(rng, name in COMPRESSED.get(kind, ()))
        elif t == "lo6":
            rec[name] = rng.choice([43, rng.getrandbits(6)])
        elif t == "hi2":
            rec[name] = rng.getrandbits(2)
        else:
            rec[name] = [rng.getrandbits(8) for _ in range(int(t[5:]))]
    return rec


def tool_line(kind, pid, rec):
    values = []
    for name, _ in LAYOUTS[kind][1]:
        v = rec[name]
        values += v if isinstance(v, list) else [v]
    return " ".join([kind, str(pid)] + [str(v) for v in values])


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    rng = random.Random(0x5E1F)
    kinds = list(LAYOUTS)
    cases = []
    for i in range(count):
        kind = kinds[i % len(kinds)]
        cases.append((kind, rng.getrandbits(16), rand_record(rng, kind)))
    # Hand-picked: the shortest on-foot form, and a vehicle health just under 1000.
    quiet = {n: 0 for n, _ in LAYOUTS["onfoot"][1]}
    quiet["qw"] = f32_bits(1.0)
    cases.append(("onfoot", 0, quiet))
    car = rand_record(rng, "incar")
    car["vehicleHealth"] = f32_bits(f32(999.9))
    cases.append(("incar", 1, car))

    text = "".join(tool_line(k, p, r) + "\n" for k, p, r in cases)
    result = subprocess.run([tool], input=text, capture_output=True, text=True, check=True)
    lines = result.stdout.splitlines()
    assert len(lines) == len(cases), (len(lines), len(cases))

    failures = 0
    for (kind, pid, rec), line in zip(cases, lines):
        try:
            parts = line.split()
            assert len(parts) == 3, f"tool said {line!r}"
            record_bytes = bytes.fromhex(parts[0])
            got = decode_record(kind, record_bytes)
            for name in got:
                assert got[name] == rec[name], (name, got[name], rec[name])
            if kind in RELAY_IDS:
                check_relay(kind, pid, rec, record_bytes, int(parts[1]), bytes.fromhex(parts[2]))
            else:
                assert parts[1:] == ["-", "-"]
        except AssertionError as e:
            failures += 1
            if failures <= 10:
                print(f"FAIL {kind} pid={pid}: {e}\n  {tool_line(kind, pid, rec)}\n  {line}")
    quiet_bits = int(lines[-2].split()[1])
    if quiet_bits != 248:
        failures += 1
        print(f"FAIL shortest on-foot form is {quiet_bits} bits, expected 248")
    print(f"{len(cases)} records, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
