#!/usr/bin/env python3
"""Sends real UDP datagrams, scrambled by this script's own scrambler, to the socket probe and
checks what reaches its game-datagram handler and its query inbox.

Usage: scramble_udp_check.py <socket_probe program> <ScrambleTable.h>

The substitution table and the key constant are read from the same header the C++ code
compiles, so the two sides can never disagree about them; the scrambling steps themselves are
written here independently.
"""
import queue
import random
import re
import socket
import subprocess
import sys
import threading
import time

DEADLINE_S = 20.0


def load_table(header_path):
    text = open(header_path, encoding="ascii").read()
    body = re.search(r"kDescrambleTable\s*=\s*\{(.*?)\};", text, re.S)
    const = re.search(r"kScrambleKeyConstant\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;", text)
    if not body or not const:
        sys.exit("cannot find the table or the key constant in " + header_path)
    table = [int(v, 16) for v in re.findall(r"0x[0-9A-Fa-f]{1,2}", body.group(1))]
    if sorted(table) != list(range(256)):
        sys.exit("the table is not a permutation of 0..255")
    return table, int(const.group(1), 0)


class Codec:
    """The client side: checksum over the plain bytes, then per byte the inverse table and, at
    odd payload positions, the key's low byte."""

    def __init__(self, table, constant, port):
        self.descramble_table = table
        self.scramble_table = [0] * 256
        for scrambled, plain in enumerate(table):
            self.scramble_table[plain] = scrambled
        self.key_low = (port ^ constant) & 0xFF

    @staticmethod
    def checksum(plain):
        c = 0
        for b in plain:
            c ^= b & 0xAA
        return c

    def encode(self, plain):
        out = bytearray([self.checksum(plain)])
        for i, b in enumerate(plain):
            s = self.scramble_table[b]
            out.append(s ^ self.key_low if i % 2 else s)
        return bytes(out)

    def decode(self, wire):
        """(plain bytes, checksum good) as the server must see them."""
        plain = bytes(self.descramble_table[(b ^ self.key_low) if i % 2 else b]
                      for i, b in enumerate(wire[1:]))
        return plain, self.checksum(plain) == wire[0]


class Probe:
    def __init__(self, program):
        self.proc = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []  # every DATA and QUERY line, in order of arrival
        threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next_line(self, until):
        try:
            return self.lines.get(timeout=max(0.0, until - time.monotonic()))
        except queue.Empty:
            return None

    def wait_for(self, wanted, until):
        """Reads lines up to `wanted`, keeping the datagram lines met on the way."""
        while True:
            line = self.next_line(until)
            if line is None:
                sys.exit("timed out waiting for %r (after %d datagram lines)" % (wanted, len(self.seen)))
            if line.startswith(("DATA", "QUERY")):
                self.seen.append(line)
            if line == wanted:
                return

    def command(self, text, until):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        self.wait_for("OK", until)


