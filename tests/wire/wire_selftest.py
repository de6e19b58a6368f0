#!/usr/bin/env python3
"""Self-test of the wire client package (velt_wire).

usage: wire_selftest.py [--peer-server PROGRAM] [--split-sender PROGRAM] [--table ScrambleTable.h]

Offline, the encoders and decoders are checked against bit strings derived by hand from the
wire rules (not produced by the package's own writer), and the reliability logic is driven with
hand-built datagrams. With the programs given, the client also talks to real server-role peers
over UDP on 127.0.0.x: the cookie handshake, hundreds of ordered messages and RPCs echoed in
order, a refused and an accepted password, pings, a kick, a disconnect, and split messages from
the server reassembled. The game-level messages (join, GameInit, chat...) can only be checked
offline until a server answers them.
"""

import argparse
import os
import queue
import re
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import velt_wire as vw  # noqa: E402
from velt_wire import channel as vch  # noqa: E402
from velt_wire import datagram as vdg  # noqa: E402
from velt_wire import query as vq  # noqa: E402

PEER_SERVER = None
SPLIT_SENDER = None
TABLE = None
WAIT = 20.0   # seconds; sanitizer builds of the servers start slowly on busy machines


# ---- hand-built bit strings -----------------------------------------------------------------

def bits(*parts):
    """(bytes, bit count) of the parts: '0'/'1' text (spaces ignored) or bytes, MSB first."""
    s = ""
    for p in parts:
        if isinstance(p, str):
            s += p.replace(" ", "")
        else:
            s += "".join("{:08b}".format(b) for b in p)
    n = len(s)
    s += "0" * (-n % 8)
    return bytes(int(s[i:i + 8], 2) for i in range(0, len(s), 8)), n


def le(fmt, *values):
    return struct.pack("<" + fmt, *values)


# ---- offline: bit stream --------------------------------------------------------------------

class BitStreamForms(unittest.TestCase):
    COMPRESSED = [
        # value, width, signed, bits as the algorithm writes them
        (5, 16, False, "1 1 0101"),
        (0x23, 16, False, "1 0 00100011"),
        (0x1234, 16, False, "0 00110100 00010010"),
        (0, 16, False, "1 1 0000"),
        (-1, 32, True, "1 1 1 1 1111"),
        (7, 32, False, "1 1 1 1 0111"),
        (300, 32, False, "1 1 0 00101100 00000001"),
        (0x00AB0000, 32, False, "1 0 00000000 00000000 10101011"),
        (0x12345678, 32, False, "0 01111000 01010110 00110100 00010010"),
        (-2, 16, True, "1 1 1110"),
        (-200, 16, True, "1 0 00111000"),
    ]

    def test_compressed_integers_match_the_hand_bits_and_read_back(self):
        for value, width, signed, text in self.COMPRESSED:
            with self.subTest(value=value, width=width):
                data, n = bits(text)
                w = vw.BitWriter().write_compressed(value, width, signed)
                self.assertEqual((w.getvalue(), w.bits), (data, n))
                r = vw.BitReader(data, n)
                self.assertEqual(r.read_compressed(width, signed), value)
                self.assertEqual(r.remaining, 0)

    def test_compressed_read_of_a_cut_value_fails(self):
        for value, width, signed, text in self.COMPRESSED:
            data, n = bits(text)
            for cut in range(n):
                with self.subTest(value=value, cut=cut), self.assertRaises(vw.WireError):
                    vw.BitReader(data, cut).read_compressed(width, signed)

    def test_unaligned_multibyte_values_are_little_endian_bytes(self):
        w = vw.BitWriter().write_bit(1).write_u16(0x1234).write_u32(0xA1B2C3D4).write_f32(1.0)
        self.assertEqual(w.getvalue(), bits("1", le("H", 0x1234), le("I", 0xA1B2C3D4), le("f", 1.0))[0])
        r = vw.BitReader(w.getvalue(), w.bits)
        self.assertEqual((r.read_bit(), r.read_u16(), r.read_u32(), r.read_f32()), (1, 0x1234, 0xA1B2C3D4, 1.0))
        self.assertRaises(vw.WireError, r.read_bit)

    def test_quaternion_and_vector_forms(self):
        zeros = "0" * 48
        cases = [
            (lambda w: w.write_compressed_quaternion(1, 0, 0, 0), bits("0000", zeros)),
            (lambda w: w.write_compressed_quaternion(-1, 0, 0, 0), bits("1000", zeros)),
            (lambda w: w.write_compressed_vector(0, 0, 0), bits("0" * 32)),
            (lambda w: w.write_compressed_vector(0, 0, 1e-7), bits(le("f", 1e-7))),
            (lambda w: w.write_compressed_vector(0, 0, 2.0),
             bits(le("f", 2.0), le("H", 32767), le("H", 32767), le("H", 65535))),
        ]
        for write, (data, n) in cases:
            w = vw.BitWriter()
            write(w)
            self.assertEqual((w.getvalue(), w.bits), (data, n))
        q = vw.BitReader(*bits("0100", le("H", 65535), le("H", 0), le("H", 0))).read_compressed_quaternion()
        self.assertEqual(q, (0.0, -1.0, 0.0, 0.0))
        x, y, z = vw.BitReader(*bits(le("f", 2.0), le("H", 32767), le("H", 32767), le("H", 65535))).read_compressed_vector()
        self.assertAlmostEqual(x, 0.0, places=3)
        self.assertAlmostEqual(z, 2.0, places=3)
        self.assertEqual(vw.BitReader(*bits("0" * 32)).read_compressed_vector(), (0.0, 0.0, 0.0))


