"""Client messages reach a bot as they were written: velt-server runs a gamemode that greets every
spawned player with texts full of format directives ("%s", "%n", "%d", "%%"), one to him and one
to everybody, and the bot's npcmode notes each text it receives in OnClientMessage, with its
colour, in "npc_messages.txt" below its file root. Both programs are real processes.

usage: npc_messages_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                             <tests/wire directory>
"""

import struct
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402


def signed(value):
    return struct.unpack("<i", struct.pack("<I", value))[0]


EXPECTED = ["colour %d" % signed(0x11223344), "%s%n %d%% 100% yours",
            "colour %d" % signed(0x55667788), "all: %s%n%x"]


def main():
    site = Site(SERVER, GAMEMODE_VMB, "npc_messages", {"messages": NPCMODE_VMB}, maxnpc=1)
    try:
        site.start_server(vw)
        site.start_bot(NPC, "Bot", "messages")
        notes = wait_until(lambda: len(site.read("npc_messages.txt").splitlines()) >= len(EXPECTED) and
                           site.read("npc_messages.txt").splitlines())
        # Client messages go reliable but unordered: each colour with its text, in either order.
        pairs = lambda lines: sorted(zip(lines[0::2], lines[1::2]))  # noqa: E731
        check(notes and pairs(notes) == pairs(EXPECTED), "the bot noted %r, not %r" % (notes, EXPECTED))
        check(site.server.poll() is None, "the server ended (%s)" % site.server.poll())
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
