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

import subprocess
import sys
import time

from npc_site import Site, WAIT, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402

SPAWN = (10.0, 20.0, 3.0)  # the gamemode's one class


class NpcSite(Site):
    """One server with the watching npcmode; the bot writes its notes into npc_watch.txt."""

    def __init__(self, maxnpc):
        super().__init__(SERVER, GAMEMODE_VMB, "npc_classes", {"watch": NPCMODE_VMB}, maxnpc)

    def start_server(self):
        return super().start_server(vw)

    def start_bot(self, name):
        return super().start_bot(NPC, name, "watch", subprocess.PIPE)

    def notes(self):
        return self.read("npc_watch.txt").splitlines()


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
    site = NpcSite(maxnpc=1)
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
    site = NpcSite(maxnpc=0)
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
    joined_case()
    refused_case()
    finish()


main()
