"""The test-build server (velt-server-test) as the game-protocol end-to-end tests use it: started
without a shell in a scratch directory with a generated server.cfg, reached through the
independent wire client of tests/wire, and checked at the end for a clean exit without any
sanitizer report. Every wait is bounded; the process is ended by its own id.
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wire"))
import velt_wire as vw  # noqa: E402

WAIT = 20.0  # seconds; sanitizer builds start slowly on busy machines
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
SANITIZER_MARKS = ("AddressSanitizer", "LeakSanitizer", "runtime error:", "UndefinedBehaviorSanitizer")
RCON_PASSWORD = "e2e-Pw7"


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class Server:
    """`gamemode`: a script image to run as the gamemode (the stand-in hosts of velt-server-test
    need none); `ready`: the log line that says the server is up."""

    def __init__(self, binary, table, *config, gamemode=None, ready="Number of vehicle models: 0"):
        self.dir = tempfile.mkdtemp(prefix="velt_protocol_", dir=os.getcwd())
        os.mkdir(os.path.join(self.dir, "gamemodes"))
        if gamemode is not None:
            shutil.copy(gamemode, os.path.join(self.dir, "gamemodes", "lobby.vmb"))
        else:
            with open(os.path.join(self.dir, "gamemodes", "lobby.vmb"), "wb") as f:
                f.write(b"\0")
        self.port = free_udp_port()
        lines = ["rcon_password " + RCON_PASSWORD, "port %d" % self.port, "gamemode0 lobby 1",
                 "announce 0", "stream_rate 500", "stream_distance 50", "maxnpc 0"] + list(config)
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.output_path = os.path.join(self.dir, "output.txt")
        self.output = open(self.output_path, "wb")
        self.proc = subprocess.Popen([binary], cwd=self.dir, stdout=self.output,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.scrambler = vw.Scrambler.from_header(table, self.port)
        self.clients = []
        self.wait_for(ready)

    # ---- the process ------------------------------------------------------------------------
    def alive(self):
        return self.proc.poll() is None

    def log(self):
        path = os.path.join(self.dir, "server_log.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="latin-1") as f:
            return [STAMP.sub("", line.rstrip("\n")) for line in f]

    def wait_for(self, line, count=1, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.log().count(line) >= count:
                return
            if not self.alive():
                raise AssertionError("server ended (%s) before logging %r:\n%s"
                                     % (self.proc.returncode, line, self.report()))
            time.sleep(0.05)
        raise AssertionError("no %r in the log within %s s: %r" % (line, timeout, self.log()[-20:]))

    def report(self):
        self.output.flush()
        with open(self.output_path, encoding="latin-1") as f:
            return f.read()

    def stop(self):
        """SIGTERM; returns (exit status, everything the process printed)."""
        for conn in self.clients:
            conn.close()
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=WAIT)
        self.output.close()
        with open(self.output_path, encoding="latin-1") as f:
            text = f.read()
        return self.proc.returncode, text

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    # ---- clients ----------------------------------------------------------------------------
    def connect(self, bind_host="127.0.0.2", **options):
        conn = vw.Connection("127.0.0.1", self.port, self.scrambler, bind_host=bind_host, **options)
        self.clients.append(conn)
        conn.connect(timeout=10)
        return conn

    def join(self, name, bind_host="127.0.0.2", **fields):
        """A connected, joined player: (connection, GameInit)."""
        conn = self.connect(bind_host)
        return conn, vw.join(conn, name, timeout=10, **fields)


def assert_clean_exit(server):
    """Stops the server; it must end with status 0 and without a sanitizer report."""
    status, output = server.stop()
    for mark in SANITIZER_MARKS:
        if mark in output:
            raise AssertionError("%s in the server's output:\n%s" % (mark, output[-4000:]))
    if status != 0:
        raise AssertionError("server ended with status %s:\n%s" % (status, output[-4000:]))


def drain(conn):
    while conn.receive(0) is not None:
        pass


def next_client_message(conn, timeout=5.0):
    """The text of the next client message."""
    return vw.decode_client_message(conn.expect_rpc(vw.Rpc.ClientMessage, timeout)).text.decode("latin-1")
