#!/usr/bin/env python3
"""The velt-server process from the outside: started without a shell in a scratch directory with
a generated server.cfg, checked through its exit status, its standard output, its log file and
the signals it answers. Every wait is bounded and every process is ended by its own id.

usage: server_process.py <path to velt-server>
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = None
WAIT = 20.0  # seconds; sanitizer builds start slowly on busy machines
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class ServerProcessTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velt_e2e_", dir=os.getcwd())
        os.mkdir(os.path.join(self.dir, "gamemodes"))
        with open(os.path.join(self.dir, "gamemodes", "lobby.vmb"), "wb") as f:
            f.write(b"\0")
        self.proc = None
        self.port = free_udp_port()

    def tearDown(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=WAIT)
        if self.proc is not None:
            self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def write_config(self, *lines):
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def base_config(self, *extra):
        self.write_config("rcon_password 7hx-e2e", "port %d" % self.port, "gamemode0 lobby 1",
                          "announce 0", *extra)

    def start(self):
        self.proc = subprocess.Popen([SERVER], cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def finish(self):
        """Exit status and standard output of a process that ends by itself."""
        out, _ = self.proc.communicate(timeout=WAIT)
        return self.proc.returncode, out.decode("utf-8", "replace")

    def log(self):
        path = os.path.join(self.dir, "server_log.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [STAMP.sub("", line.rstrip("\n")) for line in f]

    def wait_for(self, line, count=1):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if self.log().count(line) >= count:
                return
            if self.proc.poll() is not None:
                self.fail("server ended (%s) before logging %r" % (self.proc.returncode, line))
            time.sleep(0.05)
        self.fail("no %r in the log within %s s: %r" % (line, WAIT, self.log()[-20:]))

    def test_default_password_refuses_to_start_without_binding(self):
        self.write_config("port %d" % self.port, "gamemode0 lobby 1", "announce 0")
        # Were the port bound, this socket (without address reuse) would make it fail with 1.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as held:
            held.bind(("0.0.0.0", self.port))
            self.start()
            status, out = self.finish()
        self.assertEqual(status, 0)
        log = self.log()
        self.assertIn("Error: Your password must be changed from the default password, please change it.", log)
        self.assertFalse(any("Port in use?" in line for line in log))
        self.assertNotIn("Started server", out)

    def test_runs_answers_signals_and_shuts_down_in_order(self):
        with open(os.path.join(self.dir, "velt.ban"), "w") as f:
            f.write("10.0.0.1 [01/01/24 | 10:00:00] Eve - spam\r\n")
        self.base_config("maxplayers 5000", "hostname e2e")
        self.start()
        self.wait_for("Number of vehicle models: 0")

        log = self.log()
        banner = ["VELT Dedicated Server", "----------------------", "v0.3.8-RC4-1"]
        start = log.index(banner[0])
        self.assertEqual(log[start:start + 3], banner)
        self.assertEqual(log[start + 3], "")
        self.assertIn("Loaded log file: \"server_log.txt\".", log[:start])
        self.assertEqual(log.count(" Loaded: velt.ban"), 1)

        # SIGQUIT is ignored; SIGUSR1 reopens the log; SIGUSR2 reloads the edited ban file.
        self.proc.send_signal(signal.SIGQUIT)
        self.proc.send_signal(signal.SIGUSR1)
        self.wait_for("Reloaded log file: \"server_log.txt\".")
        with open(os.path.join(self.dir, "velt.ban"), "w") as f:
            f.write("10.0.0.2\n")
        self.proc.send_signal(signal.SIGUSR2)
        self.wait_for(" Loaded: velt.ban", count=2)
        self.assertIsNone(self.proc.poll())

        self.proc.send_signal(signal.SIGTERM)
        status, out = self.finish()
        self.assertEqual(status, 0)
        self.assertIn("\nStarted server on port: %d, with maxplayers: 1000 lanmode is OFF.\n" % self.port, out)
        log = [line for line in self.log() if line]
        order = [line for line in log if line in
                 ("Filterscripts", "Number of vehicle models: 0", "--- Server Shutting Down.")]
        self.assertEqual(order, ["Filterscripts", "Number of vehicle models: 0", "--- Server Shutting Down."])
        self.assertEqual(log[-1], "--- Server Shutting Down.")

    def test_port_held_by_another_socket_ends_with_status_1(self):
        self.base_config()
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as held:
            held.bind(("0.0.0.0", self.port))
            self.start()
            status, _ = self.finish()
        self.assertEqual(status, 1)
        log = self.log()
        self.assertIn("Unable to start server on port: %d. Port in use?" % self.port, log)
        self.assertNotIn("--- Server Shutting Down.", log)

    def test_missing_gamemode_ends_with_status_1(self):
        self.write_config("rcon_password 7hx-e2e", "port %d" % self.port, "gamemode0 nothere 1",
                          "announce 0")
        self.start()
        status, _ = self.finish()
        self.assertEqual(status, 1)
        log = self.log()
        self.assertIn("I couldn't load any gamemode scripts. Please verify your server.cfg", log)
        self.assertIn("It needs a gamemode0 line at the very least.", log)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    SERVER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
