"""Compressed texts: a compressed u16 bit count, then that many bits of a fixed Huffman code.

The code is built from a table of byte weights (every byte value absent from the table weighs
1): the 256 leaves are kept in a list sorted by weight, each new node going before the first
node of equal or greater weight; the two lightest are taken off the front and joined under a
parent (the first taken on the 0 side) until one node is left. A text's code is padded to whole
bytes with the leading bits of some longer code, which the decoder never completes.
"""

from .bitstream import WireError

WEIGHTS = {
    10: 722, 13: 2, 32: 11084, 33: 58, 34: 63, 35: 1, 37: 31, 39: 317, 40: 64, 41: 64,
    42: 44, 44: 695, 45: 62, 46: 980, 47: 266, 48: 69, 49: 67, 50: 56, 51: 7, 52: 73,
    53: 3, 54: 14, 55: 2, 56: 69, 57: 1, 58: 167, 59: 9, 60: 1, 61: 2, 62: 25, 63: 94,
    65: 195, 66: 139, 67: 34, 68: 96, 69: 48, 70: 103, 71: 56, 72: 125, 73: 653, 74: 21,
    75: 5, 76: 23, 77: 64, 78: 85, 79: 44, 80: 34, 81: 7, 82: 92, 83: 76, 84: 147,
    85: 12, 86: 14, 87: 57, 88: 15, 89: 39, 90: 15, 91: 1, 92: 1, 93: 1, 94: 2, 95: 3,
    97: 3611, 98: 845, 99: 1077, 100: 1884, 101: 5870, 102: 841, 103: 1057, 104: 2501,
    105: 3212, 106: 164, 107: 531, 108: 2019, 109: 1330, 110: 3056, 111: 4037, 112: 848,
    113: 47, 114: 2586, 115: 2919, 116: 4771, 117: 1707, 118: 535, 119: 1106, 120: 152,
    121: 1243, 122: 100, 124: 2, 126: 10,
}


class _Node:
    __slots__ = ("weight", "value", "zero", "one")

    def __init__(self, weight, value=None, zero=None, one=None):
        self.weight, self.value, self.zero, self.one = weight, value, zero, one


def _build_tree():
    work = []

    def insert(node):
        for i, other in enumerate(work):
            if other.weight >= node.weight:
                work.insert(i, node)
                return
        work.append(node)

    for value in range(256):
        insert(_Node(WEIGHTS.get(value, 1), value))
    while len(work) > 1:
        zero, one = work.pop(0), work.pop(0)
        insert(_Node((zero.weight + one.weight) & 0xFFFFFFFF, zero=zero, one=one))
    return work[0]


_ROOT = _build_tree()


def _codes(node, prefix=""):
    if node.value is not None:
        return {node.value: prefix}
    return {**_codes(node.zero, prefix + "0"), **_codes(node.one, prefix + "1")}


# The code of each byte value, as a string of "0" and "1".
CODES = [code for _, code in sorted(_codes(_ROOT).items())]


def read_compressed_text(reader, limit=1 << 16):
    """The bytes of one compressed text from a BitReader; WireError when the stream ends inside
    it or it decodes to more than `limit` bytes."""
    count = reader.read_compressed_u16()
    out = bytearray()
    node = _ROOT
    for _ in range(count):
        node = node.one if reader.read_bit() else node.zero
        if node.value is not None:
            if len(out) >= limit:
                raise WireError("text over the limit of %d bytes" % limit)
            out.append(node.value)
            node = _ROOT
    return bytes(out)
