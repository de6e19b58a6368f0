"""Decoders of the messages that put the world's entities into a client's world and take them out
again: 3D text labels, pickups and actors. Each takes an RpcCall, a BitReader or bytes and raises
WireError on short input; the decoders of whole messages also refuse bytes left over.
"""

from dataclasses import dataclass

from .bitstream import WireError
from .game import _reader
from .text import read_compressed_text


def _done(r, what):
    # A message is at most padded out to its last byte.
    if r.remaining >= 8:
        raise WireError("%d bits left after %s" % (r.remaining, what))


@dataclass
class TextLabel:
    label_id: int
    colour: int
    position: tuple
    draw_distance: float
    test_los: int
    attached_player: int
    attached_vehicle: int
    text: bytes


def decode_text_label_create(call, text_limit=1 << 16):
    """TextLabelCreate: u16 id, u32 colour, 3 x f32 position, f32 draw distance, u8 test LOS,
    u16 attached player, u16 attached vehicle, compressed text."""
    r = _reader(call)
    label = TextLabel(r.read_u16(), r.read_u32(), (r.read_f32(), r.read_f32(), r.read_f32()), r.read_f32(),
                      r.read_u8(), r.read_u16(), r.read_u16(), read_compressed_text(r, text_limit))
    _done(r, "a label")
    return label


def decode_u16_id(call):
    """The messages that carry nothing but a u16 id (label delete, actor stream-out and the
    like)."""
    r = _reader(call)
    value = r.read_u16()
    _done(r, "an id")
    return value


@dataclass
class Pickup:
    pickup_id: int
    model: int
    type: int
    position: tuple


def decode_pickup_create(call):
    """PickupCreate: i32 id, i32 model, i32 type, 3 x f32 position."""
    r = _reader(call)
    pickup = Pickup(r.read_i32(), r.read_i32(), r.read_i32(), (r.read_f32(), r.read_f32(), r.read_f32()))
    _done(r, "a pickup")
    return pickup


def decode_pickup_destroy(call):
    """PickupDestroy: i32 id."""
    r = _reader(call)
    value = r.read_i32()
    _done(r, "a pickup id")
    return value


@dataclass
class Actor:
    actor_id: int
    model: int
    custom_model: int
    position: tuple
    facing_angle: float
    health: float
    invulnerable: int


def decode_actor_stream_in(call):
    """ActorStreamIn: u16 id, i32 model, i32 custom model, 3 x f32 position, f32 facing angle,
    f32 health, u8 invulnerable: 31 bytes."""
    r = _reader(call)
    if r.remaining != 31 * 8:
        raise WireError("actor block of %d bits, not 248" % r.remaining)
    return Actor(r.read_u16(), r.read_i32(), r.read_i32(), (r.read_f32(), r.read_f32(), r.read_f32()),
                 r.read_f32(), r.read_f32(), r.read_u8())


@dataclass
class ActorAnimation:
    actor_id: int
    library: bytes
    name: bytes
    delta: float
    loop: bool
    lock_x: bool
    lock_y: bool
    freeze: bool
    time: int


def decode_actor_animation(call):
    """ActorAnimationApply: u16 id, u8 length and library, u8 length and name, f32 delta, one bit
    each loop, lock x, lock y, freeze, then i32 time (not byte-aligned)."""
    r = _reader(call)
    animation = ActorAnimation(r.read_u16(), r.read_string8(64), r.read_string8(64), r.read_f32(), r.read_bool(),
                               r.read_bool(), r.read_bool(), r.read_bool(), r.read_i32())
    _done(r, "an animation")
    return animation
