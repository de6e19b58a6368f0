"""Administration on a running velt-server with a bot (velt-npc, from 127.0.0.1) and an independent
wire client (from 127.0.0.2), all real processes and sockets:

- "/s": the gamemode logs what the network statistics natives say of the bot: counters above 0,
  a connected state, its address 127.0.0.1;
- the score table a client asks for lists both players and counts two distinct addresses;
- "/b": the gamemode bans the client with BanEx and a reason holding line breaks: the ban file
  gets exactly one line, and the next connection from 127.0.0.2 is refused as banned.

usage: admin_natives_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb> <ScrambleTable.h>
                              <tests/wire directory>
"""

import re
import sys

from npc_site import Site, check, finish, wait_until

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB, TABLE_HEADER, WIRE_DIR = sys.argv[1:7]
sys.path.insert(0, WIRE_DIR)
import velt_wire as vw  # noqa: E402

STATS = re.compile(r"netstats ip (\S*) received (-?\d+) (-?\d+) sent (-?\d+) (-?\d+) time (-?\d+) "
                   r"status (-?\d+) at (\S*)")
CONNECTED = 8


def score_table(conn):
    """Asks until the server answers (it answers each player at most every 2 s); the ids and the
    distinct-address count of the table."""
    def ask():
        conn.send_rpc(vw.Rpc.ScoresPingsUpdate, b"")
        return conn.expect(lambda m: m.is_rpc(vw.Rpc.ScoresPingsUpdate), 0.5, raise_on_timeout=False)

    m = wait_until(ask)
    if not check(m is not None, "no score table"):
        return [], None
    call = m.rpc()
    r = call.reader()
    rows = (call.bits - 16) // 80
    ids = []
    for _ in range(rows):
        ids.append(r.read_u16())
        r.read_i32()  # score
        r.read_u32()  # ping
    return ids, r.read_u16()


def main():
    site = Site(SERVER, GAMEMODE_VMB, "admin", {"idle": NPCMODE_VMB}, maxnpc=1)
    try:
        site.start_server(vw)
        site.start_bot(NPC, "Bot", "idle")
        check(wait_until(lambda: "[npc:join] Bot has joined the server" in site.log()),
              "the bot never joined: %r" % site.log()[-2000:])
        scrambler = vw.Scrambler.from_header(TABLE_HEADER, site.port)
        with vw.Connection("127.0.0.1", site.port, scrambler, bind_host="127.0.0.2") as conn:
            conn.connect(timeout=10)
            me = vw.join(conn, "Walker", timeout=10).player_id

            vw.player.command(conn, "/s")
            found = wait_until(lambda: STATS.search(site.log()))
            if check(found is not None, "no statistics line: %r" % site.log()[-2000:]):
                ip, received, bytes_in, sent, bytes_out, uptime, status, at = found.groups()
                check(ip == "127.0.0.1", "GetPlayerIp of the bot: %r" % ip)
                for name, value in (("messages received", received), ("bytes received", bytes_in),
                                    ("messages sent", sent), ("bytes sent", bytes_out),
                                    ("connected time", uptime)):
                    check(int(value) > 0, "%s of the bot: %s" % (name, value))
                check(int(status) == CONNECTED, "connection status of the bot: %s" % status)
                check(re.fullmatch(r"127\.0\.0\.1:\d+", at) is not None, "NetStats_GetIpPort of the bot: %r" % at)

            ids, distinct = score_table(conn)
            check(me in ids and len(ids) == 2, "score table ids: %r (the client is %d)" % (ids, me))
            check(distinct == 2, "distinct addresses in the score table: %r" % distinct)

            vw.player.command(conn, "/b")
            check(conn.wait_closed(10), "the banned client was not kicked")

        lines = site.read("velt.ban").splitlines()
        if check(len(lines) == 1, "ban file lines: %r" % lines):
            check(lines[0].startswith("127.0.0.2 [") and "] Walker - spam  * [01/01/24" in lines[0],
                  "ban line: %r" % lines[0])
        with vw.Connection("127.0.0.1", site.port, scrambler, bind_host="127.0.0.2") as again:
            try:
                again.connect(timeout=10)
                check(False, "the banned address connected again")
            except vw.ConnectionRefused as refused:
                check(str(refused) == "banned", "refused as %r, not banned" % str(refused))
    finally:
        site.close()


if __name__ == "__main__":
    main()
    finish()
