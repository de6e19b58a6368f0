#!/usr/bin/env python3
"""The game protocol end to end: velt-server-test against the independent wire client.

Joins and their refusals, the relay of on-foot records to the players streaming the sender,
streaming by distance and virtual world, chat and commands, classes, spawns, deaths and the
in-game remote console; each group on a server of its own, which must end cleanly.

usage: protocol_e2e.py <path to velt-server-test> <path to net/ScrambleTable.h>
"""

import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from protocol_support import (RCON_PASSWORD, Server, assert_clean_exit, drain,  # noqa: E402
                              next_client_message, vw)

BINARY = TABLE = None


class ServerCase(unittest.TestCase):
    """One server per group of tests; it must end cleanly after them."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(BINARY, TABLE)

    @classmethod
    def tearDownClass(cls):
        try:
            assert_clean_exit(cls.server)
        finally:
            cls.server.remove()


# ---- joining -------------------------------------------------------------------------------------

class JoinTests(ServerCase):
    def test_join_and_leave_are_seen_by_others_and_logged(self):
        a, init = self.server.join("Joiner_A")
        self.assertEqual(init.player_id, a.player_index)
        self.assertEqual(init.onfoot_rate, 30)
        b, _ = self.server.join("Joiner_B")
        joined = vw.decode_player_joined(a.expect_rpc(vw.Rpc.PlayerJoined))
        self.assertEqual((joined.player_id, joined.name, joined.is_npc), (b.player_index, b"Joiner_B", False))
        # The newcomer hears of the player already there.
        there = vw.decode_player_joined(b.expect_rpc(vw.Rpc.PlayerJoined))
        self.assertEqual(there.player_id, a.player_index)

        b.disconnect()
        left = vw.decode_player_left(a.expect_rpc(vw.Rpc.PlayerLeft))
        self.assertEqual((left.player_id, left.reason), (b.player_index, 1))
        self.server.wait_for("[part] Joiner_B has left the server (%d:1)" % b.player_index)
        a.disconnect()

    def test_refusals_carry_their_reason_byte(self):
        holder, _ = self.server.join("Holder")
        cases = [
            ("too short", "ab", {}, 2),
            ("21 characters", "N" * 21, {}, 2),
            ("blank inside", "Al ice", {}, 2),
            ("embedded zero", b"Ali\0ce", {}, 2),
            ("taken in another case", "HOLDER", {}, 2),
            ("old version", "Versioned", {"version": 4060}, 1),
            ("wrong challenge answer", "Challenged", {"answer": 12345}, 1),
            ("check byte", "Checked", {"check_byte": 0}, 3),
        ]
        for what, name, fields, reason in cases:
            with self.subTest(what):
                conn = self.server.connect()
                with self.assertRaises(vw.JoinRejected) as refused:
                    vw.join(conn, name, timeout=10, **fields)
                self.assertEqual(refused.exception.reason, reason)
                self.assertTrue(conn.wait_closed(10), "not kicked after the refusal")
        # A name of 20 characters is fine.
        ok, _ = self.server.join("N" * 20)
        ok.disconnect()
        holder.disconnect()

    def test_bots_are_refused_while_maxnpc_is_zero(self):
        conn = self.server.connect()
        with self.assertRaises(vw.JoinRejected) as refused:
            vw.join(conn, "Bot_Zero", npc=True, timeout=10)
        self.assertEqual(refused.exception.reason, 4)
        self.assertTrue(conn.wait_closed(10))


class IntermissionTests(ServerCase):
    def test_join_during_the_intermission_is_told_the_gamemode_restarts(self):
        admin, _ = self.server.join("Admin")
        vw.player.rcon(admin, "login " + RCON_PASSWORD)
        self.assertEqual(next_client_message(admin), "SERVER: You are logged in as admin.")
        vw.player.rcon(admin, "gmx")
        admin.expect_rpc(vw.Rpc.GameModeRestart, 10)

        late = self.server.connect()
        vw.join(late, "Latecomer", timeout=10)
        late.expect_rpc(vw.Rpc.GameModeRestart, 5)
        # After the intermission the game runs again and the late joiner stays.
        self.server.wait_for("Number of vehicle models: 0", count=2, timeout=30)
        vw.player.say(late, "still here")
        self.assertEqual(vw.decode_chat_text(admin.expect_rpc(vw.Rpc.ChatText, 10)).text, b"still here")
        late.disconnect()
        admin.disconnect()


# ---- relay and streaming ---------------------------------------------------------------------------

def walking(x, y, **fields):
    return vw.OnFootSync(position=(x, y, 10.0), **fields)


def expected_relay(player_id, r):
    """The relayed on-foot form, written field by field from the record."""
    w = vw.BitWriter()
    w.write_u8(207)
    w.write_u16(player_id)
    for axis in (r.lr_keys, r.ud_keys):
        w.write_bool(axis != 0)
        if axis:
            w.write_u16(axis)
    w.write_u16(r.keys)
    for v in r.position:
        w.write_f32(v)
    w.write_compressed_quaternion(*r.quaternion)
    w.write_u8(vw.health_armour_byte(r.health, r.armour))
    w.write_u8(r.weapon_byte & 0x3F)
    w.write_u8(r.special_action)
    w.write_compressed_vector(*r.velocity)
    w.write_bool(r.surfing_id != 0)
    if r.surfing_id:
        w.write_u16(r.surfing_id)
        for v in r.surfing_offset:
            w.write_f32(v)
    w.write_bool(r.animation != 0)
    if r.animation:
        w.write_i32(r.animation)
    return w.getvalue(), w.bits


def relay_of(player_id):
    return lambda m: m.id == 207 and m.data[1] | (m.data[2] << 8) == player_id


def stream_rpc(rpc_id, player_id):
    return lambda m: m.is_rpc(rpc_id) and m.rpc().reader().read_u16() == player_id


class RelayTests(ServerCase):
    def pair(self, a_name, b_name):
        a, _ = self.server.join(a_name)
        b, _ = self.server.join(b_name)
        return a, b

    def walk_until(self, walkers, conn, predicate, what, timeout=10.0):
        """Both players keep reporting (their streaming passes run from their reports) until the
        message arrives."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for c, record in walkers:
                vw.player.send_onfoot(c, record)
            m = conn.expect(predicate, 0.1, raise_on_timeout=False)
            if m is not None:
                return m
        self.fail("%s did not arrive within %s s" % (what, timeout))

    def test_streamer_receives_the_record_bit_exactly_and_timestamped_ones_too(self):
        a, b = self.pair("Relay_A", "Relay_B")
        record = walking(10.5, -3.25, lr_keys=0xFF80, keys=8, quaternion=(0.6, 0.0, 0.0, 0.8),
                         health=100, armour=43, weapon_byte=24 | 0x40, special_action=2,
                         velocity=(0.25, -0.125, 0.0), animation=1189)
        still = walking(0.0, 0.0)
        self.walk_until([(a, record), (b, still)], b, stream_rpc(vw.Rpc.PlayerStreamIn, a.player_index),
                        "A streamed in for B")
        # Relays travel unreliably: each record is repeated until its relay is seen.
        m = self.send_until(a, vw.onfoot_packet(record), b, relay_of(a.player_index))
        data, bits = expected_relay(a.player_index, record)
        self.assertEqual((m.data, m.bits), (data, bits))
        self.assertEqual((m.reliability, m.channel), (vw.UNRELIABLE_SEQUENCED, 1))

        # [40][u32 time][207][record]: read after its prefix, relayed like any other.
        stamped = walking(11.0, -3.0, animation=777)
        m = self.send_until(a, struct.pack("<BI", 40, 123456) + vw.onfoot_packet(stamped), b,
                            lambda m: relay_of(a.player_index)(m) and
                            vw.decode_relayed_onfoot(m.data, m.bits).animation == 777)
        self.assertEqual((m.data, m.bits), expected_relay(a.player_index, stamped))

        # A position outside the world is dropped; the valid record after it still goes out.
        drain(b)
        seen = []

        def valid_relay(m):
            if not relay_of(a.player_index)(m):
                return False
            relayed = vw.decode_relayed_onfoot(m.data, m.bits)
            seen.append(relayed.position[0])
            return relayed.animation == 14
        vw.player.send_onfoot(a, walking(30000.0, 0.0, animation=13))
        self.send_until(a, vw.onfoot_packet(walking(12.0, 0.0, animation=14)), b, valid_relay)
        self.assertNotIn(30000.0, seen)
        a.disconnect()
        b.disconnect()

    def send_until(self, sender, packet, receiver, predicate, timeout=8.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            sender.send_sync(packet)
            m = receiver.expect(predicate, 0.3, raise_on_timeout=False)
            if m is not None:
                return m
        self.fail("no matching relay within %s s" % timeout)

    def test_streaming_follows_distance_and_virtual_world(self):
        a, b = self.pair("Stream_A", "Stream_B")
        at_edge = walking(30.0, 40.0)        # exactly "stream_distance" (50) from B
        beyond = walking(30.0, 40.25)
        b_place = walking(0.0, 0.0)
        stream_in = stream_rpc(vw.Rpc.PlayerStreamIn, a.player_index)
        stream_out = stream_rpc(vw.Rpc.PlayerStreamOut, a.player_index)

        self.walk_until([(a, at_edge), (b, b_place)], b, stream_in, "stream-in at the edge")
        self.walk_until([(a, beyond), (b, b_place)], b, stream_out, "stream-out beyond the edge")
        # Out of range, A's records no longer reach B.
        drain(b)
        for _ in range(5):
            vw.player.send_onfoot(a, beyond)
            time.sleep(0.05)
        self.assertIsNone(b.expect(relay_of(a.player_index), 0.5, raise_on_timeout=False))

        self.walk_until([(a, at_edge), (b, b_place)], b, stream_in, "stream-in again")
        vw.player.command(a, "/t world 3")
        self.walk_until([(a, at_edge), (b, b_place)], b, stream_out, "stream-out into another world")
        vw.player.command(a, "/t world 0")
        self.walk_until([(a, at_edge), (b, b_place)], b, stream_in, "stream-in back in the same world")
        a.disconnect()
        b.disconnect()

    def test_gamemode_veto_on_player_update_suppresses_the_relay(self):
        a, b = self.pair("Veto_A", "Veto_B")
        self.walk_until([(a, walking(1.0, 1.0)), (b, walking(0.0, 0.0))], b,
                        stream_rpc(vw.Rpc.PlayerStreamIn, a.player_index), "stream-in")
        vw.player.command(a, "/t muteupdate")
        time.sleep(0.3)
        drain(b)
        for _ in range(10):
            vw.player.send_onfoot(a, walking(2.0, 2.0, animation=555))
            time.sleep(0.05)
        self.assertIsNone(b.expect(relay_of(a.player_index), 0.5, raise_on_timeout=False))
        a.disconnect()
        b.disconnect()


# ---- chat, commands, classes, spawns, deaths, the in-game console -----------------------------------

class PlayTests(ServerCase):
    def test_chat_is_stripped_relayed_and_logged_and_long_lines_ignored(self):
        a, _ = self.server.join("Chat_A")
        b, _ = self.server.join("Chat_B")
        vw.player.say(a, "x" * 129)
        vw.player.say(a, "{FF8800}hi {12{ABCDEF}3456}there")
        line = vw.decode_chat_text(b.expect_rpc(vw.Rpc.ChatText))
        self.assertEqual((line.player_id, line.text), (a.player_index, b"hi there"))
        self.server.wait_for("[chat] [Chat_A]: hi there")
        self.assertFalse(any("x" * 129 in l for l in self.server.log()))
        a.disconnect()
        b.disconnect()

    def test_commands_reach_the_gamemode_and_unknown_ones_are_answered(self):
        a, _ = self.server.join("Cmd_A")
        vw.player.command(a, "/x")
        self.assertEqual(next_client_message(a), "SERVER: Unknown command.")
        self.server.wait_for("[test] OnPlayerCommandText(%d, /x)" % a.player_index)
        a.disconnect()

    def test_class_answer_and_spawns_with_and_without_leave(self):
        a, _ = self.server.join("Class_A")
        vw.player.command(a, "/t addclass 7")
        index = int(next_client_message(a).split()[1])
        reply = vw.player.request_class(a, index)
        self.assertEqual(reply.allowed, 1)
        s = reply.spawn
        self.assertEqual((s.team, s.skin, s.custom_skin, s.one), (1, 7, 0, 0))
        self.assertEqual((s.position, s.facing_angle), ((1958.5, 1343.25, 15.5), 270.0))
        self.assertEqual((s.weapons, s.ammo), ((24, 31, 0), (100, 500, 0)))
        self.assertEqual(vw.player.request_spawn(a), 1)
        vw.player.spawned(a)

        # A client that spawns after being refused is banned for ten minutes and kicked.
        cheat, _ = self.server.join("Class_Cheat", bind_host="127.0.0.3")
        vw.player.request_class(cheat, index)
        vw.player.command(cheat, "/t denyspawn")
        self.assertEqual(vw.player.request_spawn(cheat), 0)
        vw.player.spawned(cheat)
        self.assertTrue(cheat.wait_closed(10), "not kicked")
        with self.assertRaises(vw.ConnectionRefused) as refused:
            self.server.connect(bind_host="127.0.0.3")
        self.assertEqual(str(refused.exception), "banned")

        # The player who was allowed stays.
        vw.player.say(a, "after")
        self.assertEqual(vw.decode_chat_text(a.expect_rpc(vw.Rpc.ChatText)).text, b"after")
        a.disconnect()

    def test_death_with_a_killer_who_is_no_player(self):
        a, _ = self.server.join("Dying_A")
        a.send_rpc(vw.Rpc.DeathReport, vw.death_report(31, 5000))
        self.server.wait_for("[death] Dying_A died 31")
        self.server.wait_for("[test] OnPlayerDeath(%d, 65535, 31)" % a.player_index)
        a.disconnect()

    def test_in_game_console_login_and_command_output(self):
        a, _ = self.server.join("Rcon_A")
        vw.player.rcon(a, "login wrong")
        self.assertEqual(next_client_message(a),
                         "SERVER: Bad admin password. Repeated attempts will get you banned.")
        vw.player.rcon(a, "echo not yet")
        vw.player.rcon(a, "LOGIN " + RCON_PASSWORD)
        self.assertEqual(next_client_message(a), "SERVER: You are logged in as admin.")
        vw.player.rcon(a, "echo hello admin")
        self.assertEqual(next_client_message(a), "hello admin")
        self.server.wait_for("RCON (In-Game): Player [Rcon_A] sent command: echo hello admin")
        self.assertNotIn("RCON (In-Game): Player [Rcon_A] sent command: echo not yet", self.server.log())
        a.disconnect()


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    TABLE = os.path.abspath(sys.argv.pop(2))
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
