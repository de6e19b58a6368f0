#!/usr/bin/env python3
"""GameModeExit in a real velt-server process: a gamemode that ends itself from a timer hands over
to the next gamemode of the rotation after the intermission; with no gamemode to go on with, the
process ends with status 1 and says why. Every wait is bounded; the server is ended by its own id.

usage: natives_gamemode_exit.py <velt-server> <gmx_a.vmb> <gmx_b.vmb>
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

SERVER = GMX_A = GMX_B = None
WAIT = 40.0  # the intermission alone takes 12 s; sanitizer builds start slowly
NO_SUCCESSOR = "The gamemode finished and I couldn't start another script."


class GameModeExitTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velt_gmx_", dir=os.getcwd())
        os.mkdir(os.path.join(self.dir, "gamemodes"))
        os.mkdir(os.path.join(self.dir, "scriptfiles"))
        shutil.copy(GMX_A, os.path.join(self.dir, "gamemodes", "gmx_a.vmb"))
        shutil.copy(GMX_B, os.path.join(self.dir, "gamemodes", "gmx_b.vmb"))
        self.proc = None

    def tearDown(self):
        self.remove_server()

    def start(self, *rotation):
        lines = ["rcon_password gmx-e2e-7", "port %d" % free_udp_port(), "bind 127.0.0.1",
                 "announce 0", "timestamp 0", "output 0"]
        lines += ["gamemode%d %s" % (i, entry) for i, entry in enumerate(rotation)]
        self.launch(SERVER, lines)

    def test_rotates_to_the_next_gamemode(self):
        self.start("gmx_a 1", "gmx_b 1")
        self.wait_for("gmx_b init")
        ours = [l for l in self.log() if l.startswith("gmx_")]
        # The exit public runs when the main loop ends the gamemode, after the timer's public
        # that asked for it has returned; the next one starts after the intermission.
        self.assertEqual(ours, ["gmx_a init", "gmx_a bye", "gmx_a exit", "gmx_b init"])
        self.assertNotIn(NO_SUCCESSOR, self.log())
        self.proc.send_signal(signal.SIGTERM)
        self.proc.communicate(timeout=WAIT)
        self.assertEqual(self.proc.returncode, 0)

    def test_without_a_successor_the_process_ends_with_status_1(self):
        self.start("gmx_a 1", "missing 1")
        self.proc.communicate(timeout=WAIT)
        self.assertEqual(self.proc.returncode, 1)
        log = self.log()
        self.assertIn(NO_SUCCESSOR, log)
        # Ended at once from inside the timer's public: nothing of the game ran after it.
        ours = [l for l in log if l.startswith("gmx_")]
        self.assertEqual(ours, ["gmx_a init", "gmx_a bye"])
        self.assertEqual(log[-1], NO_SUCCESSOR)


if __name__ == "__main__":
    SERVER, GMX_A, GMX_B = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
