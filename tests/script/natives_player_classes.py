#!/usr/bin/env python3
"""Class selection end to end: a velt-server process runs a gamemode that defines its classes
with AddPlayerClass / AddPlayerClassEx, and an independent wire client (tests/wire/velt_wire)
joins, asks for a class, receives exactly the spawn record the gamemode defined, asks to spawn
and spawns; the gamemode's callbacks log what the identity natives told them.

Two gamemodes: the demo gamemode of `make run` (one class) and natives_classes (two classes, one
with a team and weapons; it greets players by name and paints them with SetPlayerColor).

usage: natives_player_classes.py <velt-server> <demo.vmb> <natives_classes.vmb> <ScrambleTable.h>
                                 <tests/wire directory>

Started without a shell in a scratch directory; every wait is bounded and the server is ended
by its own id.
"""

import re
import socket
import struct
import sys
import time
import unittest

from server_log import ServerLogMixin

SERVER = DEMO = CLASSES = TABLE = None
WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
vw = None


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


class ClassSelectionTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.make_scratch("velt_classes_", {"demo.vmb": DEMO, "classes.vmb": CLASSES})
        self.conn = None

    def tearDown(self):
        if self.conn is not None:
            self.conn.close()
        self.remove_server()

    def start(self, gamemode, first_line):
        lines = ["rcon_password classes-e2e-3", "port %d" % self.port, "bind 127.0.0.1",
                 "gamemode0 %s 1" % gamemode, "announce 0", "timestamp 0", "output 0",
                 "sleep 5"]
        self.launch(SERVER, lines)
        self.wait_for(first_line)

    def join(self, name):
        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host="127.0.0.2")
        accepted = self.conn.connect(timeout=WAIT)
        vw.join(self.conn, name, timeout=WAIT)
        return accepted.player_index

    def assertSpawn(self, spawn, team, skin, position, angle, weapons, ammo):
        self.assertEqual((spawn.team, spawn.skin, spawn.custom_skin), (team, skin, 0))
        self.assertEqual(spawn.position, tuple(f32(v) for v in position))
        self.assertEqual(spawn.facing_angle, f32(angle))
        self.assertEqual(spawn.weapons, weapons)
        self.assertEqual(spawn.ammo, ammo)

    def test_demo_gamemode_class_and_spawn(self):
        self.start("demo", "demo: OnGameModeInit")
        me = self.join("Carol")
        self.wait_for("demo: player %d connected" % me)
        reply = vw.player.request_class(self.conn, 0, timeout=WAIT)
        self.assertEqual(reply.allowed, 1)
        self.assertSpawn(reply.spawn, 255, 0, (1958.33, 1343.12, 15.36), 269.15, (0, 0, 0), (0, 0, 0))
        self.assertEqual(vw.player.request_spawn(self.conn, timeout=WAIT), 1)
        vw.player.spawned(self.conn)
        self.wait_for("demo: player %d spawned" % me)

    def test_two_classes_team_name_and_colour(self):
        self.start("classes", "Number of vehicle models: 0")
        me = self.join("Dave")
        self.wait_for("classes: Dave joined")
        # SetPlayerColor from OnPlayerConnect reaches every player, this one included.
        colour = self.conn.expect_rpc(vw.Rpc.PlayerColorSet, timeout=WAIT)
        self.assertEqual(colour.payload[:6], struct.pack("<HI", me, 0x11223344))

        reply = vw.player.request_class(self.conn, 1, timeout=WAIT)
        self.assertEqual(reply.allowed, 1)
        self.assertSpawn(reply.spawn, 3, 101, (1.5, 2.5, 3.5), 90.0, (24, 31, 0), (50, 200, 0))
        reply = vw.player.request_class(self.conn, 0, timeout=WAIT)
        self.assertSpawn(reply.spawn, 255, 7, (10.0, 20.0, 3.0), 180.0, (0, 0, 0), (0, 0, 0))
        vw.player.request_class(self.conn, 1, timeout=WAIT)
        self.assertEqual(vw.player.request_spawn(self.conn, timeout=WAIT), 1)
        vw.player.spawned(self.conn)
        # The server spawned the player with the chosen class's record: its team is class 1's.
        self.wait_for("classes: player %d spawned in team 3" % me)


if __name__ == "__main__":
    SERVER, DEMO, CLASSES, TABLE, wire = sys.argv[1:6]
    sys.path.insert(0, wire)
    import velt_wire  # noqa: E402
    vw = velt_wire
    unittest.main(argv=sys.argv[:1], verbosity=2)
