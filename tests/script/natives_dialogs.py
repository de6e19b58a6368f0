#!/usr/bin/env python3
"""A checkpoint and a dialog end to end: a velt-server process runs natives_dialogs_gm, which gives
every spawned player a checkpoint and an input dialog; an independent wire client (tests/wire/
velt_wire) joins, decodes both from the wire form, walks into the checkpoint and out again, and
answers the dialog. The gamemode logs what reached its callbacks: the checkpoint entered and left
once each, and the answer with the typed text as typed, but no answer to a dialog it never showed.

usage: natives_dialogs.py <velt-server> <natives_dialogs_gm.vmb> <ScrambleTable.h> <tests/wire directory>

Started without a shell in a scratch directory; every wait is bounded and the server is ended by
its own id.
"""

import sys
import time
import unittest

from server_log import ServerLogMixin

SERVER = GAMEMODE = TABLE = None
WAIT = 25.0  # seconds; sanitizer builds start slowly on busy machines
vw = None

INFO = b"Type a name.\n100% of them (even %s) are fine."


class DialogsTest(ServerLogMixin, unittest.TestCase):
    wait_seconds = WAIT

    def setUp(self):
        self.make_scratch("velt_dialogs_", {"dialogs.vmb": GAMEMODE})
        self.conn = None

    def tearDown(self):
        if self.conn is not None:
            self.conn.close()
        self.remove_server()

    def walk_until(self, where, line):
        """Reports the position until the gamemode logs the line."""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            vw.player.send_onfoot(self.conn, vw.OnFootSync(position=where))
            time.sleep(0.1)
            if line in self.log():
                return
        self.fail("no %r in the log within %s s: %r" % (line, WAIT, self.log()[-20:]))

    def test_checkpoint_entered_and_left_and_dialog_answered(self):
        self.launch(SERVER, ["rcon_password dialogs-e2e-5", "port %d" % self.port, "bind 127.0.0.1",
                             "gamemode0 dialogs 1", "announce 0", "timestamp 0", "output 0", "sleep 5",
                             "stream_rate 100"])
        self.wait_for("dialogs: ready")
        scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conn = vw.Connection("127.0.0.1", self.port, scrambler, bind_host="127.0.0.2")
        self.conn.connect(timeout=WAIT)
        vw.join(self.conn, "Dana", timeout=WAIT)
        me = self.conn.player_index
        vw.player.request_class(self.conn, 0, timeout=WAIT)
        self.assertEqual(vw.player.request_spawn(self.conn, timeout=WAIT), 1)
        vw.player.spawned(self.conn)

        checkpoint = vw.decode_checkpoint_set(self.conn.expect_rpc(vw.Rpc.CheckpointSet, WAIT))
        self.assertEqual(checkpoint, (20.0, 0.0, 3.0, 4.0))
        dialog = vw.decode_dialog_show(self.conn.expect_rpc(vw.Rpc.DialogShow, WAIT))
        self.assertEqual(dialog, vw.Dialog(42, 1, b"Name", b"OK", b"Cancel", INFO))

        # Outside (20 away), inside (just under 4 away), inside again, outside: one line each way.
        entered = "dialogs: player %d entered the checkpoint (inside 1)" % me
        left = "dialogs: player %d left the checkpoint (inside 0)" % me
        vw.player.send_onfoot(self.conn, vw.OnFootSync(position=(0.0, 0.0, 3.0)))
        self.walk_until((17.5, 2.0, 3.0), entered)
        self.walk_until((20.0, 0.0, 3.0), entered)
        self.walk_until((30.0, 0.0, 3.0), left)
        self.assertEqual([line for line in self.log() if "checkpoint" in line], [entered, left])

        # An answer to a dialog the scripts did not show, then one with a length beyond the
        # client's limit (its text is dropped), then the typed text, format directives and all.
        send = lambda *args, **kw: self.conn.send_rpc(vw.Rpc.DialogResponse, vw.dialog_response(*args, **kw))  # noqa
        send(41, 1, 0, b"wrong dialog")
        send(42, 0, 3, b"x" * 200)
        send(42, 1, 0xFFFF, b"Dana %s%n 100%")
        last = "dialogs: player %d answered dialog 42 with 1, item 65535: [Dana %%s%%n 100%%]" % me
        self.wait_for(last)
        self.assertEqual([line for line in self.log() if "answered" in line],
                         ["dialogs: player %d answered dialog 42 with 0, item 3: []" % me, last])

        self.conn.disconnect()
        self.assertEndsCleanlyOnSigterm()


if __name__ == "__main__":
    SERVER, GAMEMODE, TABLE, wire = sys.argv[1:5]
    sys.path.insert(0, wire)
    import velt_wire  # noqa: E402
    vw = velt_wire
    unittest.main(argv=sys.argv[:1], verbosity=2)
