"""A gamemode starts its own bot with ConnectNPC (velt-server and velt-npc as real processes):

- a name holding a shell separator is refused (ConnectNPC gives 0) and runs nothing;
- "Bot" is started from the server's working directory, joins, and IsPlayerNPC is 1 for it.

usage: npc_launch_check.py <velt-server> <velt-npc> <gamemode.vmb> <npcmode.vmb>
"""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SERVER, NPC, GAMEMODE_VMB, NPCMODE_VMB = sys.argv[1:5]
WAIT = 25.0
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return bool(predicate())


def main():
    site = tempfile.mkdtemp(prefix="velt-npc-launch-", dir=os.getcwd())
    server = None
    try:
        for sub in ("gamemodes", "npcmodes", "scriptfiles"):
            os.makedirs(os.path.join(site, sub))
        shutil.copy(GAMEMODE_VMB, os.path.join(site, "gamemodes", "npc_launch.vmb"))
        shutil.copy(NPCMODE_VMB, os.path.join(site, "npcmodes", "watch.vmb"))
        shutil.copy(NPC, os.path.join(site, "velt-npc"))
        port = free_udp_port()
        with open(os.path.join(site, "server.cfg"), "w") as f:
            f.write("rcon_password npc-launch-3k\nport %d\ngamemode0 npc_launch 1\nannounce 0\nmaxnpc 1\n" % port)
        server = subprocess.Popen([SERVER], cwd=site, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.STDOUT)

        def log():
            try:
                with open(os.path.join(site, "server_log.txt"), encoding="utf-8", errors="replace") as f:
                    return f.read()
            except FileNotFoundError:
                return ""

        check(wait_until(lambda: "launch 0 1" in log()), "ConnectNPC results not as expected: %r" % log()[-2000:])
        check("ConnectNPC: Bad parameters" in log(), "no refusal line for the bad name")
        check(wait_until(lambda: "[npc:join] Bot has joined the server" in log()),
              "the started bot never joined: %r" % log()[-2000:])
        check(wait_until(lambda: re.search(r"joined \d+ npc 1", log()) is not None),
              "IsPlayerNPC was not 1 for the bot: %r" % log()[-2000:])
        check(not os.path.exists(os.path.join(site, "pwned")), "the refused name ran a command")
    finally:
        if server is not None and server.poll() is None:
            server.terminate()
            try:
                server.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        shutil.rmtree(site, ignore_errors=True)
    if failures:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
