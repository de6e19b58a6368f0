#!/usr/bin/env python3
"""Objects end to end: velt-server runs a gamemode (object_gamemodes/objects.vasm) that places a
plain object, one attached to another, one with a texture material, a text material and fourteen
more textures (a seventeenth is refused), one without camera collision carrying a 2048-character
text, and a per-player object for each joining player. An independent wire client joins and
receives exactly these objects; every create message is decoded here from the wire layout, its
texts through the wire client's own text decoder.

usage: objects_e2e.py <velt-server> <objects.vmb> <ScrambleTable.h>

Started without a shell in a scratch directory; every wait is bounded and the server is ended by
its own id.
"""

import os
import shutil
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
for folder in ("wire", "script"):
    sys.path.insert(0, os.path.join(HERE, "..", folder))
import velt_wire as vw  # noqa: E402
from server_log import ServerLogMixin, free_udp_port  # noqa: E402

SERVER = GAMEMODE = TABLE = None
WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines

NO_ID = 0xFFFF


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def swap_red_blue(colour):
    return (colour & 0xFF00FF00) | (colour & 0xFF) << 16 | (colour >> 16 & 0xFF)


def read_text8(r):
    return r.read_bytes(r.read_u8())


def decode_object_create(call):
    """The object create message as a dict, from its layout: id, model, position, rotation, draw
    distance, camera collision, attachment ids, the attachment (only when attached), materials."""
    r = call.reader()
    o = {"id": r.read_u16(), "model": r.read_i32(),
         "position": tuple(r.read_f32() for _ in range(3)),
         "rotation": tuple(r.read_f32() for _ in range(3)),
         "draw_distance": r.read_f32(), "no_camera_collision": r.read_u8(),
         "vehicle": r.read_u16(), "object": r.read_u16()}
    if o["vehicle"] != NO_ID or o["object"] != NO_ID:
        o["offset"] = tuple(r.read_f32() for _ in range(3))
        o["attach_rotation"] = tuple(r.read_f32() for _ in range(3))
        o["sync_rotation"] = r.read_u8()
    materials = []
    for _ in range(r.read_u8()):
        kind, index = r.read_u8(), r.read_u8()
        if kind == 1:
            materials.append(("texture", index, r.read_u16(), read_text8(r), read_text8(r), r.read_u32()))
        elif kind == 2:
            size, font, font_size, bold = r.read_u8(), read_text8(r), r.read_u8(), r.read_u8()
            colours = (r.read_u32(), r.read_u32())
            alignment = r.read_u8()
            materials.append(("text", index, size, font, font_size, bold) + colours +
                             (alignment, vw.read_compressed_text(r)))
        else:
            raise ValueError("material kind %d" % kind)
    o["materials"] = materials
    if r.remaining != 0:
        raise ValueError("%d bits left over" % r.remaining)
    return o


def plain(object_id, model, position, rotation, draw_distance, no_camera_collision=0, materials=()):
    return {"id": object_id, "model": model, "position": tuple(map(f32, position)),
            "rotation": tuple(map(f32, rotation)), "draw_distance": f32(draw_distance),
            "no_camera_collision": no_camera_collision, "vehicle": NO_ID, "object": NO_ID,
            "materials": list(materials)}


LONG_TEXT = bytes(97 + (i & 15) for i in range(2048))


def expected_objects():
    attached = plain(2, 1338, (-10.5, 20.25, 5.0), (10.0, 20.0, 30.0), 150.0)
    attached.update({"object": 1, "offset": (0.5, 0.0, 1.5), "attach_rotation": (0.0, 0.0, 45.0),
                     "sync_rotation": 1})
    dressed = [("texture", 0, 2000, b"lib", b"tex", 0xFF332211),
               ("text", 1, 90, b"Arial", 24, 1, 0xFFFFFFFF, 0xFF000000, 1, b"Hello {FF0000}world")]
    dressed += [("texture", i, 3000 + i, b"lib", b"tex", swap_red_blue(i)) for i in range(2, 16)]
    return {
        1: plain(1, 1337, (1.0, 2.0, 3.0), (0.0, 0.0, 90.0), 300.0),
        2: attached,
        3: plain(3, 1339, (0, 0, 0), (0, 0, 0), 50.0, materials=dressed),
        4: plain(4, 1340, (100.0, 200.0, 10.0), (0.0, 90.0, 0.0), 500.0, 1,
                 [("text", 7, 140, b"Arial", 48, 0, 0xFF00FF00, 0, 2, LONG_TEXT)]),
        # The per-player object takes the lowest id no global object holds.
        5: plain(5, 1341, (7.0, 8.0, 9.0), (0, 0, 0), 60.0),
    }


class ObjectsTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velt_objects_", dir=os.getcwd())
        for sub in ("gamemodes", "filterscripts", "scriptfiles"):
            os.mkdir(os.path.join(self.dir, sub))
        shutil.copy(GAMEMODE, os.path.join(self.dir, "gamemodes", "objects.vmb"))
        self.port = free_udp_port()
        self.proc = None
        self.conn = None

    def tearDown(self):
        if self.conn is not None:
            self.conn.close()
        self.remove_server()

    def test_a_joining_player_receives_the_gamemodes_objects(self):
        self.launch(SERVER, ["rcon_password objects-e2e-5", "port %d" % self.port, "bind 127.0.0.1",
                             "gamemode0 objects 1", "announce 0", "timestamp 0", "output 0", "sleep 5"])
        self.wait_for("objects: ready")
        self.assertIn("objects: seventeenth material 0", self.log())

        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host="127.0.0.2")
        me = self.conn.connect(timeout=WAIT).player_index
        vw.join(self.conn, "Olga", timeout=WAIT)
        self.wait_for("objects: player %d has object 5" % me)

        received = {}
        for _ in range(5):
            o = decode_object_create(self.conn.expect_rpc(vw.Rpc.ObjectCreate, timeout=WAIT))
            self.assertNotIn(o["id"], received)
            received[o["id"]] = o
        # Nothing more: the seventeenth material, and the creations before the join, sent nothing.
        self.conn.pump(0.5)
        self.assertIsNone(self.conn.expect(lambda m: m.is_rpc(vw.Rpc.ObjectCreate), 0.2,
                                           raise_on_timeout=False))
        expected = expected_objects()
        self.assertEqual(sorted(received), sorted(expected))
        for object_id, o in expected.items():
            self.assertEqual(received[object_id], o, "object %d" % object_id)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    SERVER, GAMEMODE, TABLE = (os.path.abspath(a) for a in sys.argv[1:4])
    unittest.main(argv=sys.argv[:1], verbosity=2)