# ---- offline: scrambling ----------------------------------------------------------------------

class ScramblerSteps(unittest.TestCase):
    def setUp(self):
        if TABLE is None:
            self.skipTest("no --table given")
        self.table, self.constant = vw.load_table(TABLE)

    def server_descramble(self, wire, port):
        """The server's steps, written out here: XOR odd positions with the key, then the table,
        then compare the checksum of the plain bytes."""
        key = (port ^ self.constant) & 0xFF
        plain = bytes(self.table[b ^ key if i % 2 else b] for i, b in enumerate(wire[1:]))
        c = 0
        for b in plain:
            c ^= b & 0xAA
        return plain, c == wire[0]

    def test_empty_and_checksum_cases(self):
        s = vw.Scrambler(self.table, self.constant, 7777)
        self.assertEqual(s.encode(b""), b"\x00")
        self.assertEqual(s.encode(b"\x55" * 7)[0], 0)
        self.assertEqual(s.encode(b"\xff")[0], 0xAA)

    def test_server_restores_what_the_client_scrambles(self):
        for port in (7777, 8192, 1, 65535):
            s = vw.Scrambler(self.table, self.constant, port)
            for plain in (b"\x18\x00\x00", bytes(range(256)), bytes(range(255, -1, -1)) * 3):
                with self.subTest(port=port, n=len(plain)):
                    self.assertEqual(self.server_descramble(s.encode(plain), port), (plain, True))

    def test_the_key_touches_odd_positions_only(self):
        plain = bytes(range(40))
        a = vw.Scrambler(self.table, self.constant, 0x1E61).encode(plain)
        b = vw.Scrambler(self.table, self.constant, 0x1E62).encode(plain)
        same_low = vw.Scrambler(self.table, self.constant, 0x7761).encode(plain)
        self.assertEqual(a, same_low)
        diff = [i for i in range(1, len(a)) if a[i] != b[i]]
        self.assertTrue(diff)
        self.assertTrue(all((i - 1) % 2 == 1 for i in diff))
        self.assertEqual(a[0], b[0])


# ---- offline: datagram layout and reliability --------------------------------------------------

class DatagramLayout(unittest.TestCase):
    def test_writer_matches_hand_built_datagrams(self):
        M = vdg.WireMessage
        cases = [
            # connection request: number 0, reliable, no split, 8 bits
            ([], [M(0, vw.RELIABLE, b"\x0b", 8)], bytes.fromhex("000043800b")),
            ([], [M(1, vw.RELIABLE_ORDERED, b"\x14", 8, channel=3, index=2)],
             bits("0", le("H", 1), "1001", "00011", le("H", 2), "0", "111000", "0000000", b"\x14")[0]),
            ([], [M(0x1234, vw.UNRELIABLE, b"\xab\xc0", 10)],
             bits("0", le("H", 0x1234), "0110", "0", "11", "1010", "0000", b"\xab", "11")[0]),
            ([(5, 5)], [], bytes.fromhex("e30500")),
            ([(3, 7), (9, 9)], [M(2, vw.RELIABLE, b"\x17", 8)],
             bits("1", "110010", "0", le("H", 3), le("H", 7), "1", le("H", 9),
                  le("H", 2), "1000", "0", "111000", "0000", b"\x17")[0]),
        ]
        for ranges, messages, want in cases:
            with self.subTest(ranges=ranges, messages=len(messages)):
                self.assertEqual(vdg.build_datagram(ranges, messages), want)
                d = vdg.parse_datagram(want)
                self.assertEqual(d.acks, ranges)
                self.assertEqual([(m.number, m.reliability, m.channel, m.index, m.payload, m.bits)
                                  for m in d.messages],
                                 [(m.number, m.reliability, m.channel, m.index, m.payload, m.bits)
                                  for m in messages])

    def test_reader_limits(self):
        # 11928 = 0x2E98 -> "0" + 98 2E ; 11929 = 0x2E99 ; 0 -> "1 1 0000"
        head = ("0", le("H", 1), "1000", "0")
        ok = bits(*head, "0", b"\x98\x2e")[0] + bytes(1491)
        too_long = bits(*head, "0", b"\x99\x2e")[0] + bytes(1492)
        empty = bits(*head, "110000")[0] + b"\x00"
        self.assertEqual([m.bits for m in vdg.parse_datagram(ok).messages], [11928])
        self.assertEqual(vdg.parse_datagram(too_long).messages, [])
        self.assertEqual(vdg.parse_datagram(empty).messages, [])
        # a message of reliability 5 ends the datagram; the one before it stays
        first = ("0", le("H", 1), "1000", "0", "111000", "0000", b"\x21")
        stop = (le("H", 2), "0101", "0", "111000", "00000", b"\x22")
        d = vdg.parse_datagram(bits(*first, *stop)[0])
        self.assertEqual([m.payload for m in d.messages], [b"\x21"])
        # a backwards acknowledgement range makes the whole datagram void
        with self.assertRaises(vw.WireError):
            vdg.parse_datagram(bits("1", "110001", "0", le("H", 7), le("H", 3), *first[1:])[0])


