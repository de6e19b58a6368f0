#!/usr/bin/env python3
"""The velt-server process from the outside, as an operator meets it: started without a shell in
a scratch directory with a generated server.cfg, checked through its exit status, its standard
output and error, its log file and the signals it answers. Every wait is bounded and every
process is ended by its own id.

usage: server_process.py <path to velt-server> <directory of assembled gamemodes> <ScrambleTable.h>
  The gamemodes: lobby.vmb (loads and runs), unbound.vmb (needs natives the server lacks),
  endless.vmb (OnGameModeInit never returns).
"""

import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wire"))
import velt_wire as vw  # noqa: E402

SERVER = None
GAMEMODES = None
TABLE = None
WAIT = 20.0  # seconds; sanitizer builds start slowly on busy machines
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
PASSWORD_ERROR = "Error: Your password must be changed from the default password, please change it."
NO_CONFIG = "Unable to exec file 'server.cfg'."
NO_GAMEMODE = ["I couldn't load any gamemode scripts. Please verify your server.cfg",
               "It needs a gamemode0 line at the very least."]
FORCED_EXIT = "Forced exit: a second stop signal came before the server could shut down."


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class Site:
    """One server's scratch directory and process."""

    def __init__(self, port):
        self.dir = tempfile.mkdtemp(prefix="velt_e2e_", dir=os.getcwd())
        os.mkdir(os.path.join(self.dir, "gamemodes"))
        for name in ("lobby", "unbound", "endless"):
            shutil.copy(os.path.join(GAMEMODES, name + ".vmb"), os.path.join(self.dir, "gamemodes"))
        self.port = port
        self.proc = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_config(self, *lines):
        with open(self.path("server.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def base_config(self, *extra, gamemode="lobby"):
        self.write_config("rcon_password 7hx-e2e", "port %d" % self.port, "gamemode0 %s 1" % gamemode,
                          "announce 0", *extra)

    def start(self):
        self.proc = subprocess.Popen([SERVER], cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)

    def finish(self):
        """Exit status, standard output and standard error of a process that ends by itself."""
        out, err = self.proc.communicate(timeout=WAIT)
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def log(self):
        if not os.path.isfile(self.path("server_log.txt")):
            return []
        with open(self.path("server_log.txt"), encoding="utf-8", errors="replace") as f:
            return [STAMP.sub("", line.rstrip("\n")) for line in f]

    def wait_for(self, test, line, count=1):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if self.log().count(line) >= count:
                return
            if self.proc.poll() is not None:
                test.fail("server ended (%s) before logging %r: %r"
                          % (self.proc.returncode, line, self.log()[-20:]))
            time.sleep(0.05)
        test.fail("no %r in the log within %s s: %r" % (line, WAIT, self.log()[-20:]))

    def stop(self):
        """SIGTERM; the exit status."""
        self.proc.send_signal(signal.SIGTERM)
        return self.finish()[0]

    def close(self):
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.kill()
            self.proc.communicate(timeout=WAIT)
        shutil.rmtree(self.dir, ignore_errors=True)


class ServerProcessTest(unittest.TestCase):
    def setUp(self):
        self.port = free_udp_port()
        self.sites = []
        self.site = self.new_site()

    def tearDown(self):
        for site in self.sites:
            site.close()

    def new_site(self):
        site = Site(self.port)
        self.sites.append(site)
        return site

    def test_refused_starts_end_with_status_1_and_say_why_on_stderr(self):
        def no_config(site):
            pass

        def config_is_a_directory(site):
            os.mkdir(site.path("server.cfg"))

        def config_is_binary(site):
            with open(site.path("server.cfg"), "wb") as f:
                f.write(bytes(range(256)) * 4)

        def default_password(site):
            site.write_config("port %d" % site.port, "gamemode0 lobby 1", "announce 0")

        def port_of_another_server(site):
            # A server that runs on the port; the second one must not share it.
            first = self.new_site()
            first.base_config()
            first.start()
            first.wait_for(self, "Number of vehicle models: 0")
            site.base_config()
            return first

        def port_held_by_a_socket(site):
            held = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            held.bind(("0.0.0.0", site.port))
            site.base_config()
            return held

        def config_setting(*lines):
            return lambda site: site.write_config("rcon_password 7hx-e2e", "announce 0", *lines)

        def broken_gamemode(site):
            with open(site.path("gamemodes/broken.vmb"), "wb") as f:
                f.write(b"\0")
            site.base_config(gamemode="broken")

        in_use = "Unable to start server on port: %d. Port in use?" % self.port
        # name, setup, the lines on standard error and in the log, whether the game had started
        # (its filterscripts ran, so it shuts down in order).
        cases = [
            ("no server.cfg", no_config, [NO_CONFIG, PASSWORD_ERROR], False),
            ("server.cfg is a directory", config_is_a_directory, [NO_CONFIG, PASSWORD_ERROR], False),
            ("server.cfg is binary", config_is_binary, [PASSWORD_ERROR], False),
            ("default password", default_password, [PASSWORD_ERROR], False),
            ("port of a running server", port_of_another_server, [in_use], False),
            ("port held by a socket", port_held_by_a_socket, [in_use], False),
            ("port 70000", config_setting("port 70000", "gamemode0 lobby 1"),
             ["Unable to start server: port 70000 is not a port number (1 to 65535)."], False),
            ("port -1", config_setting("port -1", "gamemode0 lobby 1"),
             ["Unable to start server: port -1 is not a port number (1 to 65535)."], False),
            ("missing gamemode", lambda site: site.base_config(gamemode="nothere"), NO_GAMEMODE, False),
            ("broken gamemode", broken_gamemode,
             ["Unable to start server: the gamemode 'gamemodes/broken.vmb' could not be loaded."], True),
        ]
        for name, setup, lines, started in cases:
            with self.subTest(name):
                site = self.new_site()
                held = setup(site)
                site.start()
                status, out, err = site.finish()
                self.assertEqual(status, 1, err)
                for line in lines:
                    self.assertIn(line, err.splitlines())
                    self.assertIn(line, site.log())
                self.assertEqual("--- Server Shutting Down." in site.log(), started)
                if lines == [PASSWORD_ERROR]:
                    # Refused before anything of the game exists: no port was tried.
                    self.assertNotIn("Started server", out)
                    self.assertFalse(any("Port in use?" in line for line in site.log()))
                if isinstance(held, Site):
                    self.assertIsNone(held.proc.poll(), "the first server must run on")
                    self.assertEqual(held.stop(), 0)
                elif held is not None:
                    held.close()

    def test_runs_answers_signals_and_shuts_down_in_order(self):
        site = self.site
        with open(site.path("velt.ban"), "w") as f:
            f.write("10.0.0.1 [01/01/24 | 10:00:00] Eve - spam\r\n")
        site.base_config("maxplayers 5000", "hostname e2e")
        site.start()
        site.wait_for(self, "Number of vehicle models: 0")

        log = site.log()
        banner = ["VELT Dedicated Server", "----------------------", "v1.0.0"]
        start = log.index(banner[0])
        self.assertEqual(log[start:start + 3], banner)
        self.assertEqual(log[start + 3], "")
        self.assertIn("Loaded log file: \"server_log.txt\".", log[:start])
        self.assertEqual(log.count(" Loaded: velt.ban"), 1)
        # "varlist" writes the remote-console password into the log: the owner's alone.
        self.assertEqual(stat.S_IMODE(os.stat(site.path("server_log.txt")).st_mode), 0o600)

        # SIGQUIT is ignored; SIGUSR1 reopens the log; SIGUSR2 reloads the edited ban file.
        site.proc.send_signal(signal.SIGQUIT)
        site.proc.send_signal(signal.SIGUSR1)
        site.wait_for(self, "Reloaded log file: \"server_log.txt\".")
        with open(site.path("velt.ban"), "w") as f:
            f.write("10.0.0.2\n")
        site.proc.send_signal(signal.SIGUSR2)
        site.wait_for(self, " Loaded: velt.ban", count=2)
        self.assertIsNone(site.proc.poll())

        site.proc.send_signal(signal.SIGTERM)
        status, out, err = site.finish()
        self.assertEqual(status, 0)
        self.assertEqual(err, "")
        self.assertIn("\nStarted server on port: %d, with maxplayers: 1000 lanmode is OFF.\n" % self.port, out)
        log = [line for line in site.log() if line]
        order = [line for line in log if line in
                 ("Filterscripts", "Number of vehicle models: 0", "--- Server Shutting Down.")]
        self.assertEqual(order, ["Filterscripts", "Number of vehicle models: 0", "--- Server Shutting Down."])
        self.assertEqual(log[-1], "--- Server Shutting Down.")

    def test_comments_start_after_blanks_and_a_password_with_hash_logs_in(self):
        site = self.site
        password = "Str0ng#Pass//word"
        site.base_config("rcon_password " + password, "hostname Clan #1 Server",
                         "weburl https://example.org", "maxplayers 7 // seven")
        site.start()
        site.wait_for(self, "Number of vehicle models: 0")
        self.assertIn("Line 6 of 'server.cfg': \"#1 Server\" is read as a comment.", site.log())
        self.assertIn("Line 8 of 'server.cfg': \"// seven\" is read as a comment.", site.log())

        scrambler = vw.Scrambler.from_header(TABLE, site.port)
        with vw.Connection("127.0.0.1", site.port, scrambler, bind_host="127.0.0.2") as conn:
            conn.connect(timeout=10)
            vw.join(conn, "Admin", timeout=10)

            def answer(line):
                vw.player.rcon(conn, line)
                return vw.decode_client_message(conn.expect_rpc(vw.Rpc.ClientMessage, 5)).text.decode("latin-1")

            self.assertEqual(answer("login " + password), "SERVER: You are logged in as admin.")
            self.assertEqual(answer("hostname"), "hostname = \"Clan\"  (string)")
            self.assertEqual(answer("weburl"), "weburl = \"https://example.org\"  (string)")
            self.assertEqual(answer("maxplayers"), "maxplayers = 7  (int, read-only)")
            conn.disconnect()
        self.assertEqual(site.stop(), 0)

    def test_natives_the_server_lacks_are_named_at_load(self):
        site = self.site
        site.base_config(gamemode="unbound")
        site.start()
        site.wait_for(self, "Script[gamemodes/unbound.vmb]: Natives not registered, so none of its code "
                            "can run: no_such_native, nor_this_one")
        self.assertEqual(site.stop(), 0)

    # The thread sanitizer runs a signal's handler only once the receiving thread makes a call,
    # and a script's endless loop makes none: under it the second signal can never arrive.
    @unittest.skipIf("thread" in os.environ.get("VELT_SANITIZE", ""), "signals wait for a call under TSan")
    def test_second_stop_signal_ends_a_server_held_by_an_endless_script(self):
        site = self.site
        site.base_config(gamemode="endless")
        site.start()
        site.wait_for(self, "endless loop starts")
        # The first request waits for a main loop that never comes back; the second one ends it.
        site.proc.send_signal(signal.SIGTERM)
        site.proc.send_signal(signal.SIGINT)
        status, _, err = site.finish()
        self.assertEqual(status, 1)
        self.assertIn(FORCED_EXIT, err.splitlines())
        log = site.log()
        self.assertEqual(log[-1], FORCED_EXIT)
        self.assertIn("endless loop starts", log)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    TABLE = os.path.abspath(sys.argv.pop(3))
    GAMEMODES = os.path.abspath(sys.argv.pop(2))
    SERVER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
