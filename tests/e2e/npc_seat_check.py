"""A gamemode seats a bot in a vehicle and takes it out again (velt-server and velt-npc as real
processes):

- when the bot spawns, the gamemode's PutPlayerInVehicle puts it at the wheel of its vehicle and
  returns 1; the bot's npcmode hears of it in OnNPCEnterVehicle with that vehicle and seat 0;
- 500 ms later RemovePlayerFromVehicle returns 1 and the npcmode's OnNPCExitVehicle runs.

The npcmode writes its notes into "npc_seat.txt" below its file root (VMFILE).

usage: npc_seat_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                         <tests/wire directory>
"""

import re
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402


def main():
    site = Site(SERVER, GAMEMODE_VMB, "npc_seat", {"seat": NPCMODE_VMB}, maxnpc=1)
    try:
        if not site.start_server(vw):
            return
        site.start_bot(NPC, "Bot", "seat")
        notes = lambda: site.read("npc_seat.txt").splitlines()  # noqa: E731
        seated = wait_until(lambda: re.search(r"seated (\d+) in (\d+): (-?\d+)", site.log()))
        if not check(seated, "the gamemode never seated the bot: %r" % site.log()[-2000:]):
            return
        bot, vehicle, result = seated.groups()
        check(result == "1", "PutPlayerInVehicle gave %s" % result)
        check(wait_until(lambda: "exit" in notes()), "the bot never left the vehicle: %r" % notes())
        check(notes() == ["spawn", "enter %s 0" % vehicle, "exit"], "the bot's notes: %r" % notes())
        check("unseated %s: 1" % bot in site.log(), "RemovePlayerFromVehicle did not give 1: %r"
              % site.log()[-2000:])
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
