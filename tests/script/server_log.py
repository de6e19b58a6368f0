"""What the end-to-end checks of this folder share: a free loopback port, starting the server
program in a scratch directory on a generated server.cfg (no shell), and waiting for a line of
its log. Every wait is bounded."""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
SANITIZER_MARKS = ("AddressSanitizer", "LeakSanitizer", "runtime error:")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ServerLogMixin:
    """For a unittest.TestCase with self.dir (the scratch directory), self.proc (the server, or
    None) and a class attribute wait_seconds."""

    def make_scratch(self, prefix, gamemodes):
        """A scratch directory with gamemodes, filterscripts and scriptfiles folders and the given
        gamemodes ({file name: assembled script}) copied in, and a free port; no server yet."""
        self.dir = tempfile.mkdtemp(prefix=prefix, dir=os.getcwd())
        for sub in ("gamemodes", "filterscripts", "scriptfiles"):
            os.mkdir(os.path.join(self.dir, sub))
        for name, path in gamemodes.items():
            shutil.copy(path, os.path.join(self.dir, "gamemodes", name))
        self.port = free_udp_port()
        self.proc = None

    def launch(self, server, config_lines):
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("\n".join(config_lines) + "\n")
        self.proc = subprocess.Popen([server], cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def stop_server(self):
        """Ends the server (SIGTERM, then SIGKILL when it does not end in time), if it runs."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=self.wait_seconds)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=self.wait_seconds)
        self.proc.stdout.close()
        self.proc = None

    def assertEndsCleanlyOnSigterm(self):
        """The server ends by itself on SIGTERM with status 0, and no sanitizer spoke up on the
        way: the shutdown path frees what the run built up."""
        self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(timeout=self.wait_seconds)
        except subprocess.TimeoutExpired:
            self.fail("the server did not end on SIGTERM")
        output = self.proc.stdout.read().decode("latin-1")
        self.assertEqual(status, 0, output[-2000:])
        for mark in SANITIZER_MARKS:
            self.assertNotIn(mark, output)

    def remove_server(self):
        """Ends the server when it still runs and removes the scratch directory."""
        self.stop_server()
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        path = os.path.join(self.dir, "server_log.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [STAMP.sub("", line.rstrip("\n")) for line in f]

    def wait_for(self, line):
        deadline = time.monotonic() + self.wait_seconds
        while time.monotonic() < deadline:
            if line in self.log():
                return
            if self.proc.poll() is not None:
                self.fail("server ended (%s) before logging %r: %r"
                          % (self.proc.returncode, line, self.log()[-20:]))
            time.sleep(0.05)
        self.fail("no %r in the log within %s s: %r" % (line, self.wait_seconds, self.log()[-20:]))