def piece(number, split_id, index, count, payload, reliability=vw.RELIABLE, channel=0, order=0):
    """A hand-built datagram holding one piece of a split message (counts below 16)."""
    ordering = ("{:05b}".format(channel), le("H", order)) if reliability in (7, 9, 10) else ()
    length = len(payload) * 8
    if length < 16:
        length_bits = "11" + "{:04b}".format(length)
    elif length < 256:
        length_bits = "10" + "{:08b}".format(length)
    else:
        length_bits = "0" + "".join("{:08b}".format(b) for b in le("H", length))
    head = bits("0", le("H", number), "{:04b}".format(reliability), *ordering, "1", le("H", split_id),
                "1111" + "{:04b}".format(index), "1111" + "{:04b}".format(count), length_bits)
    return head[0] + payload


class ChannelBehaviour(unittest.TestCase):
    def message(self, number, reliability, payload, channel=0, index=0):
        return vdg.build_datagram([], [vdg.WireMessage(number, reliability, payload, len(payload) * 8,
                                                       channel, index)])

    def deliver(self, ch, datagrams, now=0.0):
        out = []
        for d in datagrams:
            out += [m.data for m in ch.receive_datagram(d, now)]
        return out

    def test_ordered_and_sequenced_delivery(self):
        ch = vch.Channel()
        got = self.deliver(ch, [self.message(n, vw.RELIABLE_ORDERED, bytes([30 + i]), 2, i)
                                for n, i in ((0, 2), (1, 0), (2, 1))])
        self.assertEqual(got, [b"\x1e", b"\x1f", b"\x20"])
        got = self.deliver(ch, [self.message(n, vw.UNRELIABLE_SEQUENCED, bytes([i]), 1, i)
                                for n, i in ((3, 5), (4, 4), (5, 6))])
        self.assertEqual(got, [b"\x05", b"\x06"])
        # every reliable number is acknowledged in the next datagram, as one range
        self.assertEqual(vdg.parse_datagram(ch.build_datagrams(0.0)[0]).acks, [(0, 2)])

    def test_duplicates_and_old_numbers_are_dropped(self):
        ch = vch.Channel()
        first = self.message(0, vw.RELIABLE, b"\x30")
        self.assertEqual(self.deliver(ch, [first, first, self.message(1, vw.RELIABLE, b"\x31"), first]),
                         [b"\x30", b"\x31"])
        self.assertEqual(self.deliver(ch, [self.message(40000, vw.RELIABLE, b"\x32")]), [])
        # a resent ordered message that already went out is not held forever
        o = self.message(2, vw.RELIABLE_ORDERED, b"\x33", 0, 0)
        self.assertEqual(self.deliver(ch, [o, o, self.message(3, vw.RELIABLE_ORDERED, b"\x34", 0, 1)]),
                         [b"\x33", b"\x34"])
        self.assertEqual(ch.stats.duplicates, 4)

    def test_split_pieces_join_in_piece_order(self):
        ch = vch.Channel()
        parts = [bytes(range(i * 50, i * 50 + 50)) for i in range(3)]
        datagrams = [piece(12, 7, 2, 3, parts[2]), piece(10, 7, 0, 3, parts[0]),
                     piece(10, 7, 0, 3, parts[0]), piece(11, 7, 1, 3, parts[1])]
        self.assertEqual(self.deliver(ch, datagrams), [b"".join(parts)])
        self.assertEqual(ch.stats.splits_joined, 1)
        # an ordered split message keeps its place among whole messages of its channel
        ch = vch.Channel()
        later = self.message(5, vw.RELIABLE_ORDERED, b"\x99", 4, 1)
        got = self.deliver(ch, [later, piece(0, 1, 1, 2, b"BB", 9, 4, 0), piece(1, 1, 0, 2, b"AA", 9, 4, 0)])
        self.assertEqual(got, [b"AABB", b"\x99"])

    def test_split_state_is_bounded(self):
        ch = vch.Channel()
        for sid in range(vch.MAX_SPLITS + 20):
            self.deliver(ch, [piece(sid, sid, 0, 2, b"x")])
        self.assertLessEqual(len(ch._splits), vch.MAX_SPLITS)
        self.assertEqual(self.deliver(ch, [piece(900, 999, 1, 15, b"y"), piece(901, 999, 1, 3, b"y")]), [])

    def test_resend_until_acknowledged_then_dead_without_acks(self):
        ch = vch.Channel(resend_delay=0.5, timeout=3.0)
        number = ch.send(b"\x15hello", vw.RELIABLE_ORDERED, 0)
        first = vdg.parse_datagram(ch.build_datagrams(0.0)[0]).messages
        self.assertEqual([m.number for m in first], [number])
        self.assertEqual(ch.build_datagrams(0.4), [])
        again = vdg.parse_datagram(ch.build_datagrams(0.6)[0]).messages
        self.assertEqual([(m.number, m.index, m.payload) for m in again], [(number, 0, b"\x15hello")])
        self.assertFalse(ch.is_dead(3.0))
        self.assertTrue(ch.is_dead(3.1))
        ch.receive_datagram(bytes.fromhex("e30000"), 3.2)   # acknowledges number 0
        self.assertEqual(ch.unacknowledged, 0)
        self.assertFalse(ch.is_dead(9.0))
        self.assertEqual(ch.build_datagrams(9.0), [])

    def test_client_never_splits(self):
        ch = vch.Channel(mtu=576)
        ch.send(bytes(ch.max_payload), vw.RELIABLE_ORDERED)
        [d] = ch.build_datagrams(0.0)
        self.assertLessEqual(len(d), 576 - 28)
        with self.assertRaises(ValueError):
            ch.send(bytes(ch.max_payload + 1), vw.RELIABLE)

    def test_many_messages_pack_into_bounded_datagrams(self):
        ch = vch.Channel(mtu=576)
        for n in range(300):
            ch.send(le("BI", 200, n), vw.RELIABLE_ORDERED)
        out = ch.build_datagrams(0.0)
        self.assertTrue(all(len(d) <= 576 - 28 for d in out))
        numbers = [m.index for d in out for m in vdg.parse_datagram(d).messages]
        self.assertEqual(numbers, list(range(300)))


