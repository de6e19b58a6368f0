#!/usr/bin/env python3
"""Malformed input over the wire: every RPC id the server registers and every game packet id, sent
empty, truncated at every length, cut inside a byte, over-long and random, from clients that are
connected but not joined as well as from joined ones (each joined one with a vehicle of its own,
which the vehicle reports and records name, also with non-finite numbers and ids past the pool).
Throughout, a well-behaved client keeps chatting; at the end a new client still joins, and the
server (built with the sanitizers in the test build) ends cleanly without a report.

usage: protocol_sweep.py <path to velt-server-test> <path to net/ScrambleTable.h>
"""

import os
import random
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from protocol_support import Server, assert_clean_exit, next_client_message, vw  # noqa: E402

BINARY = TABLE = None

# The RPCs the server answers, in the order it registers them.
REGISTERED_RPCS = [102, 118, 96, 31, 119, 136, 97, 131, 132, 140, 62, 23, 25, 54, 101, 128, 129, 52,
                   53, 106, 26, 154, 50, 155, 116, 117, 27, 83, 168, 115, 177, 181, 182, 184]
JOIN_RPCS = (vw.Rpc.PlayerJoin, vw.Rpc.NpcJoin)
# Game packet ids a client may send, those only the server sends, and the timestamp prefix.
PACKET_IDS = list(range(200, 213))
RECORD_SIZES = (18, 24, 31, 40, 54, 63, 67, 68)


def plausible(rpc_id, challenge, vehicle):
    """A well-formed payload to cut and extend."""
    if rpc_id == vw.Rpc.PlayerJoin:
        return vw.player_join("Sweeper", challenge, client_version="0.3.DL")
    if rpc_id == vw.Rpc.NpcJoin:
        return vw.npc_join("SweepBot", challenge)
    if rpc_id == vw.Rpc.ChatText:
        return vw.chat_text("hello {FF0000}there")
    if rpc_id == vw.Rpc.CommandText:
        return vw.command_text("/hello there")
    if rpc_id == vw.Rpc.DialogResponse:
        return struct.pack("<HBHB", 0, 1, 2, 5) + b"input"
    if rpc_id == vw.Rpc.ClassRequest:
        return vw.class_request(0)
    if rpc_id == vw.Rpc.DeathReport:
        return vw.death_report(31, 0)
    if rpc_id == vw.Rpc.TextDrawSelect:
        return struct.pack("<H", 2050)
    if rpc_id == vw.Rpc.MenuRowSelect:
        return bytes([3])
    if rpc_id == vw.Rpc.AttachedObjectEdit:
        return struct.pack("<iiii9fII", 1, 0, 19, 2, 0.5, 0, 0, 0, 0, 90, 1, 1, 1, 0xFF00FF00, 0)
    if rpc_id == vw.Rpc.ObjectEdit:
        w = vw.BitWriter().write_bool(False).write_u16(1).write_i32(2)
        for v in (1.0, 2.0, 3.0, 0.0, 0.0, 90.0):
            w.write_f32(v)
        return w.getvalue()
    if rpc_id == vw.Rpc.ObjectSelect:
        return struct.pack("<iHi3f", 1, 1, 1337, 1.0, 2.0, 3.0)
    vehicle_payloads = {
        vw.Rpc.VehicleDamageStatus: lambda: vw.vehicle_damage(vehicle, 1, 2, 3, 4),
        vw.Rpc.VehicleEnter: lambda: vw.vehicle_enter(vehicle, 1),
        vw.Rpc.VehicleExit: lambda: vw.vehicle_exit(vehicle),
        vw.Rpc.VehicleModEvent: lambda: vw.vehicle_mod(vehicle, 1010, 0, 2),
        vw.Rpc.VehicleDestroyed: lambda: vw.vehicle_destroyed(vehicle),
    }
    if rpc_id in vehicle_payloads:
        return vehicle_payloads[rpc_id]()
    # Reports about the pickup and the actor of id 0 that "/t entities" placed.
    if rpc_id == vw.Rpc.PickupPickedUp:
        return struct.pack("<i", 0)
    if rpc_id == vw.Rpc.ActorDamage:
        return vw.BitWriter().write_bit(1).write_u16(0).write_f32(5.0).write_i32(24).write_i32(3).getvalue()
    return bytes(range(1, 17))


