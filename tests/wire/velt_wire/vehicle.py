"""Vehicles on the wire: the records a driver (200), a passenger (211), a towing driver (210) and
a player moving an empty vehicle (209) send raw after their id byte; the bit-packed form in which
the server relays a driver's record; the vehicle RPC payloads a client sends; and the server's
stream-in message of a vehicle."""

import struct
from dataclasses import dataclass

from .bitstream import BitReader, WireError

ID_VEHICLE_SYNC = 200
ID_UNOCCUPIED_SYNC = 209
ID_TRAILER_SYNC = 210
ID_PASSENGER_SYNC = 211

INCAR_FORMAT = "<4H4f3f3ffBBBBBHI"
INCAR_SIZE = struct.calcsize(INCAR_FORMAT)
assert INCAR_SIZE == 63
PASSENGER_FORMAT = "<HBBBB3H3f"
assert struct.calcsize(PASSENGER_FORMAT) == 24
UNOCCUPIED_FORMAT = "<HB3f3f3f3f12sf"
assert struct.calcsize(UNOCCUPIED_FORMAT) == 67
TRAILER_FORMAT = "<H3f16s3f12s"
assert struct.calcsize(TRAILER_FORMAT) == 54


@dataclass
class InCarSync:
    vehicle_id: int = 1
    lr_keys: int = 0
    ud_keys: int = 0
    keys: int = 0
    quaternion: tuple = (1.0, 0.0, 0.0, 0.0)    # w, x, y, z
    position: tuple = (0.0, 0.0, 0.0)
    velocity: tuple = (0.0, 0.0, 0.0)
    vehicle_health: float = 1000.0
    player_health: int = 100
    armour: int = 0
    weapon_byte: int = 0                        # bits 0-5 weapon, bits 6-7 extra keys
    siren: int = 0
    landing_gear: int = 0
    trailer_id: int = 0
    train_speed: int = 0

    def pack(self):
        return struct.pack(INCAR_FORMAT, self.vehicle_id, self.lr_keys, self.ud_keys, self.keys,
                           *self.quaternion, *self.position, *self.velocity, self.vehicle_health,
                           self.player_health, self.armour, self.weapon_byte, self.siren,
                           self.landing_gear, self.trailer_id, self.train_speed)


def driver_packet(record):
    """[200][63-byte record]."""
    return bytes([ID_VEHICLE_SYNC]) + record.pack()


def passenger_packet(vehicle_id, seat=1, position=(0.0, 0.0, 0.0), weapon_byte=0, health=100,
                     armour=0, keys=(0, 0, 0)):
    """[211][24-byte record]."""
    return bytes([ID_PASSENGER_SYNC]) + struct.pack(PASSENGER_FORMAT, vehicle_id, seat, weapon_byte,
                                                    health, armour, *keys, *position)


def unoccupied_packet(vehicle_id, seat=0, right=(1.0, 0.0, 0.0), up=(0.0, 1.0, 0.0),
                      position=(0.0, 0.0, 0.0), velocity=(0.0, 0.0, 0.0), opaque=bytes(12),
                      health=1000.0):
    """[209][67-byte record]."""
    return bytes([ID_UNOCCUPIED_SYNC]) + struct.pack(UNOCCUPIED_FORMAT, vehicle_id, seat, *right, *up,
                                                     *position, *velocity, opaque, health)


def trailer_packet(trailer_id, position=(0.0, 0.0, 0.0), velocity=(0.0, 0.0, 0.0),
                   opaque_a=bytes(16), opaque_b=bytes(12)):
    """[210][54-byte record]."""
    return bytes([ID_TRAILER_SYNC]) + struct.pack(TRAILER_FORMAT, trailer_id, *position, opaque_a,
                                                  *velocity, opaque_b)


# ---- RPC payloads a client sends ------------------------------------------------------------------

def vehicle_enter(vehicle_id, passenger=0):
    return struct.pack("<HB", vehicle_id, passenger)


def vehicle_exit(vehicle_id):
    return struct.pack("<H", vehicle_id)


def vehicle_damage(vehicle_id, panels, doors, lights, tyres):
    return struct.pack("<HIIBB", vehicle_id, panels, doors, lights, tyres)


def vehicle_mod(vehicle_id, value1, value2, event_type):
    return struct.pack("<iiii", vehicle_id, value1, value2, event_type)


def vehicle_destroyed(vehicle_id):
    return struct.pack("<H", vehicle_id)


# ---- what the server sends ------------------------------------------------------------------------

@dataclass
class RelayedDriver:
    player_id: int
    vehicle_id: int
    lr_keys: int
    ud_keys: int
    keys: int
    quaternion: tuple
    position: tuple
    velocity: tuple
    vehicle_health: int
    health_armour: int
    weapon: int
    siren: bool
    landing_gear: bool
    train_speed: int
    trailer_id: int


def decode_relayed_driver(data, bit_length=None):
    """The server's relay of another player's driver record (message id 200, bit-packed)."""
    r = data if isinstance(data, BitReader) else BitReader(data, bit_length)
    if r.read_u8() != ID_VEHICLE_SYNC:
        raise WireError("not a driver relay")
    pid, vid = r.read_u16(), r.read_u16()
    lr, ud, keys = r.read_u16(), r.read_u16(), r.read_u16()
    quat = r.read_compressed_quaternion()
    position = (r.read_f32(), r.read_f32(), r.read_f32())
    velocity = r.read_compressed_vector()
    health = r.read_u16()
    ha = r.read_u8()
    weapon = r.read_u8()
    siren, gear = r.read_bit(), r.read_bit()
    train = r.read_u32() if r.read_bit() else 0
    trailer = r.read_u16() if r.read_bit() else 0
    return RelayedDriver(pid, vid, lr, ud, keys, quat, position, velocity, health, ha, weapon,
                         bool(siren), bool(gear), train, trailer)


STREAM_IN_FORMAT = "<Hi3ffBBfBiiBBB14sBii"
assert struct.calcsize(STREAM_IN_FORMAT) == 63


@dataclass
class VehicleStreamIn:
    vehicle_id: int
    model: int
    position: tuple
    angle: float
    colour1: int
    colour2: int
    health: float
    interior: int
    door_damage: int
    panel_damage: int
    light_damage: int
    tyre_damage: int
    siren: int
    components: bytes       # 14 slots, each component - 999 (0 empty)
    paintjob: int           # paint job + 1, 0 none
    respray1: int
    respray2: int


def decode_vehicle_stream_in(call):
    """The stream-in message (RPC 164): exactly its 63 bytes."""
    if call.bits != 63 * 8:
        raise WireError("a vehicle stream-in is 504 bits, not %d" % call.bits)
    v = struct.unpack(STREAM_IN_FORMAT, call.payload)
    return VehicleStreamIn(v[0], v[1], v[2:5], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12],
                           v[13], v[14], v[15], v[16], v[17], v[18])