# ---- offline: RPC framing and game payloads ----------------------------------------------------

class RpcAndGamePayloads(unittest.TestCase):
    def test_rpc_framing(self):
        self.assertEqual(vw.encode_rpc(52), bytes.fromhex("1434f0f0"))
        four = bits(b"\x14\x3c", "1110", "00100000", b"\x01\x02\x03\x04")[0]
        self.assertEqual(vw.encode_rpc(60, b"\x01\x02\x03\x04"), four)
        stamped = b"\x28" + le("I", 0x01020304) + four
        self.assertEqual(vw.encode_rpc(60, b"\x01\x02\x03\x04", timestamp=0x01020304), stamped)
        call = vw.decode_rpc(stamped)
        self.assertEqual((call.rpc_id, call.payload, call.bits, call.timestamp), (60, b"\x01\x02\x03\x04", 32, 0x01020304))
        empty = vw.decode_rpc(bytes.fromhex("1434f0f0"))
        self.assertEqual((empty.rpc_id, empty.bits, empty.payload), (52, 0, b""))
        odd = vw.decode_rpc(bits(b"\x14\x65", "1111", "0011", "101")[0], 8 + 8 + 8 + 3)
        self.assertEqual((odd.rpc_id, odd.bits, odd.payload), (0x65, 3, b"\xa0"))
        with self.assertRaises(vw.WireError):
            vw.decode_rpc(four[:-1])
        with self.assertRaises(vw.WireError):
            vw.decode_rpc(b"\x15\x3c")

    def test_client_payloads(self):
        table = [
            (vw.npc_join("Bot", 0), bytes.fromhex("dd0f00000103") + b"Bot" + bytes.fromhex("dd0f0000")),
            (vw.npc_join("Bot", 0x12345678), bytes.fromhex("dd0f00000103") + b"Bot" + le("I", 0x12345678 ^ 4061)),
            (vw.player_join("Alice", 1, serial=b"S1"),
             bytes.fromhex("dd0f00000105") + b"Alice" + le("I", 1 ^ 4061) + b"\x02S1"),
            (vw.player_join("Alice", 1, serial=b"S1", client_version="0.3"),
             bytes.fromhex("dd0f00000105") + b"Alice" + le("I", 1 ^ 4061) + b"\x02S1\x030.3"),
            (vw.chat_text("hi there"), b"\x08hi there"),
            (vw.command_text("/x"), b"\x02\x00\x00\x00/x"),
            (vw.class_request(3), b"\x03\x00\x00\x00"),
            (vw.class_request(-1), b"\xff\xff\xff\xff"),
            (vw.spawn_request(), b""),
            (vw.death_report(49, 7), b"\x31\x07\x00"),
            (vw.rcon_command_packet("login pw"), b"\xc9\x08\x00\x00\x00login pw"),
        ]
        for got, want in table:
            self.assertEqual(got, want)
        with self.assertRaises(ValueError):
            vw.chat_text("x" * 256)

    def game_init_bits(self, hostname=b"My server"):
        models = bytes(range(212))
        return bits("0", "1", "0", "1", le("f", 200.0), "1", le("f", 70.0), "0", "1", "0",
                    le("I", 3), le("H", 7), "1", le("I", 2), le("B", 12), le("B", 10), le("f", 0.008),
                    "1", le("i", -5), "0", le("IIIII", 40, 40, 40, 2, 1),
                    le("B", len(hostname)), hostname, models, le("i", 1))

    def test_game_init(self):
        data, n = self.game_init_bits()
        g = vw.decode_game_init(vw.BitReader(data, n))
        self.assertEqual((g.use_player_ped_anims, g.limit_global_chat_radius, g.global_chat_radius,
                          g.stunt_bonus, g.name_tag_draw_distance, g.name_tag_line_of_sight,
                          g.manual_vehicle_engine_and_lights),
                         (True, True, 200.0, True, 70.0, True, False))
        self.assertEqual((g.class_count, g.player_id, g.show_name_tags, g.player_marker_mode,
                          g.world_time_hour, g.weather, round(g.gravity, 6), g.lan_mode,
                          g.death_drop_amount),
                         (3, 7, True, 2, 12, 10, 0.008, True, -5))
        self.assertEqual((g.onfoot_rate, g.fixed_two, g.lagcomp_mode, g.hostname, g.model_counts[211],
                          g.vehicle_friendly_fire), (40, 2, 1, b"My server", 211, 1))
        data, n = self.game_init_bits(hostname=b"")
        self.assertEqual(vw.decode_game_init(vw.BitReader(data, n)).model_counts, bytes(range(212)))
        with self.assertRaises(vw.WireError):
            vw.decode_game_init(vw.BitReader(data, n - 1))

    def test_server_payloads(self):
        spawn = (le("B", 2) + le("i", 101) + le("i", 0) + le("B", 1) + le("fff", 1.5, -2.0, 3.0)
                 + le("f", 90.0) + le("iii", 24, 0, 31) + le("iii", 50, 0, 500))
        reply = vw.decode_class_reply(vw.BitReader(b"\x01" + spawn))
        self.assertEqual((reply.allowed, reply.spawn.team, reply.spawn.skin, reply.spawn.position,
                          reply.spawn.facing_angle, reply.spawn.weapons, reply.spawn.ammo),
                         (1, 2, 101, (1.5, -2.0, 3.0), 90.0, (24, 0, 31), (50, 0, 500)))
        self.assertEqual(reply.spawn.pack(), spawn)
        joined = vw.decode_player_joined(vw.BitReader(le("HIBB", 5, 0xFF0000AA, 1, 4) + b"Zed1"))
        self.assertEqual((joined.player_id, joined.colour, joined.is_npc, joined.name),
                         (5, 0xFF0000AA, True, b"Zed1"))
        left = vw.decode_player_left(vw.BitReader(le("HB", 5, 2)))
        self.assertEqual((left.player_id, left.reason), (5, 2))
        msg = vw.decode_client_message(vw.BitReader(le("Ii", 0xFFFFFFFF, 24) + b"SERVER: Unknown command."))
        self.assertEqual((msg.colour, msg.text), (0xFFFFFFFF, b"SERVER: Unknown command."))
        chat = vw.decode_chat_text(vw.BitReader(le("HB", 3, 5) + b"hello"))
        self.assertEqual((chat.player_id, chat.text), (3, b"hello"))
        self.assertEqual(vw.decode_spawn_reply(vw.BitReader(b"\x01")), 1)
        self.assertEqual(vw.decode_connection_rejected(vw.BitReader(b"\x02")), vw.RejectReason.BAD_NAME)
        with self.assertRaises(vw.WireError):
            vw.decode_class_reply(vw.BitReader(b"\x01" + spawn[:-1]))
        with self.assertRaises(vw.WireError):
            vw.decode_player_joined(vw.BitReader(le("HIBB", 5, 0, 0, 4) + b"Zed"))
        with self.assertRaises(vw.WireError):
            vw.decode_client_message(vw.BitReader(le("Ii", 1, 9) + b"short"))


