#!/usr/bin/env python3
"""The server's periphery from the outside, on velt-server with its real script hosts: the query
port (byte-exact replies written here from the wire format, the ping echo, the rate gates, the
remote console with kick, loadfs and changemode while another address floods queries), a plugin
loaded at start, the custom-model list a joining player receives and a model download whose
chunks decode with Python's raw LZMA1 and whose CRCs are zlib's.

usage: periphery_e2e.py <velt-server> <dir with gamemodes/ and filterscripts/> <plugin .so>
                        <ScrambleTable.h>

The server runs in a scratch directory and is started without a shell; every wait is bounded and
it is ended by its own id. At the end it must exit with status 0 and without a sanitizer report.
"""

import lzma
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wire"))
import velt_wire as vw  # noqa: E402
from velt_wire.bitstream import BitReader  # noqa: E402

SERVER = SCRIPTS = PLUGIN = TABLE = None
WAIT = 30.0
PASSWORD = "e2e-Periphery-9"
HOSTNAME = "Periphery " + "h" * 50          # 60 characters: sent as its first 50
MARKS = ("AddressSanitizer", "LeakSanitizer", "ThreadSanitizer", "runtime error:",
         "UndefinedBehaviorSanitizer")
MTU = 576
LZMA1 = [{"id": lzma.FILTER_LZMA1, "dict_size": 65536, "lc": 3, "lp": 0, "pb": 2}]


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def text8(b):
    return bytes([len(b)]) + b


def text32(b):
    return u32(len(b)) + b


