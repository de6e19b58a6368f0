#!/usr/bin/env python3
"""A wire client walks through a gamemode's world: a velt-server process runs natives_world_mode
(one label, a pickup in world 0, one high above in every world, an actor with a looping animation
and one whose animation is over), and an independent wire client (tests/wire/velt_wire) walks
into the stream distance, out of it, and back in from another world. What it receives is decoded
from the wire form, the label's compressed text included; what it reports about pickups and
actors reaches the gamemode only for entities that exist.

usage: natives_world_walk.py <velt-server> <natives_world_mode.vmb> <ScrambleTable.h>
                             <tests/wire directory>

Started without a shell in a scratch directory; every wait is bounded and the server is ended
by its own id.
"""

import sys
import time
import unittest

from server_log import ServerLogMixin

SERVER = WORLD = TABLE = None
WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
vw = None

LABEL_TEXT = (b"{FFAA00}Welcome to the square.\nPickups lie about; the dancers never tire. 0123456789 "
              b"~!@#$%^&*()_+-=[]{}|;:',.<>/? The quick brown fox jumps over the lazy dog, THE QUICK "
              b"BROWN FOX JUMPS OVER THE LAZY DOG. \xe9\xff\x01 end.")
NEAR, FAR = (0.0, 0.0), (300.0, 0.0)


class WorldWalkTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.make_scratch("velt_world_", {"world.vmb": WORLD})
        self.conn = None

    def tearDown(self):
        if self.conn is not None:
            self.conn.close()
        self.remove_server()

    def world_messages(self):
        ids = (vw.Rpc.TextLabelCreate, vw.Rpc.TextLabelDelete, vw.Rpc.PickupCreate, vw.Rpc.PickupDestroy,
               vw.Rpc.ActorStreamIn, vw.Rpc.ActorStreamOut, vw.Rpc.ActorAnimationApply)
        return lambda m: any(m.is_rpc(i) for i in ids)

    def walk_to(self, where, count, settle=0.0):
        """Reports the position until `count` world messages arrived (then for `settle` seconds
        more, to see that nothing else follows); returns their calls in arrival order."""
        got = []
        deadline = time.monotonic() + WAIT
        settle_end = None
        while time.monotonic() < deadline:
            vw.player.send_onfoot(self.conn, vw.OnFootSync(position=(where[0], where[1], 10.0)))
            m = self.conn.expect(self.world_messages(), 0.1, raise_on_timeout=False)
            while m is not None:
                got.append(m.rpc())
                m = self.conn.expect(self.world_messages(), 0.0, raise_on_timeout=False)
            if len(got) >= count:
                settle_end = settle_end or time.monotonic() + settle
                if time.monotonic() >= settle_end:
                    return got
        self.fail("%d of %d world messages within %s s: %r" % (len(got), count, WAIT, [c.rpc_id for c in got]))

    def test_walk_in_out_and_from_another_world(self):
        lines = ["rcon_password world-e2e-5", "port %d" % self.port, "bind 127.0.0.1", "gamemode0 world 1",
                 "announce 0", "timestamp 0", "output 0", "sleep 5", "stream_distance 50", "stream_rate 500"]
        self.launch(SERVER, lines)
        self.wait_for("world: ready")
        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host="127.0.0.2")
        me = self.conn.connect(timeout=WAIT).player_index
        vw.join(self.conn, "Walker", timeout=WAIT)
        self.walk_to(FAR, 0, settle=1.2)

        # In range: the label, the pickups, the actors, in that order; the looping animation
        # right after its actor, the ended one never.
        got = self.walk_to(NEAR, 6, settle=1.2)
        R = vw.Rpc
        self.assertEqual([c.rpc_id for c in got], [R.TextLabelCreate, R.PickupCreate, R.PickupCreate,
                                                   R.ActorStreamIn, R.ActorAnimationApply, R.ActorStreamIn])
        label = vw.decode_text_label_create(got[0])
        self.assertEqual(label, vw.world.TextLabel(0, 0x11AA22FF, (0.0, 0.0, 10.0), 40.0, 1, 0xFFFF, 0xFFFF,
                                                   LABEL_TEXT))
        self.assertEqual(vw.decode_pickup_create(got[1]), vw.world.Pickup(0, 1239, 2, (5.0, 5.0, 10.0)))
        self.assertEqual(vw.decode_pickup_create(got[2]), vw.world.Pickup(1, 1240, 1, (-5.0, 5.0, 510.0)))
        self.assertEqual(vw.decode_actor_stream_in(got[3]),
                         vw.world.Actor(0, 120, 0, (3.0, -3.0, 10.0), 90.0, 100.0, 1))
        self.assertEqual(vw.decode_actor_animation(got[4]),
                         vw.world.ActorAnimation(0, b"DANCING", b"dnce_M_a", vw.f32(4.1), True, False, False,
                                                 False, 0))
        # A custom skin the server does not know goes out as model 0.
        self.assertEqual(vw.decode_actor_stream_in(got[5]),
                         vw.world.Actor(1, 0, 0, (-3.0, -3.0, 10.0), 180.0, 100.0, 1))
        self.wait_for("world: actor 1 in for %d" % me)
        self.assertIn("world: actor 0 in for %d" % me, self.log())

        # Reports about entities that do not exist stop at the server.
        for pickup in (4096, -1, 2, 1):
            self.conn.send_rpc(R.PickupPickedUp, vw.BitWriter().write_i32(pickup))
        for actor in (5, 1000, 1):
            w = vw.BitWriter().write_bit(0).write_u16(actor).write_f32(9.5).write_i32(24).write_i32(3)
            self.conn.send_rpc(R.ActorDamage, w)
        self.wait_for("world: player %d hurt actor 1 with 24 on 3" % me)
        self.wait_for("world: player %d picked up 1" % me)
        reports = [line for line in self.log() if "picked up" in line or "hurt actor" in line]
        self.assertEqual(len(reports), 2, reports)

        # Out of range: everything goes again, in the same order.
        got = self.walk_to(FAR, 5, settle=1.2)
        self.assertEqual([(c.rpc_id, c.payload[:2]) for c in got],
                         [(R.TextLabelDelete, b"\0\0"), (R.PickupDestroy, b"\0\0"), (R.PickupDestroy, b"\1\0"),
                          (R.ActorStreamOut, b"\0\0"), (R.ActorStreamOut, b"\1\0")])
        self.assertEqual([vw.decode_pickup_destroy(c) for c in got[1:3]], [0, 1])
        self.assertEqual(vw.decode_u16_id(got[4]), 1)
        self.wait_for("world: actor 1 out for %d" % me)

        # From world 7 only the pickup of every world is there.
        vw.player.command(self.conn, "/anywhere")
        time.sleep(0.5)
        got = self.walk_to(NEAR, 1, settle=1.5)
        self.assertEqual([c.rpc_id for c in got], [R.PickupCreate])
        self.assertEqual(vw.decode_pickup_create(got[0]).pickup_id, 1)

        self.conn.disconnect()
        self.assertEndsCleanlyOnSigterm()


if __name__ == "__main__":
    SERVER, WORLD, TABLE, wire = sys.argv[1:5]
    sys.path.insert(0, wire)
    import velt_wire  # noqa: E402
    vw = velt_wire
    unittest.main(argv=sys.argv[:1], verbosity=2)