class OnFootForms(unittest.TestCase):
    def test_sent_record_layout(self):
        rec = vw.OnFootSync(lr_keys=0xFF80, keys=0x0400, position=(1.0, 2.0, 3.0), health=100,
                            armour=50, weapon_byte=0xC5, special_action=2, velocity=(0.1, 0.0, 0.0),
                            surfing_id=0x1234, animation=0x00010017)
        p = vw.onfoot_packet(rec)
        self.assertEqual(len(p), 69)
        self.assertEqual(p[0], 207)
        self.assertEqual(p[1:3], le("H", 0xFF80))
        self.assertEqual(p[5:7], le("H", 0x0400))
        self.assertEqual(p[7:19], le("fff", 1.0, 2.0, 3.0))
        self.assertEqual(p[19:23], le("f", 1.0))   # quaternion w
        self.assertEqual(p[35:39], bytes([100, 50, 0xC5, 2]))
        self.assertEqual(p[63:65], le("H", 0x1234))
        self.assertEqual(p[65:69], le("i", 0x00010017))
        self.assertEqual(vw.OnFootSync.unpack(p[1:]).animation, 0x00010017)

    def test_relayed_forms(self):
        shortest = bits("11001111", le("H", 3), "0", "0", le("H", 8), le("fff", 1.0, 2.0, 3.0),
                        "0000", "0" * 48, b"\xf0\x05\x00", le("f", 0.0), "0", "0")
        r = vw.decode_relayed_onfoot(*shortest)
        self.assertEqual((r.player_id, r.lr_keys, r.ud_keys, r.keys, r.position, r.quaternion,
                          r.health_armour, r.weapon, r.velocity, r.surfing_id, r.animation),
                         (3, 0, 0, 8, (1.0, 2.0, 3.0), (1.0, 0.0, 0.0, 0.0), 0xF0, 5, (0.0, 0.0, 0.0), 0, 0))
        full = bits("11001111", le("H", 999), "1", le("H", 0xFF80), "1", le("H", 0x0080), le("H", 0),
                    le("fff", -1.0, 0.5, 10.0), "0100", le("HHH", 65535, 0, 0), b"\x77\x18\x02",
                    le("f", 2.0), le("HHH", 32767, 32767, 65535), "1", le("H", 2005),
                    le("fff", 0.25, 0.0, -0.25), "1", le("i", -7))
        r = vw.decode_relayed_onfoot(*full)
        self.assertEqual((r.player_id, r.lr_keys, r.ud_keys, r.quaternion, r.health_armour,
                          r.surfing_id, r.surfing_offset, r.animation),
                         (999, 0xFF80, 0x0080, (0.0, -1.0, 0.0, 0.0), 0x77, 2005, (0.25, 0.0, -0.25), -7))
        self.assertAlmostEqual(r.velocity[2], 2.0, places=3)
        with self.assertRaises(vw.WireError):
            vw.decode_relayed_onfoot(full[0], full[1] - 1)
        self.assertEqual([vw.health_armour_byte(h, a) for h, a in ((100, 0), (50, 50), (0, 255), (6, 7))],
                         [0xF0, 0x77, 0x0F, 0x01])


