#!/usr/bin/env python3
"""Text draws, a menu and a gang zone end to end: a velt-server process runs a gamemode that shows
them to every player who joins; an independent wire client (tests/wire/velt_wire) joins, decodes
each message from the wire layout, clicks the text draws, picks a menu row and leaves the menu, and
the gamemode's callbacks log what reached them. A connection that never joined sends menu reports
too: they reach no script.

usage: natives_screens.py <velt-server> <natives_screens_gm.vmb> <ScrambleTable.h> <tests/wire directory>

Started without a shell in a scratch directory; every wait is bounded and the server is ended by
its own id.
"""

import struct
import sys
import unittest

from server_log import ServerLogMixin

SERVER = GAMEMODE = TABLE = None
WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
vw = None

# The 63-byte text draw record, little-endian and packed.
RECORD = struct.Struct("<BffIffIBBIBBffhffffhh")
RECORD_FIELDS = ("flags", "letter_w", "letter_h", "letter_colour", "size_x", "size_y", "box_colour",
                 "shadow", "outline", "background", "font", "selectable", "x", "y", "model", "rot_x",
                 "rot_y", "rot_z", "zoom", "colour1", "colour2")


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def decode_text_draw_show(payload):
    wire_id = struct.unpack_from("<H", payload)[0]
    record = dict(zip(RECORD_FIELDS, RECORD.unpack_from(payload, 2)))
    record["colour_bytes"] = payload[2 + 9:2 + 13]
    (length,) = struct.unpack_from("<H", payload, 2 + RECORD.size)
    text = payload[4 + RECORD.size:4 + RECORD.size + length]
    return wire_id, record, text


def text_field(data, offset):
    return data[offset:offset + 32].split(b"\0", 1)[0], offset + 32


def decode_menu_init(payload):
    menu = {}
    menu["id"], two = struct.unpack_from("<Bi", payload)
    offset = 5
    menu["title"], offset = text_field(payload, offset)
    widths = 2 if two else 1
    values = struct.unpack_from("<ff" + "f" * widths + "i12i", payload, offset)
    offset += 4 * (2 + widths + 13)
    menu["x"], menu["y"] = values[:2]
    menu["widths"] = values[2:2 + widths]
    menu["enabled"], menu["rows_enabled"] = values[2 + widths], values[3 + widths:]
    menu["columns"] = []
    for _ in range(2 if two else 1):
        header, offset = text_field(payload, offset)
        count = payload[offset]
        offset += 1
        rows = []
        for _ in range(count):
            row, offset = text_field(payload, offset)
            rows.append(row)
        menu["columns"].append((header, rows))
    menu["rest"] = payload[offset:]
    return menu


class ScreensTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.make_scratch("velt_screens_", {"screens.vmb": GAMEMODE})
        self.conns = []

    def tearDown(self):
        for conn in self.conns:
            conn.close()
        self.remove_server()

    def connect(self, host):
        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host=host)
        self.conns.append(conn)
        conn.connect(timeout=WAIT)
        return conn

    def expect_rpc(self, conn, rpc_id, first=None):
        """The next RPC of that id (whose payload starts with `first`, when given)."""
        return conn.expect(lambda m: m.is_rpc(rpc_id) and (first is None or m.rpc().payload.startswith(first)),
                           WAIT, what="RPC %d" % rpc_id).rpc()

    def menu_reports(self, conn):
        conn.send_rpc(vw.Rpc.MenuRowSelect, bytes([3]))
        conn.send_rpc(vw.Rpc.MenuExit, b"")

    def test_a_joined_player_sees_the_screens_and_his_choices_reach_the_gamemode(self):
        self.launch(SERVER, ["rcon_password screens-e2e-5", "port %d" % self.port, "bind 127.0.0.1",
                             "gamemode0 screens 1", "announce 0", "timestamp 0", "output 0", "sleep 5"])
        self.wait_for("screens: text draw 0, menu 1, zone 0")

        # A connection that holds a slot (the first, 0) but never joins.
        stranger = self.connect("127.0.0.3")
        self.menu_reports(stranger)
        player = self.connect("127.0.0.2")
        vw.join(player, "Dana", timeout=WAIT)
        me = player.player_index
        self.assertNotEqual(me, stranger.player_index)

        wire_id, record, text = decode_text_draw_show(self.expect_rpc(player, vw.Rpc.TextDrawShow, b"\0\0").payload)
        self.assertEqual((wire_id, text), (0, b"Welcome"))
        self.assertEqual(record["colour_bytes"], bytes([0x11, 0x22, 0x33, 0x44]))
        self.assertEqual((record["flags"], record["selectable"], record["font"], record["shadow"]), (0x10, 1, 1, 2))
        self.assertEqual((record["x"], record["y"], record["letter_w"], record["zoom"]),
                         (320.0, 240.0, f32(0.48), 1.0))
        self.assertEqual((record["box_colour"], record["background"], record["colour1"], record["colour2"]),
                         (0x80808080, 0xFF000000, -1, -1))

        wire_id, record, text = decode_text_draw_show(
            self.expect_rpc(player, vw.Rpc.TextDrawShow, struct.pack("<H", 2048)).payload)
        self.assertEqual((wire_id, text, record["selectable"], record["x"]), (2048, b"Your stats", 1, 10.0))

        menu = decode_menu_init(self.expect_rpc(player, vw.Rpc.MenuInit).payload)
        self.assertEqual((menu["id"], menu["title"], menu["x"], menu["y"], menu["widths"]),
                         (1, b"Shop", 200.0, 150.0, (100.0, 80.0)))
        self.assertEqual((menu["enabled"], menu["rows_enabled"]), (1, (1,) * 12))
        self.assertEqual(menu["columns"], [(b"Guns", [b"Pistol"]), (b"", [b"$100"])])
        self.assertEqual(menu["rest"], b"")
        self.assertEqual(self.expect_rpc(player, vw.Rpc.MenuShow).payload, b"\x01")

        zone = self.expect_rpc(player, vw.Rpc.GangZoneShow).payload
        self.assertEqual(struct.unpack_from("<Hffff", zone), (0, -100.0, -200.0, 300.0, 400.0))
        self.assertEqual(zone[18:], bytes([0xFF, 0x00, 0x00, 0x80]))

        select = self.expect_rpc(player, vw.Rpc.TextDrawSelect)
        reader = select.reader()
        self.assertEqual((select.bits, reader.read_bit(), reader.read_u32()), (33, 1, 0x00FF00FF))

        player.send_rpc(vw.Rpc.TextDrawSelect, struct.pack("<H", 0))
        self.wait_for("screens: player %d clicked text draw 0" % me)
        player.send_rpc(vw.Rpc.TextDrawSelect, struct.pack("<H", 2048))
        self.wait_for("screens: player %d clicked his text draw 0" % me)
        self.menu_reports(stranger)
        player.send_rpc(vw.Rpc.MenuRowSelect, bytes([0]))
        self.wait_for("screens: player %d chose row 0 of menu 1" % me)
        player.send_rpc(vw.Rpc.MenuExit, b"")
        self.wait_for("screens: player %d left menu 1" % me)
        self.menu_reports(stranger)
        player.send_rpc(vw.Rpc.TextDrawSelect, b"")  # the selection cancelled
        self.wait_for("screens: player %d clicked text draw 65535" % me)

        # The stranger's reports came before the player's last click, and none reached the scripts.
        heard = [line for line in self.log() if line.startswith("screens: player")]
        self.assertEqual(heard, ["screens: player %d clicked text draw 0" % me,
                                 "screens: player %d clicked his text draw 0" % me,
                                 "screens: player %d chose row 0 of menu 1" % me,
                                 "screens: player %d left menu 1" % me,
                                 "screens: player %d clicked text draw 65535" % me])


if __name__ == "__main__":
    SERVER, GAMEMODE, TABLE, wire = sys.argv[1:5]
    sys.path.insert(0, wire)
    import velt_wire  # noqa: E402
    vw = velt_wire
    unittest.main(argv=sys.argv[:1], verbosity=2)
