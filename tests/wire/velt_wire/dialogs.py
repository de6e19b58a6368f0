"""Dialogs and checkpoints: what the server shows a player, and the player's answer to a dialog.
Decoders take an RpcCall, a BitReader or bytes and raise WireError on short input or bytes left
over."""

import struct
from dataclasses import dataclass

from .bitstream import WireError
from .game import _reader, _text
from .text import read_compressed_text


def _done(r, what):
    if r.remaining >= 8:
        raise WireError("%d bits left after %s" % (r.remaining, what))


def dialog_response(dialog_id, response, list_item, text=b"", length=None):
    """DialogResponse payload: u16 dialog id, u8 response, u16 list item, u8 length, the text.
    `length` overrides the length byte (for refusal tests)."""
    text = _text(text)
    return struct.pack("<HBHB", dialog_id, response, list_item,
                       len(text) if length is None else length) + text


@dataclass
class Dialog:
    dialog_id: int
    style: int
    caption: bytes
    button1: bytes
    button2: bytes
    info: bytes


def decode_dialog_show(call, info_limit=1 << 16):
    """DialogShow: u16 dialog id, u8 style, caption, button1, button2 (u8 length and bytes each),
    then the compressed info text."""
    r = _reader(call)
    dialog = Dialog(r.read_u16(), r.read_u8(), r.read_string8(), r.read_string8(), r.read_string8(),
                    read_compressed_text(r, info_limit))
    _done(r, "a dialog")
    return dialog


def decode_checkpoint_set(call):
    """CheckpointSet: x, y, z, size (f32 each), as a tuple."""
    r = _reader(call)
    value = (r.read_f32(), r.read_f32(), r.read_f32(), r.read_f32())
    _done(r, "a checkpoint")
    return value