# ---- offline: query forms and the query client over loopback -----------------------------------

class QueryForms(unittest.TestCase):
    HEAD = b"VELT" + bytes([127, 0, 0, 1]) + le("H", 7777)

    def test_request_bytes(self):
        self.assertEqual(vq.header("127.0.0.1", 7777, "i"), self.HEAD + b"i")
        self.assertEqual(vq.rcon_request(self.HEAD + b"x", "pw", "echo hi"),
                         self.HEAD + b"x\x02\x00pw\x07\x00echo hi")

    def test_reply_decoders(self):
        info = self.HEAD + b"i" + le("BHH", 1, 3, 47) + le("I", 4) + b"Host" + le("I", 2) + b"gm" + le("I", 0)
        self.assertEqual(vq.decode_info(info), vq.Info(True, 3, 47, b"Host", b"gm", b""))
        rules = self.HEAD + b"r" + le("H", 2) + b"\x07gravity\x050.008\x07weather\x0210"
        self.assertEqual(vq.decode_rules(rules), [(b"gravity", b"0.008"), (b"weather", b"10")])
        clients = self.HEAD + b"c" + le("H", 2) + b"\x03Ann" + le("i", -4) + b"\x02Bo" + le("i", 9)
        self.assertEqual(vq.decode_clients(clients), [(b"Ann", -4), (b"Bo", 9)])
        detailed = self.HEAD + b"d" + le("H", 1) + b"\x07\x03Ann" + le("iI", 5, 31)
        self.assertEqual(vq.decode_detailed(detailed), [(7, b"Ann", 5, 31)])
        self.assertEqual(vq.decode_rcon_line(self.HEAD + b"x" + le("H", 5) + b"hello"), b"hello")
        for decode, bad in ((vq.decode_info, info[:-1]), (vq.decode_info, info + b"\x00"),
                            (vq.decode_rules, rules[:-2]), (vq.decode_detailed, detailed[:-1])):
            with self.assertRaises(vw.WireError):
                decode(bad)

    def test_client_retries_gated_requests_and_collects_rcon_lines(self):
        srv = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        srv.bind(("127.0.0.1", 0))
        srv.settimeout(5.0)
        port = srv.getsockname()[1]
        seen = []

        def serve():
            try:
                for _ in range(3):
                    data, addr = srv.recvfrom(2048)
                    seen.append((data, addr))
                    if data[10:11] == b"p" and len(seen) == 1:
                        continue   # the first ping is dropped, as a rate gate would
                    if data[10:11] == b"p":
                        srv.sendto(data, addr)
                    else:
                        for line in (b"one", b"", b"three"):
                            srv.sendto(data[:11] + le("H", len(line)) + line, addr)
            except OSError:
                pass

        t = threading.Thread(target=serve, daemon=True)
        t.start()
        with vw.QueryClient("127.0.0.1", port, bind_host="127.0.0.3") as q:
            self.assertTrue(q.ping(b"abcd", timeout=0.3))
            self.assertEqual(q.rcon("pw", "varlist", timeout=2.0, quiet=0.3), [b"one", b"", b"three"])
        t.join(timeout=5.0)
        srv.close()
        self.assertEqual(seen[0][1][0], "127.0.0.3")
        self.assertEqual(seen[2][0], vq.header("127.0.0.1", port, "x") + b"\x02\x00pw\x07\x00varlist")


