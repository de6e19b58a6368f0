"""The file packet logger's CSV for a known exchange, read with the csv module.

usage: packetlog_csv_check.py <packetlog_exchange>

The exchange program runs in a scratch directory, sends the messages listed below from one peer
to another and leaves the receiver's log file there. Every message received must show up as one
row whose id and bit length match what was sent, with the right addresses in every row.
"""

import csv
import os
import subprocess
import sys
import tempfile

NAMES = {
    200: "ID_VEHICLE_SYNC", 201: "ID_RCON_COMMAND", 202: "ID_RCON_RESPONCE", 203: "ID_AIM_SYNC",
    204: "ID_WEAPONS_UPDATE", 205: "ID_STATS_UPDATE", 207: "ID_PLAYER_SYNC", 209: "ID_UNOCCUPIED_SYNC",
    210: "ID_TRAILER_SYNC", 211: "ID_PASSENGER_SYNC", 212: "ID_SPECTATOR_SYNC",
}
# (kind, id, bytes): plain messages of every named id and of some without a name, timestamped
# ones and a remote procedure call. Sizes differ from each other and from the transport's own
# messages, so each row can be told apart even where the id prints as "Unknown".
SENT = [("", ident, 40 + n) for n, ident in enumerate(list(NAMES) + [206, 208, 150, 255])]
SENT += [("ts", 207, 24), ("ts", 150, 29), ("rpc", 77, 5)]
HEADER = ["S|R", "Typ", "Pckt#", "Frm #", "PktID", "BitLn", "Time     ", "Local IP:Port   ", "RemoteIP:Port"]


def fail(text: str) -> int:
    print(f"FAILED: {text}", file=sys.stderr)
    return 1


def main() -> int:
    exchange = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as scratch:
        args = [f"{kind}{ident}:{size}" for kind, ident, size in SENT]
        run = subprocess.run([exchange, *args], cwd=scratch, capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            return fail(f"exchange ended with {run.returncode}: {run.stderr}")
        facts = dict(line.split(" ", 1) for line in run.stdout.splitlines())
        with open(os.path.join(scratch, facts["file"]), newline="") as f:
            rows = list(csv.reader(f))

    if rows[0] != HEADER:
        return fail(f"header {rows[0]}")
    received = {}
    for row in rows[1:]:
        if len(row) != 9:
            return fail(f"row of {len(row)} columns: {row}")
        direction, kind = row[0], row[1]
        if direction not in ("Snd", "Rcv") or kind not in ("Raw", "Nrm", "Tms", "Rpc"):
            return fail(f"row {row}")
        if row[7] != facts["receiver"]:
            return fail(f"local address {row[7]}, want {facts['receiver']}")
        int(row[5]), int(row[6])
        if kind == "Raw":
            continue
        if row[8] != facts["sender"]:
            return fail(f"remote address {row[8]}, want {facts['sender']}")
        # A resent message can be read twice: its message number names it.
        received[int(row[2])] = (kind, row[4], int(row[5]))

    for kind, ident, size in SENT:
        if kind == "rpc":
            want = [r for r in received.values() if r[0] == "Rpc" and r[1] == str(ident)]
            if len(want) != 1 or want[0][2] <= 16:
                return fail(f"the call {ident}: {want}")
            continue
        typ = "Tms" if kind == "ts" else "Nrm"
        row = (typ, NAMES.get(ident, "Unknown"), size * 8)
        matching = [r for r in received.values() if r == row]
        if len(matching) != 1:
            return fail(f"{row} is in the log {len(matching)} times")
    print(f"{len(SENT)} messages in {len(rows) - 1} rows")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
