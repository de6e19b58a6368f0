"""Runs the scripted telnet session against the demo console server.

usage: console_telnet_check.py <console_demo_server> <console_session.exp>
"""

import shutil
import subprocess
import sys


def main() -> int:
    server_path, script = sys.argv[1], sys.argv[2]
    for tool in ("expect", "telnet"):
        if shutil.which(tool) is None:
            print(f"{tool} is missing: run scripts/install-deps.sh", file=sys.stderr)
            return 1
    server = subprocess.Popen([server_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        telnet_line = server.stdout.readline().split()
        peer_line = server.stdout.readline().split()
        if len(telnet_line) != 2 or telnet_line[0] != "telnet" or len(peer_line) != 4 or peer_line[0] != "peer":
            print(f"unexpected start lines: {telnet_line} {peer_line}", file=sys.stderr)
            return 1
        session = subprocess.run(["expect", script, telnet_line[1], *peer_line[1:]], timeout=180)
        if session.returncode != 0:
            return 1
    finally:
        server.stdin.close()
        try:
            status = server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
            print("the demo server did not end", file=sys.stderr)
            return 1
    if status != 0:
        print(f"the demo server ended with {status}", file=sys.stderr)
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
