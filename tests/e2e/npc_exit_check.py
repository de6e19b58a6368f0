"""velt-npc ends with status 1 on every failure that needs no server: a missing npcmode, no
answer on the server's port, an unreachable host and a host text that is no address. While it
tries to connect, every datagram it sends must be scrambled the way the server descrambles:
checksum byte first, then the payload through the substitution table with the port-derived key
on odd positions. The table and the key constant are read from the shared header.

usage: npc_exit_check.py <velt-npc> <idle.vmb> <ScrambleTable.h>
"""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

NPC, IDLE_VMB, TABLE_HEADER = sys.argv[1:4]

# The open-connection request a client repeats until it gets an answer.
OPEN_REQUEST_ID = 24
MAX_OPEN_REQUESTS = 6


def read_scramble_config(path):
    text = open(path, encoding="utf-8").read()
    body = re.search(r"kDescrambleTable\s*=\s*\{(.*?)\};", text, re.S).group(1)
    table = [int(v, 16) for v in re.findall(r"0x[0-9A-Fa-f]{2}", body)]
    constant = int(re.search(r"kScrambleKeyConstant\s*=\s*(0x[0-9A-Fa-f]+)", text).group(1), 16)
    assert len(table) == 256 and sorted(table) == list(range(256)), "the table must be a permutation"
    return table, constant


TABLE, KEY_CONSTANT = read_scramble_config(TABLE_HEADER)


def descramble(wire, port):
    """Undoes the bot's scrambling; returns the payload, or None when the checksum is wrong."""
    if not wire:
        return None
    mask = (port ^ KEY_CONSTANT) & 0xFF
    plain = bytes(TABLE[b ^ mask] if i % 2 else TABLE[b] for i, b in enumerate(wire[1:]))
    checksum = 0
    for b in plain:
        checksum ^= b & 0xAA
    return plain if checksum == wire[0] else None


def run_dir():
    d = tempfile.mkdtemp(prefix="velt-npc-e2e-")
    os.makedirs(os.path.join(d, "npcmodes"))
    shutil.copy(IDLE_VMB, os.path.join(d, "npcmodes", "idle.vmb"))
    return d


def start_bot(cwd, host, port, mode="idle"):
    return subprocess.Popen([NPC, "-h", host, "-p", str(port), "-n", "Bot", "-m", mode], cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def finish(proc, limit, name):
    try:
        out, err = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        check(False, f"{name}: still running after {limit} s")
        return
    check(proc.returncode == 1, f"{name}: exit status {proc.returncode}, expected 1")
    # The bot writes nothing of its own; only a sanitizer would.
    check(out == b"" and err == b"", f"{name}: unexpected output {out!r} {err!r}")


def silent_server_case(cwd):
    """Nobody answers: the bot repeats its scrambled request, then gives up with status 1."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    sock.settimeout(0.2)
    port = sock.getsockname()[1]
    proc = start_bot(cwd, "127.0.0.1", port)
    requests, bad = 0, 0
    deadline = time.time() + 30
    while proc.poll() is None and time.time() < deadline:
        try:
            wire, _ = sock.recvfrom(2048)
        except socket.timeout:
            continue
        plain = descramble(wire, port)
        if plain is None:
            bad += 1
        elif plain[:1] == bytes([OPEN_REQUEST_ID]):
            requests += 1
    sock.close()
    finish(proc, 5, "silent server")
    check(bad == 0, f"silent server: {bad} datagrams fail the server's checksum")
    check(2 <= requests <= MAX_OPEN_REQUESTS, f"silent server: {requests} open requests")


def main():
    cwd = run_dir()
    try:
        started = time.time()
        # No script: status 1 before anything is sent.
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", 0))
        sock.settimeout(0.5)
        port = sock.getsockname()[1]
        finish(start_bot(cwd, "127.0.0.1", port, mode="nosuchmode"), 10, "missing npcmode")
        try:
            sock.recvfrom(2048)
            check(False, "missing npcmode: the bot sent a datagram")
        except socket.timeout:
            pass
        sock.close()
        finish(subprocess.Popen([NPC], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE), 10,
               "no arguments")
        # A host text that is no address: refused at once instead of waiting for ever.
        finish(start_bot(cwd, "256.1.1.1", 7777), 10, "unusable host")
        check(time.time() - started < 20, "the quick failures took too long")

        # The slow ones run side by side: a silent port, and a host where nobody listens.
        unreachable = start_bot(cwd, "127.0.0.5", 9)
        watcher = threading.Thread(target=silent_server_case, args=(cwd,))
        watcher.start()
        finish(unreachable, 40, "unreachable host")
        watcher.join()
    finally:
        shutil.rmtree(cwd, ignore_errors=True)
    if failures:
        sys.exit(1)
    print("ok")


main()