class Periphery:
    """velt-server in a scratch directory with custom models, a plugin and a generated server.cfg."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="velt_periphery_", dir=os.getcwd())
        for sub in ("gamemodes", "filterscripts"):
            shutil.copytree(os.path.join(SCRIPTS, sub), os.path.join(self.dir, sub))
        os.mkdir(os.path.join(self.dir, "plugins"))
        shutil.copy(PLUGIN, os.path.join(self.dir, "plugins", "recorder.so"))
        models = os.path.join(self.dir, "models")
        os.mkdir(models)
        rnd = random.Random(25)
        self.files = {
            "skin.dff": rnd.randbytes(10000),       # incompressible: chunks grow when packed
            "skin.txd": rnd.randbytes(4096),        # exactly one chunk, then an empty one
            "wall.dff": b"wall " * 1000,            # 5000 bytes that pack well
            "wall.txd": rnd.randbytes(100),
        }
        for name, data in self.files.items():
            with open(os.path.join(models, name), "wb") as f:
                f.write(data)
        with open(os.path.join(models, "artconfig.txt"), "w") as f:
            f.write("AddCharModel(7, 20001, skin.dff, skin.txd)\n"
                    "addcharmodel(8, 20002, wall.dff, wall.txd)\n"
                    "AddSimpleModel(-1, 19379, -2000, \"wall.dff\", \"wall.txd\")\n"
                    "AddCharModel(9, 20003, ../server.cfg, skin.txd)\n")
        self.port = free_udp_port()
        lines = ["rcon_password " + PASSWORD, "port %d" % self.port, "bind 127.0.0.1",
                 "gamemode0 demo 1", "announce 0", "sleep 5", "maxplayers 20", "maxnpc 1",
                 "hostname " + HOSTNAME, "language English", "weather 7", "gravity 0.01",
                 "logqueries 1", "useartwork 1", "plugins recorder.so", "timestamp 1", "output 1"]
        with open(os.path.join(self.dir, "server.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.output_path = os.path.join(self.dir, "output.txt")
        self.output = open(self.output_path, "wb")
        self.proc = subprocess.Popen([SERVER], cwd=self.dir, stdout=self.output, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        self.scrambler = vw.Scrambler.from_header(TABLE, self.port)
        self.conns = []
        self.wait_for("Number of vehicle models: 0")

    def log(self):
        path = os.path.join(self.dir, "server_log.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="latin-1") as f:
            return [line.rstrip("\n")[11:] if line[:1] == "[" else line.rstrip("\n") for line in f]

    def wait_for(self, line, count=1):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if self.log().count(line) >= count:
                return
            if self.proc.poll() is not None:
                raise AssertionError("server ended before logging %r:\n%s" % (line, self.report()))
            time.sleep(0.05)
        raise AssertionError("no %r in the log: %r" % (line, self.log()[-30:]))

    def report(self):
        self.output.flush()
        with open(self.output_path, encoding="latin-1") as f:
            return f.read()[-4000:]

    def connect(self, bind_host="127.0.0.2"):
        conn = vw.Connection("127.0.0.1", self.port, self.scrambler, bind_host=bind_host)
        self.conns.append(conn)
        conn.connect(timeout=10)
        return conn

    def query(self, bind_host="127.0.0.2"):
        return vw.QueryClient("127.0.0.1", self.port, bind_host=bind_host)

    def stop(self):
        for conn in self.conns:
            conn.close()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=WAIT)
        self.output.close()
        with open(self.output_path, encoding="latin-1") as f:
            return self.proc.returncode, f.read()


class PeripheryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Periphery()

    @classmethod
    def tearDownClass(cls):
        try:
            status, output = cls.server.stop()
            for mark in MARKS:
                if mark in output:
                    raise AssertionError("%s in the server's output:\n%s" % (mark, output[-4000:]))
            if status != 0:
                raise AssertionError("server ended with status %s:\n%s" % (status, output[-4000:]))
        finally:
            shutil.rmtree(cls.server.dir, ignore_errors=True)

    # ---- start-up -------------------------------------------------------------------------------
    def test_1_plugin_and_models_load_at_start(self):
        log = self.server.log()
        for line in (" Loading plugin: recorder.so", "  Loaded.", "[recorder] loaded", " Loaded 1 plugins.",
                     "[artwork:crc] skin.dff CRC = 0x%X" % zlib.crc32(self.server.files["skin.dff"]),
                     "[artwork:error] Bad file: ../server.cfg"):
            self.assertIn(line, log)
        # The plugin hears of the gamemode before it runs.
        self.assertLess(log.index("[recorder] loaded"), log.index("demo: OnGameModeInit"))

    # ---- the query port -------------------------------------------------------------------------
    def test_2_replies_are_byte_exact(self):
        player = self.server.connect()
        init = vw.join(player, "Alice", timeout=10)
        # The weather and gravity lines of server.cfg ran before the game server existed.
        self.assertEqual(init.weather, 7)
        self.assertAlmostEqual(init.gravity, 0.01, places=6)
        bot = self.server.connect(bind_host="127.0.0.1")
        vw.join(bot, "Bot_Q", npc=True, timeout=10)
        with self.server.query("127.0.0.3") as q:
            head = q.header("i")
            info = q.request("i")
            self.assertEqual(info, head + b"\x00" + u16(1) + u16(20 - 1) + text32(HOSTNAME[:50].encode())
                             + text32(b"VELT demo") + text32(b"English"))

            time.sleep(0.03)
            clients = q.request("c")
            self.assertEqual(clients, q.header("c") + u16(1) + text8(b"Alice") + u32(0))
            time.sleep(0.03)
            detailed = q.request("d")
            prefix = q.header("d") + u16(1) + bytes([player.player_index]) + text8(b"Alice") + u32(0)
            self.assertEqual(detailed[:-4], prefix)
            self.assertEqual(len(detailed), len(prefix) + 4)

            time.sleep(0.03)
            version = [line for line in q.rcon(PASSWORD, "version") if line.startswith(b"version = ")]
            self.assertEqual(len(version), 1)
            version = version[0].split(b'"')[1]
            time.sleep(0.03)
            rules = [(b"artwork", b"Yes"), (b"lagcomp", b"On"), (b"mapname", b"Corvessa"),
                     (b"version", version), (b"weather", b"7"), (b"weburl", b"www.velt-server.example"),
                     (b"worldtime", b"12:00")]
            expected = q.header("r") + u16(len(rules)) + b"".join(text8(n) + text8(v) for n, v in rules)
            self.assertEqual(q.request("r"), expected)

            for token in (b"\x00\x00\x00\x00", b"\xff\xfeVE"):
                time.sleep(0.01)
                self.assertTrue(q.ping(token))
            for wrong in (b"abc", b"abcde"):
                q.send_raw(q.header("p") + wrong)
                self.assertIsNone(q.collect(q.header("p"), 0.3))
        bot.close()
        player.disconnect()

    def test_3_gates_drop_a_second_rules_request_within_24_ms(self):
        with self.server.query("127.0.0.4") as q:
            head = q.header("r")
            time.sleep(0.05)
            q.send_raw(head)
            time.sleep(0.01)
            q.send_raw(head)
            self.assertEqual(len(q.collect(head, 1.0, first_only=False, quiet=0.3)), 1)
            time.sleep(0.05)
            q.send_raw(head)
            self.assertIsNotNone(q.collect(head, 1.0))

    def test_4_wrong_password_gets_one_reply_and_one_log_line(self):
        with self.server.query("127.0.0.5") as q:
            time.sleep(0.03)
            self.assertEqual(q.rcon("not the password", "exit", timeout=1.0, quiet=0.5),
                             [b"Invalid RCON password."])
        self.server.wait_for("BAD RCON ATTEMPT BY: 127.0.0.5")
        self.assertEqual(self.server.log().count("BAD RCON ATTEMPT BY: 127.0.0.5"), 1)
        self.assertIsNone(self.server.proc.poll())

    def test_5_remote_console_acts_on_the_game_while_queries_flood(self):
        stop = threading.Event()
        sent = [0]

        def flood():
            with self.server.query("127.0.0.6") as f:
                while not stop.is_set():
                    for op in "ipr":
                        f.send_raw(f.header(op) + (b"\x01\x02\x03\x04" if op == "p" else b""))
                        sent[0] += 1
                    f.drain()
                    time.sleep(0.001)

        flooder = threading.Thread(target=flood)
        flooder.start()
        try:
            victim = self.server.connect()
            vw.join(victim, "Kicked_Kim", timeout=10)
            with self.server.query("127.0.0.7") as q:
                # Every line logged while the command runs comes back, the script's own included.
                lines = self.rcon(q, "loadfs greeter")
                self.assertEqual(lines, [b"greeter: loaded", b"  Filterscript 'greeter.vmb' loaded."])
                kicked = "Kicked_Kim <#%d - 127.0.0.2> has been kicked." % victim.player_index
                self.assertEqual(self.rcon(q, "kick %d" % victim.player_index),
                                 [kicked.encode(), b"[part] Kicked_Kim has left the server (%d:2)" % victim.player_index])
                self.assertTrue(victim.wait_closed(10))
                self.server.wait_for(kicked)
                self.assertEqual(self.rcon(q, "changemode demo", silent=True), [])
                self.server.wait_for("demo: OnGameModeExit")
                self.server.wait_for("demo: OnGameModeInit", count=2)
        finally:
            stop.set()
            flooder.join(timeout=WAIT)
        self.assertGreater(sent[0], 100)
        # A flood costs a line per sender and opcode in each interval, not a line per datagram.
        self.assertLessEqual(self.server.log().count("[query:i] from 127.0.0.6"), 3)

    def rcon(self, q, command, silent=False):
        """The command's output lines. A command with output is sent again while its answer does
        not come (a gate may drop it); a silent one is sent once, clear of the gates."""
        head = q.header("x")
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            time.sleep(0.03)
            q.send_raw(vw.query.rcon_request(head, PASSWORD, command))
            got = q.collect(head, 0.6, first_only=False, quiet=0.3)
            if got or silent:
                return [vw.query.decode_rcon_line(r) for r in got]
        raise AssertionError("no answer to %r" % command)

    # ---- custom models and downloads ------------------------------------------------------------
    def test_6_models_reach_a_joining_player_and_download_as_raw_lzma(self):
        conn = self.server.connect(bind_host="127.0.0.8")
        conn.send_rpc(vw.Rpc.PlayerJoin, vw.game.player_join("Modeller", conn.challenge))
        adds = []
        while True:
            m = conn.expect(lambda m: m.is_rpc(vw.Rpc.CustomModelAdd) or m.is_rpc(vw.Rpc.GameInit), 10)
            if m.is_rpc(vw.Rpc.GameInit):
                break
            r = m.rpc().reader()
            adds.append(struct.unpack("<IIBiiiIIiiBB", r.read_bytes(39)))
        files = self.server.files
        crc = {name: zlib.crc32(data) for name, data in files.items()}
        self.assertEqual(adds, [
            (0, 2, 1, -1, 7, 20001, crc["skin.dff"], crc["skin.txd"], 10000, 4096, 0, 0),
            (1, 2, 2, -1, 19379, -2000, crc["wall.dff"], crc["wall.txd"], 5000, 100, 0, 0),
        ])

        for rpc, kind, name in ((vw.Rpc.ModelFileRequest, 1, "skin.dff"), (vw.Rpc.TextureFileRequest, 2, "skin.txd"),
                                (vw.Rpc.ModelFileRequest, 1, "wall.dff")):
            with self.subTest(name):
                conn.send_rpc(rpc, u32(crc[name]))
                chunks = self.download(conn, kind, crc[name])
                data = files[name]
                self.assertEqual(len(chunks), len(data) // 4096 + 1)
                self.assertEqual(b"".join(chunks), data)
                self.assertEqual(zlib.crc32(b"".join(chunks)), crc[name])

        conn.send_rpc(vw.Rpc.ModelFileRequest, u32(0x12345678))
        self.assertEqual(self.transfer(conn).read_u8(), 0)

        conn.send_rpc(vw.Rpc.DownloadFinished, b"")
        ack = conn.expect_rpc(185, 10)
        self.assertEqual((ack.bits, ack.reader().read_bit()), (1, 1))
        conn.disconnect()

    def transfer(self, conn):
        return conn.expect_rpc(vw.Rpc.FileTransferMessage, 10).reader()

    def download(self, conn, kind, crc):
        """The decompressed chunks of one download, checking every message on the way."""
        r = self.transfer(conn)
        self.assertEqual((r.read_u8(), r.read_u8(), r.read_u32()), (5, kind, crc))
        chunks, packed = [], b""
        while True:
            r = self.transfer(conn)
            what = r.read_u8()
            if what == 2:
                self.assertEqual(packed, b"", "done in the middle of a chunk")
                return chunks
            self.assertEqual(what, 1)
            phase, size, length = r.read_u8(), r.read_u32(), r.read_u32()
            self.assertLessEqual(length, MTU - 40)
            packed += r.read_bytes(length)
            if phase == 2:
                plain = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=LZMA1).decompress(packed)
                self.assertEqual(len(plain), size)
                chunks.append(plain)
                packed = b""
            else:
                self.assertEqual((phase, length), (1, MTU - 40))

    # ---- what a stranger's request is worth -----------------------------------------------------
    def test_7_amplification_from_an_unconnected_address(self):
        rows = []
        with self.server.query("127.0.0.9") as q:
            requests = [("p", q.header("p") + b"\x01\x02\x03\x04"), ("i", q.header("i")), ("r", q.header("r")),
                        ("c", q.header("c")), ("d", q.header("d")),
                        ("x", vw.query.rcon_request(q.header("x"), "wrong", "echo"))]
            for op, request in requests:
                time.sleep(0.03)
                q.send_raw(request)
                replies = q.collect(request[:11], 1.0, first_only=False, quiet=0.3)
                out = sum(len(r) for r in replies)
                rows.append((op, len(request), out))
        print("\nkind  bytes in  bytes out  ratio")
        for op, size_in, size_out in rows:
            print("%-4s  %8d  %9d  %5.2f" % (op, size_in, size_out, size_out / size_in))
        self.assertEqual([r[2] > 0 for r in rows], [True] * len(rows))


def main():
    global SERVER, SCRIPTS, PLUGIN, TABLE
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    SERVER, SCRIPTS, PLUGIN, TABLE = sys.argv[1:5]
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
