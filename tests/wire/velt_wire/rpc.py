"""Remote procedure call framing.

    [40 u32 time]? [20] [rpc id u8] [bit length: compressed u32] [argument bits]
    and, only when the bit length is 0, one more compressed u32 0.

The argument bits follow the length field directly, without byte alignment.
"""

from dataclasses import dataclass

from .bitstream import BitReader, BitWriter, WireError

ID_TIMESTAMPED = 40
ID_RPC_CALL = 20


@dataclass
class RpcCall:
    rpc_id: int
    payload: bytes      # left-aligned argument bits
    bits: int
    timestamp: int = None

    def reader(self):
        return BitReader(self.payload, self.bits)


def encode_rpc(rpc_id, payload=b"", bits=None, timestamp=None):
    """The RPC message for `payload` (bytes, or a BitWriter whose bit count is used)."""
    if isinstance(payload, BitWriter):
        bits = payload.bits if bits is None else bits
        payload = payload.getvalue()
    payload = bytes(payload)
    if bits is None:
        bits = len(payload) * 8
    if not 0 <= rpc_id <= 255:
        raise ValueError("rpc id out of range")
    w = BitWriter()
    if timestamp is not None:
        w.write_u8(ID_TIMESTAMPED).write_u32(timestamp)
    w.write_u8(ID_RPC_CALL).write_u8(rpc_id)
    w.write_compressed_u32(bits)
    if bits:
        w.write_raw(payload, bits)
    else:
        w.write_compressed_u32(0)
    return w.getvalue()


def is_rpc(data):
    return bool(data) and (data[0] == ID_RPC_CALL or
                           (data[0] == ID_TIMESTAMPED and len(data) >= 6 and data[5] == ID_RPC_CALL))


def decode_rpc(data, bit_length=None):
    """RpcCall of an RPC message; WireError when it is not one or is cut short."""
    r = BitReader(data, bit_length)
    timestamp = None
    first = r.read_u8()
    if first == ID_TIMESTAMPED:
        timestamp = r.read_u32()
        first = r.read_u8()
    if first != ID_RPC_CALL:
        raise WireError("not an RPC message (id %d)" % first)
    rpc_id = r.read_u8()
    bits = r.read_compressed_u32()
    if bits > r.remaining:
        raise WireError("RPC %d declares %d argument bits, %d present" % (rpc_id, bits, r.remaining))
    payload = r.read_raw(bits) if bits else b""
    return RpcCall(rpc_id, payload, bits, timestamp)
