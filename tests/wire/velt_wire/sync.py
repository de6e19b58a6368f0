"""On-foot synchronisation: the 68-byte record a client sends raw after [207], and the
bit-packed form in which the server relays it to the players that stream the sender."""

import struct
from dataclasses import dataclass

from .bitstream import BitReader, WireError
from .game import ID_PLAYER_SYNC

ONFOOT_FORMAT = "<3H3f4fBBBB3f3fHi"
ONFOOT_SIZE = struct.calcsize(ONFOOT_FORMAT)
assert ONFOOT_SIZE == 68


@dataclass
class OnFootSync:
    lr_keys: int = 0
    ud_keys: int = 0
    keys: int = 0
    position: tuple = (0.0, 0.0, 0.0)
    quaternion: tuple = (1.0, 0.0, 0.0, 0.0)    # w, x, y, z
    health: int = 100
    armour: int = 0
    weapon_byte: int = 0                        # bits 0-5 weapon, bits 6-7 extra keys
    special_action: int = 0
    velocity: tuple = (0.0, 0.0, 0.0)
    surfing_offset: tuple = (0.0, 0.0, 0.0)
    surfing_id: int = 0
    animation: int = 0

    def pack(self):
        return struct.pack(ONFOOT_FORMAT, self.lr_keys, self.ud_keys, self.keys, *self.position,
                           *self.quaternion, self.health, self.armour, self.weapon_byte,
                           self.special_action, *self.velocity, *self.surfing_offset,
                           self.surfing_id, self.animation)

    @classmethod
    def unpack(cls, data):
        if len(data) != ONFOOT_SIZE:
            raise WireError("an on-foot record is %d bytes, not %d" % (ONFOOT_SIZE, len(data)))
        v = struct.unpack(ONFOOT_FORMAT, data)
        return cls(v[0], v[1], v[2], v[3:6], v[6:10], v[10], v[11], v[12], v[13], v[14:17],
                   v[17:20], v[20], v[21])


def onfoot_packet(record):
    """[207][68-byte record]: what a client sends (unreliable sequenced)."""
    return bytes([ID_PLAYER_SYNC]) + record.pack()


def health_armour_byte(health, armour):
    def nibble(v):
        if v <= 0:
            return 0
        return 15 if v >= 100 else v // 7
    return (nibble(health) << 4) | nibble(armour)


@dataclass
class RelayedOnFoot:
    player_id: int
    lr_keys: int
    ud_keys: int
    keys: int
    position: tuple
    quaternion: tuple
    health_armour: int
    weapon: int
    special_action: int
    velocity: tuple
    surfing_id: int
    surfing_offset: tuple
    animation: int


def decode_relayed_onfoot(data, bit_length=None):
    """The server's relay of another player's on-foot state (message id 207, bit-packed)."""
    r = data if isinstance(data, BitReader) else BitReader(data, bit_length)
    if r.read_u8() != ID_PLAYER_SYNC:
        raise WireError("not an on-foot relay")
    pid = r.read_u16()
    lr = r.read_u16() if r.read_bit() else 0
    ud = r.read_u16() if r.read_bit() else 0
    keys = r.read_u16()
    position = (r.read_f32(), r.read_f32(), r.read_f32())
    quat = r.read_compressed_quaternion()
    ha = r.read_u8()
    weapon = r.read_u8()
    action = r.read_u8()
    velocity = r.read_compressed_vector()
    surf_id, surf_off = 0, (0.0, 0.0, 0.0)
    if r.read_bit():
        surf_id = r.read_u16()
        surf_off = (r.read_f32(), r.read_f32(), r.read_f32())
    anim = r.read_i32() if r.read_bit() else 0
    return RelayedOnFoot(pid, lr, ud, keys, position, quat, ha, weapon, action, velocity,
                         surf_id, surf_off, anim)
