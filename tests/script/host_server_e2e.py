#!/usr/bin/env python3
"""The server with its real script hosts, from the outside: the demo gamemode and its
filterscripts start in order, console commands load, unload and reload filterscripts (sent by a
filterscript through SendRconCommand, and by a remote-console client), a script unloads itself
from inside its own timer, and shutdown ends the gamemode before the filterscripts.

usage: host_server_e2e.py <server program> <dir with gamemodes/ and filterscripts/>

Started without a shell in a scratch directory; every wait is bounded and the process is ended by
its own id.
"""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = None
SCRIPTS = None
WAIT = 30.0  # seconds; sanitizer builds start slowly on busy machines
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
PASSWORD = "e2e-hosts-pw"


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rcon_request(port, password, command):
    """A remote-console datagram: "VELT", the server's address and port as addressed, opcode 'x',
    then the password and the command, each after its 16-bit little-endian length."""
    pw = password.encode()
    cmd = command.encode()
    return (b"VELT" + socket.inet_aton("127.0.0.1") + struct.pack("<H", port) + b"x" +
            struct.pack("<H", len(pw)) + pw + struct.pack("<H", len(cmd)) + cmd)


def parse_rcon_reply(data):
    """The text of one reply datagram (header, u16 length, text), or None when malformed."""
    if len(data) < 13 or data[:4] != b"VELT" or data[10:11] != b"x":
        return None
    (length,) = struct.unpack_from("<H", data, 11)
    if 13 + length > len(data):
        return None
    return data[13:13 + length].decode("utf-8", "replace")


class HostServerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velt_hosts_e2e_", dir=os.getcwd())
        for sub in ("gamemodes", "filterscripts"):
            shutil.copytree(os.path.join(SCRIPTS, sub), os.path.join(self.dir, sub))
        os.mkdir(os.path.join(self.dir, "scriptfiles"))
        self.port = free_udp_port()
        self.proc = None

    def tearDown(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=WAIT)
        if self.proc is not None:
            self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, filterscripts):
        lines = ["rcon_password " + PASSWORD, "port %d" % self.port, "bind 127.0.0.1",
                 "gamemode0 demo 1", "filterscripts " + filterscripts, "announce 0",
                 "query 1", "rcon 1", "sleep 5", "timestamp 1", "output 1"]
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.proc = subprocess.Popen([SERVER], cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        out, _ = self.proc.communicate(timeout=WAIT)
        return self.proc.returncode, out.decode("utf-8", "replace")

    def log(self):
        path = os.path.join(self.dir, "server_log.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [STAMP.sub("", line.rstrip("\n")) for line in f]

    def wait_for(self, line):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if line in self.log():
                return
            if self.proc.poll() is not None:
                self.fail("server ended (%s) before logging %r: %r" %
                          (self.proc.returncode, line, self.log()[-20:]))
            time.sleep(0.05)
        self.fail("no %r in the log within %s s: %r" % (line, WAIT, self.log()[-20:]))

    def assertInOrder(self, expected, log):
        """`expected` appears in `log` as a subsequence, in this order."""
        at = 0
        for line in expected:
            try:
                at = log.index(line, at) + 1
            except ValueError:
                self.fail("%r missing (or out of order) after line %d of %r" % (line, at, log))

    def test_start_console_commands_from_a_script_and_shutdown(self):
        self.start("greeter watcher driver")
        self.wait_for("demo: main resumed")
        self.assertInOrder([
            "Filterscripts",
            "  Loading filterscript 'greeter.vmb'...",
            "greeter: loaded",
            "  Loading filterscript 'watcher.vmb'...",
            "watcher: loaded",
            "  Loading filterscript 'driver.vmb'...",
            "  Loaded 3 filterscripts.",
            "demo: OnGameModeInit",
            "watcher: gamemode started",
            "demo: main started, sleeping 2 s",
            "Number of vehicle models: 0",
            "demo: main resumed",
        ], self.log())

        # The driver filterscript sends one console command per timer, the last one unloading
        # itself from inside that timer's public.
        self.wait_for("  Filterscript 'driver.vmb' unloaded.")
        self.assertInOrder([
            "greeter: unloaded",
            "  Filterscript 'greeter.vmb' unloaded.",
            "greeter: loaded",
            "  Filterscript 'greeter.vmb' loaded.",
            "watcher: unloaded",
            "  Filterscript 'watcher.vmb' unloaded.",
            "watcher: loaded",
            "  Filterscript 'watcher.vmb' loaded.",
            "  Filterscript 'driver.vmb' unloaded.",
        ], self.log())
        time.sleep(0.5)
        self.assertIsNone(self.proc.poll())

        status, _ = self.stop()
        self.assertEqual(status, 0)
        log = self.log()
        shutdown = log.index("--- Server Shutting Down.")
        self.assertInOrder(["demo: OnGameModeExit", "watcher: gamemode ended", "greeter: unloaded",
                            "watcher: unloaded"], log[shutdown:])

    def rcon(self, sock, command, password=PASSWORD, expect=None):
        """Sends one remote-console command; returns its reply lines (until `expect` arrives or
        the replies stop)."""
        sock.sendto(rcon_request(self.port, password, command), ("127.0.0.1", self.port))
        lines = []
        deadline = time.monotonic() + 5.0
        while time.monotonic() < deadline:
            sock.settimeout(max(0.05, deadline - time.monotonic()))
            try:
                data, _ = sock.recvfrom(4096)
            except socket.timeout:
                break
            text = parse_rcon_reply(data)
            if text is not None:
                lines.append(text)
                if expect is not None and text == expect:
                    break
        time.sleep(0.05)  # the list gate drops requests closer than 25 ms
        return lines

    def test_remote_console_loads_unloads_and_reloads(self):
        self.start("greeter")
        self.wait_for("demo: main started, sleeping 2 s")
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            sock.bind(("127.0.0.1", 0))
            if not self.rcon(sock, "echo ping", expect="ping"):
                self.skipTest("no remote-console reply: this server build answers no queries yet")
            self.assertIn("  Filterscript 'watcher.vmb' loaded.",
                          self.rcon(sock, "loadfs watcher", expect="  Filterscript 'watcher.vmb' loaded."))
            self.assertIn("  Filterscript 'watcher.vmb' load failed.",
                          self.rcon(sock, "loadfs watcher", expect="  Filterscript 'watcher.vmb' load failed."))
            self.assertIn("  Filterscript 'greeter.vmb' loaded.",
                          self.rcon(sock, "reloadfs greeter", expect="  Filterscript 'greeter.vmb' loaded."))
            self.assertIn("  Filterscript 'watcher.vmb' unloaded.",
                          self.rcon(sock, "unloadfs watcher", expect="  Filterscript 'watcher.vmb' unloaded."))
        self.assertInOrder(["greeter: unloaded", "greeter: loaded", "watcher: unloaded"],
                           self.log())
        status, _ = self.stop()
        self.assertEqual(status, 0)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    SERVER = os.path.abspath(sys.argv.pop(1))
    SCRIPTS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
