"""velt-npc against velt-server, both as processes started by the test, and an independent wire
client (tests/wire/velt_wire) as a player:

- with "maxnpc" 1 the bot joins in order (its npcmode notes init and main, then connect with its
  id, spawn, and the timer it set), the server logs its join, and a second bot is refused and
  ends with status 1: the first one counts against "maxnpc";
- a player who joins and walks next to the bot is streamed in to it: the npcmode notes the
  player's id from OnPlayerStreamIn;
- stopped with SIGTERM, the bot leaves cleanly: the server logs it leaving with the quit reason
  within a second, and the bot ends with status 0;
- with "maxnpc" 0 the first bot is refused and ends with status 1.

The npcmode writes its notes into "npc_watch.txt" below its file root (VMFILE).

usage: npc_join_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                         <tests/wire directory>
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402

WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
SPAWN = (10.0, 20.0, 3.0)  # the gamemode's one class

failures = []
processes = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


class Site:
    """A scratch directory holding one server's files, the bot's npcmode and the bot's notes."""

    def __init__(self, maxnpc):
        self.dir = tempfile.mkdtemp(prefix="velt-npc-join-", dir=os.getcwd())
        os.makedirs(os.path.join(self.dir, "gamemodes"))
        os.makedirs(os.path.join(self.dir, "npcmodes"))
        os.makedirs(os.path.join(self.dir, "scriptfiles"))
        shutil.copy(GAMEMODE_VMB, os.path.join(self.dir, "gamemodes", "npc_classes.vmb"))
        shutil.copy(NPCMODE_VMB, os.path.join(self.dir, "npcmodes", "watch.vmb"))
        self.port = free_udp_port()
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("rcon_password npc-e2e-7q\nport %d\ngamemode0 npc_classes 1\nannounce 0\n"
                    "maxnpc %d\n" % (self.port, maxnpc))
        self.server = None

    def start_server(self):
        self.server = subprocess.Popen([SERVER], cwd=self.dir, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        processes.append(self.server)
        with vw.QueryClient("127.0.0.1", self.port, bind_host="127.0.0.3") as q:
            return check(wait_until(lambda: self.server.poll() is None and q.ping(b"npc!") is not None),
                         "the server answers no ping")

    def start_bot(self, name):
        env = dict(os.environ, VMFILE=self.dir)
        bot = subprocess.Popen([NPC, "-h", "127.0.0.1", "-p", str(self.port), "-n", name, "-m", "watch"],
                               cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        processes.append(bot)
        return bot

    def log(self):
        try:
            with open(os.path.join(self.dir, "server_log.txt"), encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def notes(self):
        try:
            with open(os.path.join(self.dir, "npc_watch.txt"), encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        if self.server is not None and self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def ends_refused(bot, name):
    try:
        out, err = bot.communicate(timeout=WAIT)
    except subprocess.TimeoutExpired:
        bot.kill()
        bot.communicate()
        check(False, "%s: still running, expected a refusal" % name)
        return
    check(bot.returncode == 1, "%s: exit status %s, expected 1" % (name, bot.returncode))
    check(out == b"" and err == b"", "%s: unexpected output %r %r" % (name, out, err))


def joined_case():
    site = Site(maxnpc=1)
    try:
        if not site.start_server():
            return
        bot = site.start_bot("Bot")
        check(wait_until(lambda: "[npc:join] Bot has joined the server" in site.log()),
              "no npc join in the server log: %r" % site.log()[-2000:])
        check(wait_until(lambda: {"spawn", "tick"} <= set(site.notes())),
              "the bot never spawned or its timer never ran: %r" % site.notes())
        notes = site.notes()
        connects = [n for n in notes if n.startswith("connect ")]
        if check(len(connects) == 1 and notes[:2] == ["init", "main"] and "spawn" in notes,
                 "notes out of order: %r" % notes):
            check(notes.index(connects[0]) < notes.index("spawn"), "spawn before connect: %r" % notes)
        bot_id = int(connects[0].split()[1]) if connects else -1

        # A second bot finds "maxnpc" used up.
        ends_refused(site.start_bot("Bot2"), "second bot")
        check(bot.poll() is None, "the first bot ended when the second was refused")

        # A player walks next to the bot and shows up in its world.
        scrambler = vw.Scrambler.from_header(TABLE_HEADER, site.port)
        with vw.Connection("127.0.0.1", site.port, scrambler, bind_host="127.0.0.2") as conn:
            conn.connect(timeout=10)
            init = vw.join(conn, "Walker")
            me = init.player_id
            check(me != bot_id, "the player got the bot's id %d" % me)
            vw.player.request_class(conn, 0)
            vw.player.request_spawn(conn)
            vw.player.spawned(conn)
            wanted = "streamin %d" % me
            deadline = time.monotonic() + WAIT
            step = 0
            while wanted not in site.notes() and time.monotonic() < deadline:
                step += 1
                x = SPAWN[0] + 2.0 + (step % 10) * 0.1
                vw.player.send_onfoot(conn, vw.OnFootSync(position=(x, SPAWN[1], SPAWN[2])))
                time.sleep(0.1)
            check(wanted in site.notes(), "the bot never saw player %d: %r" % (me, site.notes()))
            conn.disconnect()
        check(bot.poll() is None, "the bot ended while the player walked")

        # Told to stop, the bot says goodbye first: the server sees it leave with the quit reason
        # (1) at once, not by a timeout seconds later.
        bot.terminate()
        left = "[npc:part] Bot has left the server (%d:1)" % bot_id
        check(wait_until(lambda: left in site.log(), timeout=1.0),
              "no %r within a second of SIGTERM: %r" % (left, site.log()[-1000:]))
        try:
            check(bot.wait(timeout=WAIT) == 0, "the stopped bot ended with status %s" % bot.returncode)
        except subprocess.TimeoutExpired:
            check(False, "the bot did not end after SIGTERM")
    finally:
        site.close()


def refused_case():
    site = Site(maxnpc=0)
    try:
        if not site.start_server():
            return
        ends_refused(site.start_bot("Bot"), "bot with maxnpc 0")
        check("[npc:join]" not in site.log(), "a bot joined despite maxnpc 0")
        check(site.notes()[:2] == ["init", "main"] and "spawn" not in site.notes(),
              "a refused bot went on: %r" % site.notes())
    finally:
        site.close()


def main():
    try:
        joined_case()
        refused_case()
    finally:
        for p in processes:
            if p.poll() is None:
                p.kill()
                p.wait()
    if failures:
        sys.exit(1)
    print("ok")


main()
