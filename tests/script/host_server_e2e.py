#!/usr/bin/env python3
"""The server with its real script hosts, from the outside: the demo gamemode and its
filterscripts start in order, console commands load, unload and reload filterscripts (sent by a
filterscript through SendRconCommand, and by a player logged in to the in-game remote console,
who gets the results back as client messages), a script unloads itself from inside its own
timer, and shutdown ends the gamemode before the filterscripts.

usage: host_server_e2e.py <server program> <dir with gamemodes/ and filterscripts/>
                          <ScrambleTable.h> <tests/wire directory>

Started without a shell in a scratch directory; every wait is bounded and the process is ended by
its own id.
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

from server_log import ServerLogMixin, free_udp_port

SERVER = SCRIPTS = TABLE = None
vw = None  # the independent wire client, imported from the directory given on the command line
WAIT = 30.0  # seconds; sanitizer builds start slowly on busy machines
PASSWORD = "e2e-hosts-pw"


class HostServerTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velt_hosts_e2e_", dir=os.getcwd())
        for sub in ("gamemodes", "filterscripts"):
            shutil.copytree(os.path.join(SCRIPTS, sub), os.path.join(self.dir, sub))
        os.mkdir(os.path.join(self.dir, "scriptfiles"))
        self.port = free_udp_port()
        self.proc = None
        self.conn = None

    def tearDown(self):
        if self.conn is not None:
            self.conn.close()
        self.remove_server()

    def start(self, filterscripts):
        lines = ["rcon_password " + PASSWORD, "port %d" % self.port, "bind 127.0.0.1",
                 "gamemode0 demo 1", "filterscripts " + filterscripts, "announce 0",
                 "sleep 5", "timestamp 1", "output 1"]
        self.launch(SERVER, lines)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        out, _ = self.proc.communicate(timeout=WAIT)
        return self.proc.returncode, out.decode("utf-8", "replace")

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

    def admin_console(self, name):
        """A wire client joined as `name`, for the in-game remote console."""
        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host="127.0.0.2")
        accepted = self.conn.connect(timeout=WAIT)
        vw.join(self.conn, name, timeout=WAIT)
        return accepted.player_index

    def rcon(self, line, expect):
        """Sends one in-game remote-console line; returns the client messages that came back
        up to and including `expect` (white ones only: that is how the console answers)."""
        vw.player.rcon(self.conn, line)
        texts = []
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            m = self.conn.expect(lambda m: m.is_rpc(vw.Rpc.ClientMessage),
                                 max(0.0, deadline - time.monotonic()), raise_on_timeout=False)
            if m is None:
                break
            message = vw.decode_client_message(m.rpc())
            text = message.text.decode("utf-8", "replace")
            if message.colour == 0xFFFFFFFF:
                texts.append(text)
            if text == expect:
                return texts
        self.fail("no %r came back for %r within %s s: %r" % (expect, line, WAIT, texts))

    def test_in_game_remote_console_loads_unloads_and_reloads(self):
        self.start("greeter")
        self.wait_for("demo: main started, sleeping 2 s")
        me = self.admin_console("Admin")
        self.wait_for("[join] Admin has joined the server (%d:127.0.0.2)" % me)

        # A wrong password gets the warning; only the right one opens the console.
        self.rcon("login not-the-password",
                  "SERVER: Bad admin password. Repeated attempts will get you banned.")
        self.rcon("login " + PASSWORD, "SERVER: You are logged in as admin.")
        self.assertInOrder(["RCON (In-Game): Player #%d (Admin) failed login." % me,
                            "RCON (In-Game): Player #%d (Admin) has logged in." % me], self.log())

        self.rcon("loadfs watcher", "  Filterscript 'watcher.vmb' loaded.")
        self.rcon("loadfs watcher", "  Filterscript 'watcher.vmb' load failed.")
        reload = self.rcon("reloadfs greeter", "  Filterscript 'greeter.vmb' loaded.")
        self.assertIn("  Filterscript 'greeter.vmb' unloaded.", reload)
        self.rcon("unloadfs watcher", "  Filterscript 'watcher.vmb' unloaded.")
        self.rcon("unloadfs watcher", "  Filterscript 'watcher.vmb' unload failed.")

        self.assertInOrder([
            "RCON (In-Game): Player [Admin] sent command: loadfs watcher",
            "watcher: loaded",
            "  Filterscript 'watcher.vmb' loaded.",
            "RCON (In-Game): Player [Admin] sent command: loadfs watcher",
            "  Filterscript 'watcher.vmb' load failed.",
            "RCON (In-Game): Player [Admin] sent command: reloadfs greeter",
            "greeter: unloaded",
            "  Filterscript 'greeter.vmb' unloaded.",
            "greeter: loaded",
            "  Filterscript 'greeter.vmb' loaded.",
            "RCON (In-Game): Player [Admin] sent command: unloadfs watcher",
            "watcher: unloaded",
            "  Filterscript 'watcher.vmb' unloaded.",
            "  Filterscript 'watcher.vmb' unload failed.",
        ], self.log())
        # The reloaded filterscript is live: it greets the next player who joins.
        self.conn.disconnect()
        self.conn.close()
        self.conn = None
        second = self.admin_console("Second")
        self.wait_for("greeter: welcome, player %d" % second)
        reloaded = len(self.log()) - 1 - self.log()[::-1].index("  Filterscript 'greeter.vmb' loaded.")
        self.assertIn("greeter: welcome, player %d" % second, self.log()[reloaded:])
        status, _ = self.stop()
        self.assertEqual(status, 0)


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    SERVER = os.path.abspath(sys.argv[1])
    SCRIPTS = os.path.abspath(sys.argv[2])
    TABLE = os.path.abspath(sys.argv[3])
    sys.path.insert(0, os.path.abspath(sys.argv[4]))
    import velt_wire  # noqa: E402
    vw = velt_wire
    unittest.main(argv=sys.argv[:1], verbosity=2)