# ---- live: the transport's test server -----------------------------------------------------------

class Program:
    """A helper program with its stdout read line by line on a thread."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._pump, daemon=True).start()
        first = self.wait(r"^PORT (\d+)$")
        self.port = int(first.group(1))

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def wait(self, pattern, timeout=WAIT):
        """The first unseen line matching `pattern` (lines passed over are kept for later)."""
        rx = re.compile(pattern)
        for i, line in enumerate(self.seen):
            m = rx.search(line)
            if m:
                del self.seen[i]
                return m
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("no line matching %r within %.0f s; other lines: %r"
                                     % (pattern, timeout, self.seen[-10:]))
            if line is None:
                raise AssertionError("program ended before a line matching %r" % pattern)
            m = rx.search(line)
            if m:
                return m
            self.seen.append(line)

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        self.wait(r"^OK$")

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.proc.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=WAIT)
        self.proc.stdout.close()


class LiveBase(unittest.TestCase):
    program = None
    args = ()

    @classmethod
    def setUpClass(cls):
        if cls.program_path() is None or TABLE is None:
            raise unittest.SkipTest("needs the helper program and --table")
        cls.server = Program([cls.program_path()] + list(cls.args))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def client(self, bind="127.0.0.2", **kw):
        scrambler = vw.Scrambler.from_header(TABLE, self.server.port)
        conn = vw.Connection("127.0.0.1", self.server.port, scrambler, bind_host=bind, **kw)
        self.addCleanup(conn.close)
        return conn


class PeerServerLive(LiveBase):
    args = ("--cookies", "1", "--lifetime", "90")
    CHALLENGE = 0xC0FFEE11   # what the test server hands out

    @staticmethod
    def program_path():
        return PEER_SERVER

    def test_cookie_handshake_fields_and_disconnect(self):
        conn = self.client("127.0.0.2")
        acc = conn.connect(timeout=WAIT)
        self.assertEqual(conn.cookie_replies, 1)
        self.assertEqual((acc.address, acc.port, acc.challenge), ("127.0.0.2", conn.local[1], self.CHALLENGE))
        self.server.wait(r"^EVENT connected %d 127\.0\.0\.2:%d$" % (acc.player_index, conn.local[1]))
        conn.disconnect()
        self.server.wait(r"^EVENT closed %d 127\.0\.0\.2:%d$" % (acc.player_index, conn.local[1]))

    def test_ordered_messages_and_calls_echo_in_order(self):
        count = 300
        a, b = self.client("127.0.0.3"), self.client("127.0.0.2")
        a.connect(timeout=WAIT)
        b.connect(timeout=WAIT)
        self.assertNotEqual(a.player_index, b.player_index)
        for conn in (a, b):
            conn.send_rpc(25, b"join")
        for n in range(count):
            a.send(le("BI", 200, n), vw.RELIABLE_ORDERED, 0)
            a.send_rpc(60, le("I", n), reliability=vw.RELIABLE_ORDERED, channel=1)
        b.send(le("BI", 200, 0), vw.RELIABLE_ORDERED, 0)
        echoes, replies = [], []
        while len(echoes) < count or len(replies) < count:
            m = a.expect(lambda m: m.id == 200 or m.is_rpc(61), WAIT, what="echo %d/%d" % (len(echoes), len(replies)))
            if m.id == 200:
                self.assertEqual((m.channel, m.reliability, len(m.data)), (0, vw.RELIABLE_ORDERED, 5))
                echoes.append(struct.unpack_from("<I", m.data, 1)[0])
            else:
                call = m.rpc()
                self.assertEqual((m.channel, call.bits), (1, 32))
                replies.append(struct.unpack("<I", call.payload)[0])
        self.assertEqual(echoes, list(range(count)))
        self.assertEqual(replies, list(range(count)))
        a.send(b"\xc9", vw.RELIABLE_ORDERED, 0)
        summary = a.expect_id(201, WAIT)
        self.assertEqual(struct.unpack_from("<III", summary.data, 1), (count, count, 0))
        self.server.wait(r"^SUMMARY %d %d %d 0$" % (a.player_index, count, count))
        self.assertEqual(struct.unpack_from("<I", b.expect_id(200, WAIT).data, 1)[0], 0)
        self.assertEqual(a.channel.stats.duplicates + a.inbox_dropped, 0)

    def test_pings_are_answered(self):
        conn = self.client("127.0.0.2")
        acc = conn.connect(timeout=WAIT)
        conn.send_rpc(25, b"join")
        deadline = time.monotonic() + WAIT
        while conn.pings_answered == 0 and time.monotonic() < deadline:
            conn.pump(0.05)
        self.assertGreater(conn.pings_answered, 0)
        average = -1   # stays -1 while the server has measured no answer
        while average < 0 and time.monotonic() < deadline:
            conn.pump(0.1)
            self.server.command("pings")
            m = self.server.wait(r"^PING %d (-?\d+) (-?\d+) (-?\d+)$" % acc.player_index)
            average = int(m.group(1))
        self.assertGreaterEqual(average, 0)
        conn.ping()
        deadline = time.monotonic() + WAIT
        while conn.rtt_ms is None and time.monotonic() < deadline:
            conn.pump(0.05)
        self.assertIsNotNone(conn.rtt_ms)

    def test_kick_is_seen_as_closed_by_the_server(self):
        conn = self.client("127.0.0.3", background=False)   # driven by its own calls only
        acc = conn.connect(timeout=WAIT)
        self.server.wait(r"^EVENT connected %d 127\.0\.0\.3:%d$" % (acc.player_index, conn.local[1]))
        self.server.command("kick %d" % acc.player_index)
        self.assertTrue(conn.wait_closed(WAIT))
        self.assertEqual(conn.closed_reason, "closed by server")
        with self.assertRaises(TimeoutError):
            conn.expect_id(200, 0.1)


class PasswordLive(LiveBase):
    args = ("--cookies", "0", "--password", "s3cret", "--lifetime", "60")

    @staticmethod
    def program_path():
        return PEER_SERVER

    def test_wrong_password_is_refused_and_the_right_one_accepted(self):
        with self.assertRaises(vw.ConnectionRefused) as refused:
            self.client("127.0.0.2", password="s3creT").connect(timeout=WAIT)
        self.assertEqual(str(refused.exception), "bad password")
        conn = self.client("127.0.0.3", password="s3cret")
        conn.connect(timeout=WAIT)
        self.assertEqual(conn.cookie_replies, 0)
        conn.disconnect()


class SplitLive(LiveBase):
    args = ("--lifetime", "60")

    @staticmethod
    def program_path():
        return SPLIT_SENDER

    def test_large_messages_from_the_server_are_reassembled(self):
        conn = self.client("127.0.0.2")
        conn.connect(timeout=WAIT)
        requests = [(3000, vw.RELIABLE_ORDERED, 2), (1200, vw.RELIABLE, 0),
                    (20000, vw.RELIABLE_ORDERED, 2), (2500, vw.UNRELIABLE_SEQUENCED, 1), (700, vw.UNRELIABLE, 0)]
        for n, reliability, channel in requests:
            conn.send(le("BIBB", 202, n, reliability, channel), vw.RELIABLE_ORDERED, 0)
            m = conn.expect(lambda m: m.id == 202, WAIT, what="a reply of %d bytes" % n)
            self.assertEqual(struct.unpack_from("<I", m.data, 1)[0], n)
            self.assertEqual((m.bits, m.reliability), ((5 + n) * 8, reliability))
            self.assertEqual(m.data[5:], bytes((i * 131 + n) & 0xFF for i in range(n)))
        self.assertGreaterEqual(conn.channel.stats.splits_joined, len(requests))
        conn.disconnect()
        self.server.wait(r"^EVENT 32 ")


def main():
    global PEER_SERVER, SPLIT_SENDER, TABLE
    ap = argparse.ArgumentParser()
    ap.add_argument("--peer-server")
    ap.add_argument("--split-sender")
    ap.add_argument("--table")
    args, rest = ap.parse_known_args()
    PEER_SERVER, SPLIT_SENDER, TABLE = args.peer_server, args.split_sender, args.table
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
