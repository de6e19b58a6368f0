#!/usr/bin/env python3
"""scripts/run-server.sh, the start of `make run`, in a copy of the repository layout with a
stand-in server program: before a build it fails with status 1; the first run writes server.cfg
(owner-only) and assembles the shipped scripts; a later run assembles a shipped script again once
its source is newer than its image, leaves an up-to-date image alone and never touches an
operator's own image; the demo bot finds velt-npc linked from the build, its npcmode and its
recording, written whole by scripts/make-demo-recording.py.

usage: run_script_check.py <scripts/run-server.sh> <server/default-config> <vmasm>
"""

import filecmp
import math
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

SCRIPT = CONFIG = VMASM = None
WAIT = 60.0


class RunScriptTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="velt_run_script_", dir=os.getcwd())
        os.makedirs(os.path.join(self.root, "scripts"))
        shutil.copy(SCRIPT, os.path.join(self.root, "scripts", "run-server.sh"))
        shutil.copy(os.path.join(os.path.dirname(SCRIPT), "make-demo-recording.py"),
                    os.path.join(self.root, "scripts", "make-demo-recording.py"))
        shutil.copytree(CONFIG, os.path.join(self.root, "server", "default-config"))
        self.build = os.path.join(self.root, "build")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def make_build(self):
        """A build directory whose server only says it ran, beside the real assembler."""
        os.makedirs(self.path("build", "server"))
        os.makedirs(self.path("build", "tools", "vmasm"))
        server = self.path("build", "server", "velt-server")
        with open(server, "w") as f:
            f.write("#!/bin/sh\necho server ran\n")
        os.chmod(server, 0o755)
        os.symlink(VMASM, self.path("build", "tools", "vmasm", "vmasm"))

    def run_script(self):
        proc = subprocess.run(["bash", self.path("scripts", "run-server.sh"), self.build],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT)
        return proc.returncode, proc.stdout.decode(), proc.stderr.decode()

    def assembled(self, source):
        out = self.path("expected.vmb")
        subprocess.run([VMASM, "-o", out, source], check=True, timeout=WAIT)
        return out

    def test_before_a_build_it_fails(self):
        status, _, err = self.run_script()
        self.assertEqual(status, 1)
        self.assertIn("not built yet", err)

    def test_shipped_scripts_follow_their_sources(self):
        self.make_build()
        status, out, err = self.run_script()
        self.assertEqual((status, out.splitlines()[-1]), (0, "server ran"), err)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("run", "server.cfg")).st_mode), 0o600)
        demo_source = self.path("server", "default-config", "gamemodes", "demo.vasm")
        demo = self.path("run", "gamemodes", "demo.vmb")
        self.assertTrue(filecmp.cmp(demo, self.assembled(demo_source), shallow=False))

        # An operator's own image, and a shipped one newer than its source, are left alone.
        mine = self.path("run", "gamemodes", "mine.vmb")
        with open(mine, "wb") as f:
            f.write(b"operator's own")
        for name in (demo, mine):
            os.utime(name, (2000000000, 2000000000))
        status, _, err = self.run_script()
        self.assertEqual(status, 0, err)
        self.assertEqual(os.stat(demo).st_mtime, 2000000000)

        # An edited (or updated) source is newer than the image: the next run assembles it again.
        shutil.copy(self.path("server", "default-config", "gamemodes", "lobby.vasm"), demo_source)
        os.utime(demo_source, (2000000100, 2000000100))
        status, _, err = self.run_script()
        self.assertEqual(status, 0, err)
        self.assertTrue(filecmp.cmp(demo, self.assembled(demo_source), shallow=False))
        with open(mine, "rb") as f:
            self.assertEqual(f.read(), b"operator's own")

    def test_demo_bot_is_ready(self):
        """The demo bot finds velt-npc, its npcmode and a whole on-foot recording near the spawn."""
        self.make_build()
        os.makedirs(self.path("build", "npc"))
        npc = self.path("build", "npc", "velt-npc")
        with open(npc, "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(npc, 0o755)
        status, _, err = self.run_script()
        self.assertEqual(status, 0, err)
        self.assertEqual(os.path.realpath(self.path("run", "velt-npc")), os.path.realpath(npc))
        self.assertTrue(os.path.isfile(self.path("run", "npcmodes", "demo_walker.vmb")))
        with open(self.path("run", "npcmodes", "recordings", "demo_walk.rec"), "rb") as f:
            data = f.read()
        self.assertEqual(struct.unpack_from("<II", data), (1000, 2))
        block = 4 + 68
        self.assertEqual((len(data) - 8) % block, 0)
        times = []
        for at in range(8, len(data), block):
            times.append(struct.unpack_from("<I", data, at)[0])
            x, y, _ = struct.unpack_from("<3f", data, at + 4 + 6)
            self.assertLess(math.hypot(x - 1958.33, y - 1343.12), 15.0)
        self.assertGreater(len(times), 10)
        self.assertEqual(times, sorted(times))


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    VMASM = os.path.abspath(sys.argv.pop(3))
    CONFIG = os.path.abspath(sys.argv.pop(2))
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
