"""A recording made by the server replayed by a bot (velt-server and velt-npc as real processes,
an independent wire client as the player):

- the gamemode records a player walking a path with changing keys into "scriptfiles/walk.rec";
- the recording is placed in "npcmodes/recordings/", and the gamemode starts "Bot" with
  ConnectNPC; the bot's npcmode plays "walk" on foot once it spawns;
- the server records the bot into "scriptfiles/botwalk.rec" until the bot's playback ends;
- block by block, the bot sent the walker's positions and keys, in order.

usage: npc_replay_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                           <tests/wire directory>
"""

import re
import shutil
import struct
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402

SPAWN = (10.0, 20.0, 3.0)  # the gamemode's one class
STEPS = 24
ONFOOT_BLOCK = 4 + vw.sync.ONFOOT_SIZE


def read_onfoot_recording(path):
    """[(time, OnFootSync)] of an on-foot recording file, checking its header and layout."""
    with open(path, "rb") as f:
        data = f.read()
    version, kind = struct.unpack_from("<II", data, 0)
    if not check(version == 1000 and kind == 2, "%s: header %d %d" % (path, version, kind)):
        return []
    body = data[8:]
    if not check(len(body) % ONFOOT_BLOCK == 0, "%s: %d body bytes, not whole blocks" % (path, len(body))):
        return []
    blocks = []
    for at in range(0, len(body), ONFOOT_BLOCK):
        (ms,) = struct.unpack_from("<I", body, at)
        blocks.append((ms, vw.OnFootSync.unpack(body[at + 4:at + ONFOOT_BLOCK])))
    return blocks


def path_step(i):
    """The walker's record at step i: a distinct position, facing and set of keys each time."""
    return vw.OnFootSync(lr_keys=(0xFF80 if i % 3 == 0 else 0), ud_keys=(0xFF80 if i % 2 else 0x0080),
                         keys=(i * 8) & 0xFFFF, position=(SPAWN[0] + 2.0 + 0.37 * i, SPAWN[1] - 0.21 * i, SPAWN[2]),
                         quaternion=(0.6, 0.0, 0.0, 0.8), velocity=(0.1, -0.05, 0.0))


def same_place_and_keys(a, b):
    return (a.lr_keys, a.ud_keys, a.keys) == (b.lr_keys, b.ud_keys, b.keys) and all(
        abs(x - y) <= 1e-4 for x, y in zip(a.position, b.position))


def main():
    site = Site(SERVER, GAMEMODE_VMB, "npc_record", {"replay": NPCMODE_VMB}, maxnpc=1, npc_program=NPC)
    try:
        if not site.start_server(vw):
            return
        log = site.log
        port = site.port

        walk = site.path("scriptfiles", "walk.rec")
        scrambler = vw.Scrambler.from_header(TABLE_HEADER, port)
        with vw.Connection("127.0.0.1", port, scrambler, bind_host="127.0.0.2") as conn:
            conn.connect(timeout=10)
            me = vw.join(conn, "Walker").player_id
            vw.player.request_class(conn, 0)
            vw.player.request_spawn(conn)
            vw.player.spawned(conn)
            if not check(wait_until(lambda: "recording %d npc 0" % me in log()),
                         "the walker was not recorded: %r" % log()[-2000:]):
                return
            for i in range(STEPS):
                vw.player.send_onfoot(conn, path_step(i))
                conn.pump(0.1)
            vw.player.command(conn, "/stop")
            check(wait_until(lambda: "saved %d npc 0" % me in log()), "the walk recording never ended")
            walked = read_onfoot_recording(walk)
            check(len(walked) == STEPS and all(same_place_and_keys(b, path_step(i))
                                               for i, (_, b) in enumerate(walked)),
                  "the walk recording is not the path sent: %d blocks" % len(walked))
            check(all(a[0] <= b[0] for a, b in zip(walked, walked[1:])), "walk times go backwards")
            shutil.copy(walk, site.path("npcmodes", "recordings", "walk.rec"))
            vw.player.command(conn, "/bot")
            check(wait_until(lambda: "launch 1" in log()), "ConnectNPC failed: %r" % log()[-2000:])
            check(wait_until(lambda: "[npc:join] Bot has joined the server" in log()),
                  "the bot never joined: %r" % log()[-2000:])
            check(wait_until(lambda: re.search(r"recording \d+ npc 1", log())), "the bot was not recorded")
            check(wait_until(lambda: re.search(r"saved \d+ npc 1", log())),
                  "the bot's playback never ended: %r" % log()[-2000:])
            conn.disconnect()

        replayed = [b for _, b in read_onfoot_recording(site.path("scriptfiles", "botwalk.rec"))]
        walked = [b for _, b in walked]
        # The bot may sync where it stands before the playback starts and after it ends; in
        # between it sends the walker's blocks in order, each one at least once.
        first = next((i for i, b in enumerate(replayed) if same_place_and_keys(b, walked[0])), None)
        if check(first is not None, "the bot never stood at the walk's start: %d blocks" % len(replayed)):
            sent = []
            for b in replayed[first:]:
                if not sent or not same_place_and_keys(b, sent[-1]):
                    sent.append(b)
            print("%d walked blocks; the bot's recording holds %d, %d distinct from the walk's start"
                  % (len(walked), len(replayed), len(sent)))
            for i, want in enumerate(walked):
                if not check(i < len(sent) and same_place_and_keys(sent[i], want),
                             "block %d: bot %r, walker %r" % (i, sent[i] if i < len(sent) else None, want)):
                    break
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
