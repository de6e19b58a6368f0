#!/usr/bin/env python3
"""Vehicles end to end: velt-server runs a gamemode that creates two vehicles with CreateVehicle
and AddStaticVehicle, and independent wire clients (tests/wire/velt_wire) walk up to one, see it
streamed in exactly at the stream distance, get in, drive it (a second client receives the
driver's relayed record bit for bit) and get out again; the gamemode's callbacks log what they
heard. A vehicle exit naming id 2000 is only dropped, one naming 2001 gets its sender kicked.

usage: vehicle_e2e.py <velt-server> <vehicles.vmb> <ScrambleTable.h>
"""

import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from protocol_support import Server, assert_clean_exit, drain, vw  # noqa: E402

BINARY = GAMEMODE = TABLE = None
MODEL_CAR, MODEL_OTHER = 411, 560
CAR = 1


def walking(x, y):
    return vw.OnFootSync(position=(x, y, 3.0))


def expected_driver_relay(player_id, r):
    """The relayed driver form, written field by field from the record."""
    w = vw.BitWriter()
    w.write_u8(200)
    w.write_u16(player_id)
    w.write_u16(r.vehicle_id)
    w.write_u16(r.lr_keys)
    w.write_u16(r.ud_keys)
    w.write_u16(r.keys)
    w.write_compressed_quaternion(*r.quaternion)
    for v in r.position:
        w.write_f32(v)
    w.write_compressed_vector(*r.velocity)
    w.write_u16(int(vw.f32(r.vehicle_health)))     # truncated toward zero
    w.write_u8(vw.health_armour_byte(r.player_health, r.armour))
    w.write_u8(r.weapon_byte & 0x3F)
    w.write_bool(r.siren != 0)
    w.write_bool(r.landing_gear != 0)
    w.write_bool(r.train_speed != 0)
    if r.train_speed:
        w.write_u32(r.train_speed)
    w.write_bool(r.trailer_id != 0)
    if r.trailer_id:
        w.write_u16(r.trailer_id)
    return w.getvalue(), w.bits


def stream_in_of(vehicle_id):
    return lambda m: m.is_rpc(vw.Rpc.VehicleStreamIn) and m.rpc().reader().read_u16() == vehicle_id


class VehicleTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(BINARY, TABLE, "sleep 5", gamemode=GAMEMODE,
                             ready="Number of vehicle models: 2")

    def tearDown(self):
        try:
            assert_clean_exit(self.server)
        finally:
            self.server.remove()

    def report_until(self, walkers, conn, predicate, what, timeout=10.0):
        """The players keep reporting (their streaming passes run from their reports) until the
        message arrives."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for c, packet in walkers:
                c.send_sync(packet)
            m = conn.expect(predicate, 0.1, raise_on_timeout=False)
            if m is not None:
                return m
        self.fail("%s did not arrive within %s s" % (what, timeout))

    def test_enter_drive_and_exit(self):
        server = self.server
        server.wait_for("vehicles: created 1 and 2")
        a, init = server.join("Driver_A")
        self.assertEqual(init.model_counts[MODEL_CAR - 400], 1)
        self.assertEqual(init.model_counts[MODEL_OTHER - 400], 1)
        self.assertEqual(sum(init.model_counts), 2)
        self.assertEqual(vw.player.request_class(a, 0).allowed, 1)
        self.assertEqual(vw.player.request_spawn(a), 1)
        vw.player.spawned(a)
        me = a.player_index

        # The car stands at (10, 0) and the stream distance is 50 (on the ground plane).
        drain(a)
        deadline = time.monotonic() + 1.5
        while time.monotonic() < deadline:
            vw.player.send_onfoot(a, walking(10.0, -50.25))
            self.assertIsNone(a.expect(stream_in_of(CAR), 0.1, raise_on_timeout=False),
                              "streamed in from beyond the stream distance")
        m = self.report_until([(a, vw.onfoot_packet(walking(10.0, -50.0)))], a, stream_in_of(CAR),
                              "the car's stream-in at the stream distance")
        car = vw.decode_vehicle_stream_in(m.rpc())
        self.assertEqual((car.vehicle_id, car.model), (CAR, MODEL_CAR))
        self.assertEqual((car.position, car.angle), ((10.0, 0.0, 3.0), 90.0))
        self.assertEqual((car.colour1, car.colour2, car.health), (1, 2, 1000.0))
        self.assertEqual((car.door_damage, car.panel_damage, car.light_damage, car.tyre_damage), (0, 0, 0, 0))
        self.assertEqual((car.components, car.paintjob, car.respray1, car.respray2), (bytes(14), 0, -1, -1))

        # A watcher near the car sees the driver and the car.
        b, _ = server.join("Watcher_B")
        self.report_until([(b, vw.onfoot_packet(walking(12.0, -45.0))), (a, vw.onfoot_packet(walking(10.0, -50.0)))],
                          b, lambda m: m.is_rpc(vw.Rpc.PlayerStreamIn) and m.rpc().reader().read_u16() == me,
                          "the driver's stream-in for the watcher")
        if not any(stream_in_of(CAR)(m) for m in list(b.inbox)):
            self.report_until([(b, vw.onfoot_packet(walking(12.0, -45.0)))], b, stream_in_of(CAR),
                              "the car's stream-in for the watcher")

        a.send_rpc(vw.Rpc.VehicleEnter, vw.vehicle_enter(CAR, 0))
        server.wait_for("vehicles: %d entered %d as passenger 0" % (me, CAR))
        entered = b.expect_rpc(vw.Rpc.VehicleEnter, 10)
        self.assertEqual(entered.payload, struct.pack("<HHB", me, CAR, 0))

        record = vw.InCarSync(vehicle_id=CAR, lr_keys=0xFF80, keys=8, quaternion=(0.6, 0.0, 0.0, 0.8),
                              position=(10.0, -40.0, 3.0), velocity=(0.25, -0.125, 0.0),
                              vehicle_health=999.9, player_health=100, armour=43, weapon_byte=24 | 0x40,
                              siren=1)
        drain(b)
        m = self.report_until([(a, vw.driver_packet(record))], b,
                              lambda m: m.id == 200 and m.data[1] | (m.data[2] << 8) == me,
                              "the driver's relayed record")
        self.assertEqual((m.data, m.bits), expected_driver_relay(me, record))
        self.assertEqual((m.reliability, m.channel), (vw.UNRELIABLE_SEQUENCED, 1))
        relayed = vw.decode_relayed_driver(m.data, m.bits)
        self.assertEqual((relayed.vehicle_id, relayed.vehicle_health, relayed.siren), (CAR, 999, True))
        server.wait_for("vehicles: %d state 2" % me)

        a.send_rpc(vw.Rpc.VehicleExit, vw.vehicle_exit(CAR))
        server.wait_for("vehicles: %d exited %d at 10.00 -40.00" % (me, CAR))
        left = b.expect_rpc(vw.Rpc.VehicleExit, 10)
        self.assertEqual(left.payload, struct.pack("<HH", me, CAR))

        # Leaving a vehicle past the last id is dropped; an id no client has is a forged report.
        c, _ = server.join("Checker_C", bind_host="127.0.0.3")
        c.send_rpc(vw.Rpc.VehicleExit, vw.vehicle_exit(2000))
        vw.player.say(c, "still here")
        c.expect(lambda m: m.is_rpc(vw.Rpc.ChatText) and vw.decode_chat_text(m.rpc()).text == b"still here", 10)
        self.assertTrue(c.connected)
        c.send_rpc(vw.Rpc.VehicleExit, vw.vehicle_exit(2001))
        self.assertTrue(c.wait_closed(10), "not kicked for vehicle 2001")
        for conn in (a, b):
            conn.disconnect()


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    TABLE = os.path.abspath(sys.argv.pop(3))
    GAMEMODE = os.path.abspath(sys.argv.pop(2))
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
