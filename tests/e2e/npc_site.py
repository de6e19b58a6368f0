"""What the bot checks share: a scratch directory holding one velt-server's files and the bots'
npcmodes, the processes started there, and the check/wait helpers.

A check script imports this from its own directory (python puts it first on the path).
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def finish():
    """Ends the check: status 1 after any failed check."""
    if failures:
        sys.exit(1)
    print("ok")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout=WAIT):
    """The predicate's first true value within the timeout, else its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Site:
    """A scratch directory below the working directory with gamemodes/<gamemode>.vmb, each npcmode
    as npcmodes/<name>.vmb, npcmodes/recordings/, scriptfiles/ and a server.cfg on a free port;
    with npc_program, the bot program as ./velt-npc for ConnectNPC. close() stops every process
    started here and removes the directory."""

    def __init__(self, server, gamemode_vmb, gamemode, npcmodes, maxnpc, npc_program=None):
        self.server_program = server
        self.dir = tempfile.mkdtemp(prefix="velt-npc-", dir=os.getcwd())
        for sub in ("gamemodes", "npcmodes/recordings", "scriptfiles"):
            os.makedirs(self.path(sub))
        shutil.copy(gamemode_vmb, self.path("gamemodes", gamemode + ".vmb"))
        for name, vmb in npcmodes.items():
            shutil.copy(vmb, self.path("npcmodes", name + ".vmb"))
        if npc_program is not None:
            shutil.copy(npc_program, self.path("velt-npc"))
        self.port = free_udp_port()
        with open(self.path("server.cfg"), "w") as f:
            f.write("rcon_password npc-check-7q\nport %d\ngamemode0 %s 1\nannounce 0\nmaxnpc %d\n"
                    % (self.port, gamemode, maxnpc))
        self.server = None
        self.processes = []

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def start_server(self, wire=None):
        """Starts velt-server here; with the wire client module, also waits until it answers a
        ping and says whether it did."""
        self.server = subprocess.Popen([self.server_program], cwd=self.dir, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.processes.append(self.server)
        if wire is None:
            return True
        with wire.QueryClient("127.0.0.1", self.port, bind_host="127.0.0.3") as q:
            return check(wait_until(lambda: self.server.poll() is None and q.ping(b"npc!") is not None),
                         "the server answers no ping")

    def start_bot(self, npc_program, name, mode, output=subprocess.DEVNULL):
        """Starts a bot by hand, its file root (VMFILE) here."""
        bot = subprocess.Popen([npc_program, "-h", "127.0.0.1", "-p", str(self.port), "-n", name, "-m", mode],
                               cwd=self.dir, env=dict(os.environ, VMFILE=self.dir), stdin=subprocess.DEVNULL,
                               stdout=output, stderr=output)
        self.processes.append(bot)
        return bot

    def log(self):
        return self.read("server_log.txt")

    def read(self, name):
        """A file's text here, empty while it does not exist."""
        try:
            with open(self.path(name), encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def close(self):
        for process in self.processes:
            stop(process)
        shutil.rmtree(self.dir, ignore_errors=True)
