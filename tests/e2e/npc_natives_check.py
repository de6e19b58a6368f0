"""Each bot native called by an npcmode in a bot joined to velt-server (both real processes), with
an independent wire client as the player the bot watches. Once the player is streamed in to the
bot (and half a second more), the npcmode calls every native once and notes what it returned and wrote back in
"npc_natives.txt" below its file root; this test checks each line against what the player sent and
what the natives must answer; the server logs the bot's chat line.

usage: npc_natives_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                            <tests/wire directory>
"""

import struct
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402

SPAWN = (10.0, 20.0, 3.0)
WALKER = (12.0, 20.0, 3.0)
KEYS = (8, 0xFF80, 0x0080)  # keys, up/down, left/right as the walker sends them


def as_float(value):
    return struct.unpack("<f", struct.pack("<i", value))[0]


def near(value):
    return lambda v: abs(as_float(v) - value) <= 1e-3


def expected(walker_id):
    def key_cell(v):
        return lambda got: got & 0xFFFF == v

    return {
        "print": lambda v: v == 0,
        "printf": lambda v: v == 0,
        "format": lambda v: v == 1,
        "format.0": lambda v: v == ord(str(walker_id)[0]),
        "SetTimer": lambda v: v > 0,
        "KillTimer": lambda v: v == 1,
        "GetTickCount": lambda v: v != 0,
        "asin": near(90.0),
        "acos": near(0.0),
        "atan2": near(45.0),
        "atan": near(45.0),
        "StartRecordingPlayback": lambda v: v == 1,
        "PauseRecordingPlayback": lambda v: v == 1,
        "ResumeRecordingPlayback": lambda v: v == 1,
        "StopRecordingPlayback": lambda v: v == 1,
        "SendChat": lambda v: v == 1,
        "SendCommand": lambda v: v == 1,
        "GetPlayerState": lambda v: v == 1,  # on foot
        "GetPlayerPos": lambda v: v == 1,
        "GetPlayerPos.1": near(WALKER[0]),
        "GetPlayerPos.2": near(WALKER[1]),
        "GetPlayerPos.3": near(WALKER[2]),
        "GetPlayerVehicleID": lambda v: v == 0xFFFF,  # on foot: no vehicle
        "GetPlayerArmedWeapon": lambda v: v == 0,
        "GetPlayerHealth": lambda v: v == 100,
        "GetPlayerArmour": lambda v: v == 0,
        "GetPlayerSpecialAction": lambda v: v == 0,
        "IsPlayerStreamedIn": lambda v: v == 1,
        "IsVehicleStreamedIn": lambda v: v == 0,
        "GetPlayerKeys": lambda v: v == 1,
        "GetPlayerKeys.1": key_cell(KEYS[0]),
        "GetPlayerKeys.2": key_cell(KEYS[1]),
        "GetPlayerKeys.3": key_cell(KEYS[2]),
        "SetMyPos": lambda v: v == 1,
        "GetMyPos": lambda v: v == 1,
        "GetMyPos.1": near(1.5),
        "GetMyPos.2": near(2.5),
        "GetMyPos.3": near(3.5),
        "SetMyFacingAngle": lambda v: v == 1,
        "GetMyFacingAngle": lambda v: v == 1,
        "GetMyFacingAngle.1": near(45.0),
        "GetDistanceFromMeToPoint": lambda v: v == 1,
        "GetDistanceFromMeToPoint.1": near(5.0),
        "IsPlayerInRangeOfPoint": lambda v: v == 1,
        "GetPlayerName": lambda v: v == len("Walker"),
        "GetPlayerName.0": lambda v: v == ord("W"),
        "IsPlayerConnected": lambda v: v == 1,
    }


def main():
    site = Site(SERVER, GAMEMODE_VMB, "npc_classes", {"natives": NPCMODE_VMB}, maxnpc=1)
    try:
        # "stand": two on-foot blocks where the bot spawned, for the playback natives.
        with open(site.path("npcmodes", "recordings", "stand.rec"), "wb") as f:
            f.write(struct.pack("<II", 1000, 2))
            for ms in (0, 100):
                f.write(struct.pack("<I", ms) + vw.OnFootSync(position=SPAWN).pack())
        site.start_server(vw)
        site.start_bot(NPC, "Bot", "natives")

        def notes():
            return site.read("npc_natives.txt").splitlines()

        scrambler = vw.Scrambler.from_header(TABLE_HEADER, site.port)
        with vw.Connection("127.0.0.1", site.port, scrambler, bind_host="127.0.0.2") as conn:
            conn.connect(timeout=10)
            me = vw.join(conn, "Walker").player_id
            vw.player.request_class(conn, 0)
            vw.player.request_spawn(conn)
            vw.player.spawned(conn)

            def walk_until_noted():
                vw.player.send_onfoot(conn, vw.OnFootSync(keys=KEYS[0], ud_keys=KEYS[1], lr_keys=KEYS[2],
                                                          position=WALKER))
                conn.pump(0.1)
                return any(n.startswith("IsPlayerConnected ") for n in notes())

            wait_until(walk_until_noted)
            conn.disconnect()

        check(wait_until(lambda: "[chat] [Bot]: hello" in site.log()), "SendChat's text never reached the server")
        got = dict(line.rsplit(" ", 1) for line in notes())
        for name, ok in expected(me).items():
            if check(name in got, "%s: not called" % name):
                check(ok(int(got[name])), "%s: %s" % (name, got[name]))
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