def main():
    program, header = sys.argv[1], sys.argv[2]
    table, constant = load_table(header)
    until = time.monotonic() + DEADLINE_S
    probe = Probe(program)
    first = probe.next_line(until)
    if not first or not first.startswith("PORT "):
        sys.exit("probe did not report its port: %r" % first)
    port = int(first.split()[1])
    codec = Codec(table, constant, port)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    my_port = sock.getsockname()[1]
    expected_data, expected_queries = [], []
    sent = 0

    def send(wire):
        nonlocal sent
        sock.sendto(wire, ("127.0.0.1", port))
        sent += 1
        if sent % 64 == 0:
            time.sleep(0.005)  # stay far below the probe's receive buffer

    def expect_data(plain):
        expected_data.append("DATA %d %d %s" % (my_port, len(plain), plain.hex() if plain else "-"))

    def expect_query(wire):
        expected_queries.append("QUERY %d %d %s" % (my_port, len(wire), wire.hex()))

    rng = random.Random(2024)

    # Good datagrams arrive with exactly their plain bytes.
    good = [b"\x14", b"\x14\x00", bytes(range(256)) * 2, bytes([0x55] * 9),
            bytes(rng.randrange(256) for _ in range(1400))]
    for plain in good:
        send(codec.encode(plain))
        expect_data(plain)

    # A flipped checksum bit is always refused; a flip inside the payload gets through only when
    # the changed plain byte leaves the checksum as it was, and then with exactly that byte.
    base = bytes([0x14, 0x80, 0x21, 0xC3, 0x7E])
    wire = codec.encode(base)
    refused = 0
    for byte in range(len(wire)):
        for bit in range(8):
            bad = bytearray(wire)
            bad[byte] ^= 1 << bit
            bad = bytes(bad)
            send(bad)
            plain, ok = codec.decode(bad)
            if ok:
                expect_data(plain)
            else:
                refused += 1
    if refused < 8 + 1:
        sys.exit("the flip table should refuse at least every checksum flip")

    # Wrong key: the odd positions come out garbled and the checksum almost always fails; the
    # outcome is exactly what the server's steps give.
    other = Codec(table, constant, port ^ 0x01)
    odd = other.encode(b"\x14\x33\x44\x55")
    plain, ok = codec.decode(odd)
    send(odd)
    if ok:
        expect_data(plain)

    # A lone checksum byte: 0 is an empty datagram handed over as such, anything else is refused.
    send(b"\x00")
    expect_data(b"")
    send(b"\x02")

    # Queries never reach the descrambler; a cut header is consumed without reaching anything.
    header_bytes = b"VELT" + bytes([127, 0, 0, 1]) + port.to_bytes(2, "little")
    for op in (b"i", b"r", b"c", b"d", b"x\x03\x00abc\x04\x00exit"):
        q = header_bytes + op
        send(q)
        expect_query(q)
    ping = header_bytes + b"p" + b"\x01\x02\x03\x04"
    send(ping)
    expect_query(ping)
    send(b"VELT\x01\x02")       # too short for a header: consumed, no reply
    send(b"VELT")               # not a query: descrambled and refused ('V' fails the checksum)

    def sync(tag):
        """A good datagram whose arrival proves everything sent before it was handled."""
        plain = b"\x15sync-" + tag
        send(codec.encode(plain))
        expect_data(plain)
        probe.wait_for(expected_data[-1], until)

    # While the game is not running, "VELT" datagrams are game datagrams (and fail the checksum).
    # Everything sent so far must be handled before the flag flips, or a query still waiting in
    # the socket buffer would be judged by the new setting.
    sync(b"queries")
    probe.command("running 0", until)
    send(header_bytes + b"i")
    sync(b"stopped")
    probe.command("running 1", until)
    send(header_bytes + b"r")
    expect_query(header_bytes + b"r")

    marker = b"\x15end-of-test"
    send(codec.encode(marker))
    expect_data(marker)

    probe.wait_for(expected_data[-1], until)
    probe.proc.stdin.close()
    tail = []
    while True:
        line = probe.next_line(until)
        if line is None:
            break
        tail.append(line)
    lines = probe.seen + tail
    got_data = [l for l in lines if l.startswith("DATA")]
    got_queries = [l for l in lines if l.startswith("QUERY")]
    probe.proc.wait(timeout=max(0.1, until - time.monotonic()))
    sock.close()

    failures = 0
    for name, want, got in (("data", expected_data, got_data), ("query", expected_queries, got_queries)):
        if want != got:
            failures += 1
            print("%s lines differ: expected %d, got %d" % (name, len(want), len(got)))
            for i, (w, g) in enumerate(zip(want, got)):
                if w != g:
                    print("  first difference at %d:\n    want %s\n    got  %s" % (i, w[:120], g[:120]))
                    break
    if "DROPPED 0" not in tail:
        failures += 1
        print("queries were dropped: %r" % tail)
    if probe.proc.returncode != 0:
        failures += 1
        print("probe exit status %d" % probe.proc.returncode)
    checks = 4
    print("%d passed, %d failed" % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
