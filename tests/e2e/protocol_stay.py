#!/usr/bin/env python3
"""A joined client stays 60 s, well past the transport's 30 s deadline for connections that never
join, without being kicked; then it leaves, the server logs the exact "[part]" line and the other
client sees both the join and the leave.

usage: protocol_stay.py <path to velt-server-test> <path to net/ScrambleTable.h>
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from protocol_support import Server, assert_clean_exit, vw  # noqa: E402

BINARY = TABLE = None
STAY_SECONDS = 60.0


class StayTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(BINARY, TABLE)

    def tearDown(self):
        try:
            assert_clean_exit(self.server)
        finally:
            self.server.remove()

    def test_joined_client_stays_a_minute_and_leaves_with_the_part_line(self):
        watcher, _ = self.server.join("Watcher")
        stayer, init = self.server.join("Stayer")
        joined = vw.decode_player_joined(watcher.expect_rpc(vw.Rpc.PlayerJoined))
        self.assertEqual((joined.player_id, joined.name), (stayer.player_index, b"Stayer"))
        self.assertEqual(init.player_id, stayer.player_index)
        self.server.wait_for("[join] Stayer has joined the server (%d:127.0.0.2)" % stayer.player_index)

        deadline = time.monotonic() + STAY_SECONDS
        while time.monotonic() < deadline:
            self.assertTrue(stayer.connected, "closed: %s" % stayer.closed_reason)
            self.assertIsNone(watcher.expect(lambda m: m.is_rpc(vw.Rpc.PlayerLeft), 1.0, raise_on_timeout=False))
        self.assertFalse(any("didn't logon" in line for line in self.server.log()))

        stayer.disconnect()
        left = vw.decode_player_left(watcher.expect_rpc(vw.Rpc.PlayerLeft, 10))
        self.assertEqual((left.player_id, left.reason), (stayer.player_index, 1))
        self.server.wait_for("[part] Stayer has left the server (%d:1)" % stayer.player_index)
        watcher.disconnect()


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    TABLE = os.path.abspath(sys.argv.pop(2))
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
