#!/usr/bin/env python3
"""Admission of the test server, from raw UDP datagrams that this script scrambles itself.

Usage: handshake_udp_check.py <peer_test_server> <ScrambleTable.h>

What a client sees before it has a connection: the cookie exchange ([24] -> [26] -> [24] with the
cookie XOR 0x52D7 -> [25][0], answered again when repeated while the slot waits), the unconnected
ping and its 5-byte answer, the 10-second ban of a sender of more than 512 bytes, the [36][0]
answer to a banned sender, and the 'server full' defence against more than 30 unverified slots
from one address. The messages are built here from
their byte layouts; the substitution table and key constant come from the header the C++ code
compiles. Senders bind 127.0.0.2 and up: 127.0.0.1 can never be banned.
"""
import queue
import re
import socket
import struct
import subprocess
import sys
import threading
import time

SEED = 0x5EED5EED
COOKIE_MASK = 0x52D7


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


class Scrambler:
    """Client side: checksum of the plain bytes (each masked with 0xAA, XORed together), then
    per byte the inverse substitution, odd positions also XORed with the key's low byte."""

    def __init__(self, table, constant, port):
        self.inverse = [0] * 256
        for scrambled, plain in enumerate(table):
            self.inverse[plain] = scrambled
        self.key_low = (port ^ constant) & 0xFF

    def encode(self, plain):
        check = 0
        for b in plain:
            check ^= b & 0xAA
        out = bytearray([check])
        for i, b in enumerate(plain):
            s = self.inverse[b]
            out.append(s ^ self.key_low if i % 2 else s)
        return bytes(out)


class Server:
    def __init__(self, program):
        self.proc = subprocess.Popen([program, "--slots", "40", "--seed", hex(SEED), "--cookie-logging", "1",
                                      "--lifetime", "60"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "PORT":
            sys.exit("server did not start: %r" % first)
        self.port = int(first[1])
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def expect_line(self, wanted, timeout=5.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            if line == wanted:
                return
        raise AssertionError("server never printed %r" % wanted)

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        self.expect_line("OK")

    def stop(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.close()
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()


class Client:
    def __init__(self, address, server_port, scrambler):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((address, 0))
        self.address = address
        self.port = self.sock.getsockname()[1]
        self.server = ("127.0.0.1", server_port)
        self.scrambler = scrambler
        self.learned_cookie = None

    def send(self, plain):
        self.sock.sendto(self.scrambler.encode(plain), self.server)

    def reply(self, timeout=2.0):
        self.sock.settimeout(timeout)
        try:
            data, _ = self.sock.recvfrom(2048)
            return data
        except socket.timeout:
            return None

    def cookie(self):
        """The cookie the server handed this address (it cannot be worked out from outside)."""
        if self.learned_cookie is None:
            self.send(bytes([24, 0, 0]))
            got = self.reply()
            assert got is not None and len(got) == 3 and got[0] == 26, "cookie reply %r" % (got,)
            self.learned_cookie = struct.unpack_from("<H", got, 1)[0]
        return self.learned_cookie

    def open_connection(self):
        """[24] with no cookie, [26] back, [24] with the cookie masked; returns the last reply."""
        self.learned_cookie = None
        self.send(bytes([24]) + struct.pack("<H", self.cookie() ^ COOKIE_MASK))
        return self.reply()

    def close(self):
        self.sock.close()


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    table, constant = load_table(sys.argv[2])
    server = Server(sys.argv[1])
    scrambler = Scrambler(table, constant, server.port)
    checks = 0
    try:
        # Cookie exchange, then a slot.
        a = Client("127.0.0.2", server.port, scrambler)
        assert a.open_connection() == bytes([25, 0])
        server.expect_line("LOG [connection] 127.0.0.2:%d requests connection cookie." % a.port)
        server.expect_line("EVENT incoming 0 127.0.0.2:%d" % a.port)
        # The same request again while the slot waits for its connection request (our answer
        # was lost): answered again, with the same slot.
        a.send(bytes([24]) + struct.pack("<H", a.cookie() ^ COOKIE_MASK))
        assert a.reply() == bytes([25, 0])
        checks += 1

        # Unconnected ping: [39] and the four echoed bytes, nothing more (no response set).
        p = Client("127.0.0.5", server.port, scrambler)
        p.send(bytes([7, 1, 2, 3, 4]))
        assert p.reply() == bytes([39, 1, 2, 3, 4])
        p.send(bytes([7, 1, 2, 3]))  # wrong length: dropped
        assert p.reply(0.3) is None
        checks += 1

        # 512 bytes from a sender without a slot: dropped, no ban. 513: banned for 10 s.
        p.send(bytes([99]) * 512)
        assert p.reply(0.3) is None
        p.send(bytes([7, 0, 0, 0, 9]))
        assert p.reply() == bytes([39, 0, 0, 0, 9]), "512 bytes must not ban"
        b = Client("127.0.0.4", server.port, scrambler)
        b.send(bytes([99]) * 513)
        assert b.reply(0.3) is None
        b.send(bytes([7, 0, 0, 0, 1]))
        assert b.reply() == bytes([36, 0]), "a banned sender gets [36][0]"
        server.command("advance 9000")
        b.send(bytes([7, 0, 0, 0, 2]))
        assert b.reply() == bytes([36, 0]), "still banned after 9 s"
        server.command("advance 1001")
        b.send(bytes([7, 0, 0, 0, 3]))
        assert b.reply() == bytes([39, 0, 0, 0, 3]), "the ban ends after 10 s"
        checks += 1

        # More than 30 unverified slots from one address: the 32nd request is refused silently,
        # logged, and the address banned.
        many = [Client("127.0.0.3", server.port, scrambler) for _ in range(32)]
        for i, c in enumerate(many[:31]):
            assert c.open_connection() == bytes([25, 0]), "slot %d" % i
        last = many[31]
        last.send(bytes([24]) + struct.pack("<H", last.cookie() ^ COOKIE_MASK))
        assert last.reply(0.5) is None
        server.expect_line("LOG Blocking 127.0.0.3 due to a 'server full' attack (1)")
        last.send(bytes([7, 0, 0, 0, 0]))
        assert last.reply() == bytes([36, 0])
        for c in many:
            c.close()
        checks += 1
        print("PASS: %d groups of admission checks" % checks)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
