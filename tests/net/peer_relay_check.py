#!/usr/bin/env python3
"""Numbered messages and calls between two peer processes through a lossy UDP relay.

Usage: peer_relay_check.py <peer_test_server> <peer_test_client> [--count N] [--immediate]
                           [--drop P] [--seed S] [--library] [--secure] [--wrong-key]

The relay sits between the test client and the test server on 127.0.0.1. Every datagram, in
either direction, is dropped with probability P (default 0.2), sent twice with probability 0.1,
and held back by a random 0-4 ms, so datagrams also overtake each other. The client connects
through it (the cookie exchange included), sends N reliable-ordered messages and N calls, and
the server echoes each; both sides check that every number arrives exactly once and in order.
With --immediate both programs send from their main thread at once instead of queueing, while
their network threads run (the case a ThreadSanitizer build checks).

With --library both are library-role peers (no scrambling). With --secure the server answers with
the secure exchange and the client is told the server's public key, so every datagram after the
handshake is enciphered; with --wrong-key the client is told another key and must be refused.

The count used in CTest is small enough for a sanitizer build on 2 cores; run it by hand with
--count 100000 on a release build for the full exchange.
"""
import heapq
import random
import select
import socket
import subprocess
import sys
import threading
import time


class Relay(threading.Thread):
    def __init__(self, server_port, drop, seed):
        super().__init__(daemon=True)
        self.server = ("127.0.0.1", server_port)
        self.front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.front.bind(("127.0.0.1", 0))
        self.port = self.front.getsockname()[1]
        self.backs = {}        # client address -> socket facing the server
        self.clients = {}      # socket facing the server -> client address
        self.drop = drop
        self.rng = random.Random(seed)
        self.pending = []      # (due, n, socket, bytes, address)
        self.n = 0
        self.stats = {"seen": 0, "dropped": 0, "doubled": 0}
        self.stopping = False

    def schedule(self, sock, data, address):
        self.stats["seen"] += 1
        if self.rng.random() < self.drop:
            self.stats["dropped"] += 1
            return
        copies = 2 if self.rng.random() < 0.1 else 1
        if copies == 2:
            self.stats["doubled"] += 1
        for _ in range(copies):
            self.n += 1
            due = time.monotonic() + self.rng.random() * 0.004
            heapq.heappush(self.pending, (due, self.n, sock, data, address))

    def run(self):
        while not self.stopping:
            now = time.monotonic()
            while self.pending and self.pending[0][0] <= now:
                _, _, sock, data, address = heapq.heappop(self.pending)
                try:
                    sock.sendto(data, address)
                except OSError:
                    pass
            wait = 0.01 if not self.pending else max(0.0, self.pending[0][0] - now)
            readable, _, _ = select.select([self.front] + list(self.clients), [], [], wait)
            for sock in readable:
                data, address = sock.recvfrom(2048)
                if sock is self.front:
                    back = self.backs.get(address)
                    if back is None:
                        back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                        back.bind(("127.0.0.1", 0))
                        self.backs[address] = back
                        self.clients[back] = address
                    self.schedule(back, data, self.server)
                else:
                    self.schedule(self.front, data, self.clients[sock])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    server_program, client_program = sys.argv[1], sys.argv[2]
    args = sys.argv[3:]
    count, drop, seed, immediate, lifetime = 2000, 0.2, 12345, False, 500
    library = secure = wrong_key = False
    i = 0
    while i < len(args):
        if args[i] == "--count":
            count = int(args[i + 1]); i += 1
        elif args[i] == "--drop":
            drop = float(args[i + 1]); i += 1
        elif args[i] == "--seed":
            seed = int(args[i + 1]); i += 1
        elif args[i] == "--lifetime":
            lifetime = int(args[i + 1]); i += 1
        elif args[i] == "--immediate":
            immediate = True
        elif args[i] == "--library":
            library = True
        elif args[i] == "--secure":
            secure = True
        elif args[i] == "--wrong-key":
            secure = wrong_key = True
        i += 1
    extra = ["--immediate"] if immediate else []
    if library:
        extra.append("--library")

    server = subprocess.Popen([server_program, "--slots", "4", "--messages-limit", "100000000",
                               "--acks-limit", "100000000", "--hole-limit", "30000", "--lifetime", "600"] + extra +
                              (["--secure"] if secure else []),
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    lines = []
    try:
        first = server.stdout.readline().split()
        if len(first) != 2 or first[0] != "PORT":
            sys.exit("server did not start: %r" % first)
        server_port = int(first[1])
        client_key = []
        if secure:
            key = server.stdout.readline().split()
            if len(key) != 2 or key[0] != "KEY" or len(key[1]) != 72:
                sys.exit("server gave no key: %r" % key)
            key_bytes = bytearray.fromhex(key[1])
            if wrong_key:
                key_bytes[4 + 7] ^= 0x01  # a modulus byte
            client_key = ["--server-key", key_bytes.hex()]
        threading.Thread(target=lambda: lines.extend(iter(server.stdout.readline, "")), daemon=True).start()

        relay = Relay(server_port, drop, seed)
        relay.start()
        started = time.monotonic()
        client = subprocess.run([client_program, "--port", str(relay.port), "--key-port", str(server_port),
                                 "--count", str(count), "--window", "400", "--lifetime", str(lifetime), "--progress"] + extra + client_key,
                                stdout=subprocess.PIPE, text=True, timeout=lifetime + 60)
        elapsed = time.monotonic() - started
        relay.stopping = True
        print(client.stdout, end="")
        print("".join(lines[:20]), end="")
        print("relay: %(seen)d datagrams, %(dropped)d dropped, %(doubled)d doubled" % relay.stats)
        print("elapsed: %.1f s for %d messages and %d calls" % (elapsed, count, count))

        if wrong_key:
            refused = "REFUSED 35" in client.stdout.splitlines()
            connected = any(l.startswith("CONNECTED") for l in client.stdout.splitlines())
            if client.returncode == 0 or not refused or connected:
                sys.exit("FAIL: a client told another key was not refused (exit %d)" % client.returncode)
            print("PASS")
            return
        result = [l for l in client.stdout.splitlines() if l.startswith("RESULT")]
        if client.returncode != 0 or not result or result[0].split()[1] != "ok":
            sys.exit("FAIL: client exit %d, %r" % (client.returncode, result))
        expected = "%d %d 0" % (count, count)
        if not any(l.startswith("SUMMARY") and l.split(None, 2)[2].strip() == expected for l in lines):
            sys.exit("FAIL: the server's own tally differs: %r" % [l for l in lines if l.startswith("SUMMARY")])
        if relay.stats["dropped"] == 0 and drop > 0:
            sys.exit("FAIL: the relay dropped nothing")
        print("PASS")
    finally:
        try:
            server.stdin.close()
        except OSError:
            pass
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()


if __name__ == "__main__":
    main()
