#!/usr/bin/env python3
"""Punch-through across simulated address translation.

Five network namespaces: a public segment holding the facilitator, and for each of requester and
target a private segment behind its own masquerading router. The routers let in only what answers
something sent out, so a direct connection between the two private systems fails; the
facilitator's timing must open both routers at once.

Needs root, the ip and nft programs and network namespaces; otherwise the check is skipped
(exit 77).
"""

import os
import queue
import shutil
import subprocess
import sys
import threading
import time

SKIP = 77
TAG = "vp%d" % os.getpid()
NS = {name: "%s_%s" % (TAG, name) for name in ("pub", "natr", "privr", "natt", "privt")}
# side: (router's public address, private subnet)
SIDES = {"r": ("10.9.0.2", "192.168.10"), "t": ("10.9.0.3", "192.168.20")}
FACILITATOR = "10.9.0.1"


def run(*args):
    subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def ip(ns, *args):
    run("ip", "-n", ns, *args)


def build():
    for ns in NS.values():
        run("ip", "netns", "add", ns)
        ip(ns, "link", "set", "lo", "up")
    pub = NS["pub"]
    ip(pub, "link", "add", "br0", "type", "bridge")
    ip(pub, "addr", "add", FACILITATOR + "/24", "dev", "br0")
    ip(pub, "link", "set", "br0", "up")
    for side, (public, subnet) in SIDES.items():
        nat, priv = NS["nat" + side], NS["priv" + side]
        outside, bridge_end = "out" + side, "br" + side
        inside, host_end = "in" + side, "host" + side
        ip(nat, "link", "add", outside, "type", "veth", "peer", "name", bridge_end, "netns", pub)
        ip(pub, "link", "set", bridge_end, "master", "br0", "up")
        ip(nat, "addr", "add", public + "/24", "dev", outside)
        ip(nat, "link", "set", outside, "up")
        ip(nat, "link", "add", inside, "type", "veth", "peer", "name", host_end, "netns", priv)
        ip(nat, "addr", "add", subnet + ".1/24", "dev", inside)
        ip(nat, "link", "set", inside, "up")
        ip(priv, "addr", "add", subnet + ".2/24", "dev", host_end)
        ip(priv, "link", "set", host_end, "up")
        ip(priv, "route", "add", "default", "via", subnet + ".1")
        run("ip", "netns", "exec", nat, "sysctl", "-qw", "net.ipv4.ip_forward=1")
        # Like a home router: masquerade going out; coming in, only what answers a mapping.
        # Unsolicited datagrams are dropped before they are tracked, so they leave no entry
        # behind that would make the router map a later punch to another port.
        rules = (
            "table ip nat {\n"
            "  chain post { type nat hook postrouting priority 100; oifname \"%s\" masquerade; }\n"
            "}\n"
            "table ip filter {\n"
            "  chain input { type filter hook input priority 0; iifname \"%s\" ct state new drop; }\n"
            "}\n" % (outside, outside)
        )
        subprocess.run(["ip", "netns", "exec", nat, "nft", "-f", "-"], input=rules.encode(), check=True)


def teardown():
    for ns in NS.values():
        subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)


class Node:
    def __init__(self, tool, ns, *args):
        self.proc = subprocess.Popen(
            ["ip", "netns", "exec", ns, tool, *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.split())

    def expect(self, word, timeout=30.0):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s within %.0f s" % (word, timeout))
            try:
                fields = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if fields and fields[0] == word:
                return fields

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def stop(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def usable():
    if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("nft"):
        return False
    probe = TAG + "_probe"
    try:
        run("ip", "netns", "add", probe)
        run("ip", "netns", "exec", probe, "nft", "add", "table", "ip", "nat")
        return True
    except (subprocess.CalledProcessError, OSError):
        return False
    finally:
        subprocess.run(["ip", "netns", "del", probe], stderr=subprocess.DEVNULL)


def main():
    tool = sys.argv[1]
    if not usable():
        print("skipped: needs root, ip, nft and network namespaces")
        return SKIP
    nodes = []
    try:
        build()
        facilitator = Node(tool, NS["pub"], "facilitator", FACILITATOR)
        nodes.append(facilitator)
        port = facilitator.expect("PORT")[1]
        members = {}
        for side, (public, subnet) in SIDES.items():
            members[side] = Node(tool, NS["priv" + side], "member", subnet + ".2", FACILITATOR, port)
            nodes.append(members[side])
            members[side].expect("READY")
        # The facilitator sees both through their routers, never at their private addresses.
        seen = {}
        for _ in SIDES:
            fields = facilitator.expect("SEEN")
            seen[fields[1]] = fields[2]
        assert set(seen) == {public for public, _ in SIDES.values()}, seen
        target = "%s %s" % (SIDES["t"][0], seen[SIDES["t"][0]])
        print("requester seen at %s:%s, target at %s" % (SIDES["r"][0], seen[SIDES["r"][0]], target))

        members["r"].send("DIRECT " + target)
        outcome = members["r"].expect("DIRECT-FAILED")
        print("direct connection refused by the target's router after %s ms" % outcome[1])

        members["r"].send("PUNCH " + target)
        outcome = members["r"].lines.get(timeout=30)
        while outcome[0] not in ("PUNCH-CONNECTED", "PUNCH-FAILED"):
            outcome = members["r"].lines.get(timeout=30)
        assert outcome[0] == "PUNCH-CONNECTED", outcome
        print("punched through after %s ms" % outcome[1])
        members["t"].expect("SEEN")
        return 0
    finally:
        for node in nodes:
            node.stop()
        teardown()


if __name__ == "__main__":
    sys.exit(main())
