"""A gamemode starts its own bot with ConnectNPC (velt-server and velt-npc as real processes):

- a name holding a shell separator is refused (ConnectNPC gives 0) and runs nothing;
- "Bot" is started from the server's working directory, joins, and IsPlayerNPC is 1 for it.

usage: npc_launch_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb>
"""

import os
import re
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB = sys.argv[1:5]


def main():
    site = Site(SERVER, GAMEMODE_VMB, "npc_launch", {"watch": NPCMODE_VMB}, maxnpc=1, npc_program=NPC)
    try:
        site.start_server()
        log = site.log
        check(wait_until(lambda: "launch 0 1" in log()), "ConnectNPC results not as expected: %r" % log()[-2000:])
        check("ConnectNPC: Bad parameters" in log(), "no refusal line for the bad name")
        check(wait_until(lambda: "[npc:join] Bot has joined the server" in log()),
              "the started bot never joined: %r" % log()[-2000:])
        check(wait_until(lambda: re.search(r"joined \d+ npc 1", log()) is not None),
              "IsPlayerNPC was not 1 for the bot: %r" % log()[-2000:])
        check(not os.path.exists(site.path("pwned")), "the refused name ran a command")
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
