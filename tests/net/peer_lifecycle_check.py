#!/usr/bin/env python3
"""How connections between two peer processes end, seen from the test server.

Usage: peer_lifecycle_check.py <peer_test_server> <peer_test_client>

- A connected client shows its pings in the server's getters.
- A client stopped with SIGSTOP is reported lost once "playertimeout" (3 s here) has passed
  without answers, and not before.
- A client that closes gracefully is reported closed, and sees its own close.
- A client that never joins is kicked 30 s after its slot was given (the server's clock is moved
  forward instead of waiting), with the log line, and sees the disconnection notice.
- A wrong password is refused.
"""
import os
import queue
import signal
import subprocess
import sys
import threading
import time

TIMEOUT_MS = 3000


class Lines:
    def __init__(self, proc):
        self.queue = queue.Queue()
        self.seen = []
        threading.Thread(target=self._pump, args=(proc,), daemon=True).start()

    def _pump(self, proc):
        for line in proc.stdout:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def wait_for(self, predicate, timeout, what):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                line = self.queue.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                break
            self.seen.append(line)
            if predicate(line):
                return line
        raise AssertionError("timed out waiting for %s; seen %r" % (what, self.seen[-10:]))


def start_server(program):
    proc = subprocess.Popen([program, "--timeout", str(TIMEOUT_MS), "--password", "pw", "--lifetime", "90"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    first = proc.stdout.readline().split()
    if len(first) != 2 or first[0] != "PORT":
        sys.exit("server did not start: %r" % first)
    return proc, int(first[1]), Lines(proc)


def start_client(program, port, *extra):
    proc = subprocess.Popen([program, "--port", str(port), "--lifetime", "60"] + list(extra),
                            stdout=subprocess.PIPE, text=True, bufsize=1)
    return proc, Lines(proc)


def command(server, lines, text):
    server.stdin.write(text + "\n")
    server.stdin.flush()
    lines.wait_for(lambda l: l == "OK", 5, "OK after " + text)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    server_program, client_program = sys.argv[1], sys.argv[2]
    server, port, out = start_server(server_program)
    clients = []
    try:
        # Pings, then a stopped client is lost after the timeout.
        c, c_out = start_client(client_program, port, "--password", "pw", "--idle", "50")
        clients.append(c)
        connected = out.wait_for(lambda l: l.startswith("EVENT connected"), 10, "connected")
        slot = connected.split()[2]
        time.sleep(0.5)
        server.stdin.write("pings\n")
        server.stdin.flush()
        ping = out.wait_for(lambda l: l.startswith("PING " + slot), 5, "ping line").split()
        average, last, lowest = int(ping[2]), int(ping[3]), int(ping[4])
        assert 0 <= lowest <= last < 1200 and 0 <= average < 1200, ping
        out.wait_for(lambda l: l == "OK", 5, "OK")

        os.kill(c.pid, signal.SIGSTOP)
        stopped = time.monotonic()
        out.wait_for(lambda l: l.startswith("EVENT lost " + slot), 30, "lost")
        took = time.monotonic() - stopped
        os.kill(c.pid, signal.SIGCONT)
        assert took >= TIMEOUT_MS / 1000.0 - 0.2, "lost after %.1f s, before the timeout" % took
        print("stopped client lost after %.1f s (timeout %.1f s)" % (took, TIMEOUT_MS / 1000.0))

        # A graceful close.
        g, g_out = start_client(client_program, port, "--password", "pw", "--count", "10", "--close")
        clients.append(g)
        out.wait_for(lambda l: l.startswith("EVENT closed"), 15, "closed")
        g_out.wait_for(lambda l: l == "CLOSED", 15, "the client's own close")
        assert g.wait(timeout=15) == 0

        # Never joins: kicked once 30 s have passed on the server's clock.
        k, k_out = start_client(client_program, port, "--password", "pw", "--no-join", "--idle", "50")
        clients.append(k)
        out.wait_for(lambda l: l.startswith("EVENT connected"), 10, "connected")
        time.sleep(0.5)  # let everything in flight be acknowledged
        command(server, out, "advance 29000")
        time.sleep(0.3)
        assert not any("Kicking" in l for l in out.seen), "kicked too early"
        command(server, out, "advance 1200")
        out.wait_for(lambda l: l == "LOG Kicking 127.0.0.1 because they didn't logon to the game.", 5, "kick line")
        k_out.wait_for(lambda l: l == "EVENT 32", 10, "the disconnection notice at the client")

        # Wrong password.
        w, w_out = start_client(client_program, port, "--password", "nope", "--idle", "5")
        clients.append(w)
        w_out.wait_for(lambda l: l == "REFUSED 37", 15, "bad password")
        print("PASS")
    finally:
        for c in clients:
            try:
                os.kill(c.pid, signal.SIGCONT)
            except OSError:
                pass
            c.kill()
            c.wait()
        server.stdin.close()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()


if __name__ == "__main__":
    main()
