#!/usr/bin/env python3
"""Writes the demo bot's on-foot recording: a walk once round a circle next to the demo's spawn
point, one block every 100 ms. The same bytes every time, so the file is made where it is needed
instead of being kept as a binary.

usage: make-demo-recording.py <output.rec>
"""

import math
import struct
import sys

VERSION, ONFOOT = 1000, 2
CENTRE = (1963.33, 1343.12, 15.36)  # five metres east of the demo's spawn point
RADIUS = 5.0
BLOCKS = 120
STEP_MS = 100
FORWARD = 0xFF80  # up/down keys held forward
RECORD = "<3H3f4fBBBB3f3fHi"  # on-foot record, 68 bytes


def block(i):
    turn = 2.0 * math.pi * i / BLOCKS
    x = CENTRE[0] + RADIUS * math.cos(turn)
    y = CENTRE[1] + RADIUS * math.sin(turn)
    heading = turn + math.pi / 2.0  # walking along the circle, anticlockwise
    speed = 2.0 * math.pi * RADIUS / (BLOCKS * STEP_MS / 1000.0) / 50.0  # metres per 20 ms tick
    record = struct.pack(RECORD, 0, FORWARD, 0, x, y, CENTRE[2],
                         math.cos(heading / 2.0), 0.0, 0.0, math.sin(heading / 2.0),
                         100, 0, 0, 0,
                         -speed * math.sin(turn), speed * math.cos(turn), 0.0,
                         0.0, 0.0, 0.0, 0, 0)
    return struct.pack("<I", i * STEP_MS) + record


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(sys.argv[1], "wb") as f:
        f.write(struct.pack("<II", VERSION, ONFOOT))
        for i in range(BLOCKS):
            f.write(block(i))


if __name__ == "__main__":
    main()