def vehicle_record(packet_id, vehicle):
    """A well-formed vehicle record of the joined client's own vehicle, or None."""
    at = (1.0, 1.0, 3.0)
    records = {
        200: lambda: vw.driver_packet(vw.InCarSync(vehicle_id=vehicle, position=at, siren=1)),
        209: lambda: vw.unoccupied_packet(vehicle, position=at),
        210: lambda: vw.trailer_packet(vehicle, position=at),
        211: lambda: vw.passenger_packet(vehicle, position=at),
    }
    return records[packet_id]() if packet_id in records else None


def record_variants(record):
    """Every cut, every 4-byte field made NaN or infinite, the id past the pool and no vehicle."""
    out = [record[:n] for n in range(1, len(record))]
    for offset in range(3, len(record) - 3):
        for bad in (float("nan"), float("inf"), float("-inf")):
            out.append(record[:offset] + struct.pack("<f", bad) + record[offset + 4:])
    for vid in (0, 1999, 2000, 2001, 0xFFFF):
        out.append(record[:1] + struct.pack("<H", vid) + record[3:])
    return out


def variants(payload, rng):
    """(bytes, bit length) pairs: empty, every truncation (also inside a byte), over-long, random,
    and length fields that promise more than follows."""
    out = [(b"", 0)]
    for n in range(1, len(payload)):
        out.append((payload[:n], n * 8))
        out.append((payload[:n], n * 8 - 3))
    out.append((payload, len(payload) * 8))
    out.append((payload + bytes(rng.randrange(256) for _ in range(200)), (len(payload) + 200) * 8))
    for _ in range(6):
        n = rng.randrange(1, 300)
        out.append((bytes(rng.randrange(256) for _ in range(n)), n * 8 - rng.randrange(8)))
    out.append((b"\xff" * 8, 64))
    out.append((b"\xff\xff\xff\xff" + b"\x01" * 3, 56))
    return out


def packet_variants(packet_id, rng, vehicle):
    out = [bytes([packet_id])]
    record = vehicle_record(packet_id, vehicle)
    if record is not None:
        out += record_variants(record)
    for size in RECORD_SIZES:
        for n in (size - 1, size, size + 1):
            out.append(bytes([packet_id]) + bytes(rng.randrange(256) for _ in range(n)))
    for n in range(1, 9):
        out.append(bytes([packet_id]) + bytes(rng.randrange(256) for _ in range(n)))
    out.append(bytes([packet_id]) + b"\xff" * 300)
    # Behind a timestamp prefix, whole and cut.
    out.append(struct.pack("<BI", 40, rng.randrange(1 << 32)) + bytes([packet_id]) + bytes(68))
    out.append(struct.pack("<BI", 40, 0) + bytes([packet_id]))
    # The in-game console line with lengths that lie.
    if packet_id == 201:
        out += [struct.pack("<BI", 201, n) + b"login x" for n in (0, 1, 7, 8, 256, 257, 0xFFFFFFFF)]
    return out


class Clients:
    """Sweeping connections, each on an address of its own, remade whenever the server drops one."""

    def __init__(self, server):
        self.server = server
        self.count = 0

    def fresh(self, join):
        self.count += 1
        host = "127.0.0.%d" % (10 + self.count % 240)
        conn = self.server.connect(bind_host=host)
        conn.vehicle = 1
        if join:
            vw.join(conn, "Sweep%d" % self.count, timeout=10)
            # Objects to name, and open editors, so that edit and selection reports get past the
            # first checks; a vehicle for the vehicle reports.
            vw.player.command(conn, "/t objects")
            vw.player.command(conn, "/t vehicle 411")
            # Client messages are not ordered among themselves: take the vehicle's answer.
            for _ in range(4):
                words = next_client_message(conn, 10).split()
                if words[:1] == ["vehicle"]:
                    conn.vehicle = int(words[1])
                    break
        return conn

    def send_joined(self, conn, send):
        """send(conn) on a joined connection, remade when the server dropped it, also between the
        check and the send; returns the connection used."""
        for _ in range(3):
            if not conn.connected:
                conn = self.fresh(True)
            try:
                send(conn)
                return conn
            except RuntimeError:
                continue
        raise AssertionError("no joined connection stays up long enough to send on")


class SweepTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(BINARY, TABLE, "maxnpc 2")

    def tearDown(self):
        try:
            assert_clean_exit(self.server)
        finally:
            self.server.remove()

    def check_server_serves(self, good, n):
        text = "still serving %d" % n
        vw.player.say(good, text)
        good.expect(lambda m: m.is_rpc(vw.Rpc.ChatText) and vw.decode_chat_text(m.rpc()).text == text.encode(),
                    10, what="the good client's own chat line")
        self.assertTrue(self.server.alive())

    def test_malformed_input_leaves_the_server_serving(self):
        rng = random.Random(0x5EED)
        good, _ = self.server.join("Good")
        vw.player.command(good, "/t entities")
        self.server.wait_for("[test] OnPlayerCommandText(%d, /t entities)" % good.player_index)
        clients = Clients(self.server)
        joined = clients.fresh(True)
        sent = 0

        for rpc_id in REGISTERED_RPCS:
            for data, bits in variants(plausible(rpc_id, joined.challenge, joined.vehicle), rng):
                if rpc_id in JOIN_RPCS:
                    # A join is answered per connection: each goes out on one not yet joined.
                    conn = clients.fresh(False)
                    conn.send_rpc(rpc_id, data, bits=bits)
                    conn.pump(0.02)
                    conn.close()
                else:
                    stamped = rng.random() < 0.2
                    joined = clients.send_joined(
                        joined, lambda c: c.send_rpc(rpc_id, data, bits=bits, timestamp=stamped))
                sent += 1
                if sent % 150 == 0:
                    self.check_server_serves(good, sent)
            self.check_server_serves(good, sent)

        for packet_id in PACKET_IDS:
            for data in packet_variants(packet_id, rng, joined.vehicle):
                joined = clients.send_joined(joined, lambda c: c.send(data, vw.RELIABLE_ORDERED, 0))
                sent += 1
            self.check_server_serves(good, sent)

        # Menu reports from a connection that never joined reach no script; the good client's do.
        menu_lines = ("[test] OnPlayerSelectedMenuRow(", "[test] OnPlayerExitedMenu(")
        before = [line for line in self.server.log() if line.startswith(menu_lines)]
        stranger = clients.fresh(False)
        for row in (0, 3, 255):
            stranger.send_rpc(vw.Rpc.MenuRowSelect, bytes([row]))
            stranger.send_rpc(vw.Rpc.MenuExit, b"")
        time.sleep(0.3)
        good.send_rpc(vw.Rpc.MenuExit, b"")
        exited = "[test] OnPlayerExitedMenu(%d)" % good.player_index
        self.server.wait_for(exited, count=before.count(exited) + 1)
        after = [line for line in self.server.log() if line.startswith(menu_lines)]
        self.assertEqual(after[len(before):], [exited])

        # The input reached the handlers, not just the transport.
        log = self.server.log()
        self.assertTrue(any(line.startswith("[test] OnPlayerClickPlayerTextDraw(") for line in log))
        self.assertTrue(any(line.startswith("[test] OnPlayerSelectedMenuRow(") for line in log))
        self.assertTrue(any(line.startswith("Invalid client connecting from") for line in log))
        self.assertTrue(any(line.startswith("Warning: PlayerDialogResponse crash exploit") for line in log))
        self.assertTrue(any(line.startswith("[npc:join] SweepBot") for line in log))
        for report in ("OnPlayerEditObject", "OnPlayerEditAttachedObject", "OnPlayerSelectObject"):
            self.assertTrue(any(line.startswith("[test] %s(" % report) for line in log), report)
        self.assertTrue(any(line.startswith("[test] OnPlayerEnterVehicle(") for line in log))
        # Reports reached the scripts, and only about the pickup and the actor that exist.
        for callback in ("OnPlayerPickUpPickup", "OnPlayerGiveDamageActor"):
            ids = [line.rsplit(" ", 1)[1] for line in log if line.startswith("[test] %s(" % callback)]
            self.assertTrue(ids, callback)
            self.assertEqual(set(ids), {"0)"}, callback)

        # Still joinable, still relaying chat.
        newcomer, init = self.server.join("Newcomer", bind_host="127.0.0.5")
        self.assertEqual(init.player_id, newcomer.player_index)
        self.check_server_serves(good, sent)
        newcomer.disconnect()
        good.disconnect()


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    TABLE = os.path.abspath(sys.argv.pop(2))
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
