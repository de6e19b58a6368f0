#!/usr/bin/env python3
"""The script VM side by side with Lua 5.4, LuaJIT's interpreter (-joff) and C -O2.

Runs each workload once per runtime on this machine, checks that every runtime produced the
answer computed here independently, and prints the seconds and the ratios ours/other. Then runs
our host under callgrind at smaller sizes and prints the instructions spent inside vm_Exec.

    vm_compare.py --bin <bench build dir> --script <vm_compare.lua> [--repeat N]

By default each workload runs once per runtime; --repeat N keeps the fastest of N runs, which
settles ratios near 1.0 on a machine that is busy with other work.

<bench build dir> holds vm_compare_host, vm/<workload>.vmb, vm_compare_c and, when the Lua
development files were found, vm_compare_lua54 / vm_compare_luajit (the hosts that register the
C function of the native-call workload). The pure-Lua workloads run on the stock `lua5.4` and
`luajit -joff`. A runtime that is missing shows n/a; a wrong answer fails the run (exit 1).
Standard library only.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

TIMEOUT_S = 900

# name, label, timed arguments, callgrind arguments, unit of the per-unit instruction count.
WORKLOADS = [
    ("fib", "fib(30)", [30], [24], "call"),
    ("sum", "sum 1e8", [100_000_000], [1_000_000], "iteration"),
    ("sieve", "sieve 1e7 x3", [10_000_000, 3], [1_000_000, 1], "number"),
    ("natives", "natives 1e7", [10_000_000], [100_000], "call"),
]

RUNTIMES = ["ours", "lua5.4", "luajit -joff", "C -O2"]


def to_cell(value):
    """A result as a 32-bit two's-complement cell: Lua's wider numbers are compared modulo 2^32."""
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def expected(name, args):
    """The answer of a workload, computed here without any of the programs under test."""
    n = args[0]
    if name == "fib":
        a, b = 0, 1
        for _ in range(n):
            a, b = b, a + b
        return to_cell(a)
    if name == "sum":
        return to_cell(n * (n + 1) // 2)
    if name == "sieve":
        flags = bytearray([1]) * (n + 1)
        flags[:2] = bytes(min(2, n + 1))
        i = 2
        while i * i <= n:
            if flags[i]:
                flags[i * i :: i] = bytes(len(range(i * i, n + 1, i)))
            i += 1
        return to_cell(sum(flags) * args[1])
    if name == "natives":
        # WeightedSum(i, 1, 2, 3) = i + 2 + 6 + 12
        return to_cell(n * (n + 1) // 2 + 20 * n)
    raise ValueError(name)


def units(name, args):
    n = args[0]
    if name == "fib":  # calls made by the naive recursion: 2 * fib(n + 1) - 1
        a, b = 0, 1
        for _ in range(n + 1):
            a, b = b, a + b
        return 2 * a - 1
    if name == "sieve":
        return n * args[1]
    return n


def command(runtime, name, args, opts):
    """The command line of one workload on one runtime, or None when that runtime is missing."""
    argv = [str(a) for a in args]
    b = opts.bin
    if runtime == "ours":
        return [os.path.join(b, "vm_compare_host"), os.path.join(b, "vm", name + ".vmb")] + argv
    if runtime == "C -O2":
        return [os.path.join(b, "vm_compare_c"), name] + argv
    if runtime == "lua5.4":
        host, stock = os.path.join(b, "vm_compare_lua54"), shutil.which("lua5.4")
        stock_cmd = [stock] if stock else None
    else:
        host, stock = os.path.join(b, "vm_compare_luajit"), shutil.which("luajit")
        stock_cmd = [stock, "-joff"] if stock else None
    if name == "natives":
        # A C function can only be called from Lua through a host that registers it.
        return [host, opts.script, name] + argv if os.access(host, os.X_OK) else None
    return stock_cmd + [opts.script, name] + argv if stock_cmd else None


def run(cmd):
    """(result, seconds) of one run; raises RuntimeError with the program's complaint."""
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=TIMEOUT_S)
    if p.returncode != 0:
        raise RuntimeError("%s: exit %d: %s" % (" ".join(cmd), p.returncode, p.stderr.strip()))
    fields = p.stdout.split()
    if len(fields) != 2:
        raise RuntimeError("%s: unexpected output %r" % (" ".join(cmd), p.stdout))
    return to_cell(int(fields[0])), float(fields[1])


def callgrind_ir(cmd, tmp):
    """Instructions executed inside vm_Exec (natives included) during one run of our host."""
    out = os.path.join(tmp, "callgrind.out")
    vg = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
          "--toggle-collect=*vm_Exec*"] + cmd
    p = subprocess.run(vg, capture_output=True, text=True, timeout=TIMEOUT_S)
    if p.returncode != 0:
        raise RuntimeError("%s: exit %d: %s" % (" ".join(vg), p.returncode, p.stderr.strip()[-400:]))
    with open(out) as f:
        for line in f:
            m = re.match(r"(?:summary|totals):\s+(\d+)", line)
            if m:
                return int(m.group(1))
    raise RuntimeError("no instruction total in " + out)


def fmt_s(v):
    return "%.3f" % v if v is not None else "n/a"


def fmt_ratio(a, b):
    if a is None or b is None or b <= 0:
        return "n/a"
    return "%.2f" % (a / b)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", required=True, help="bench build directory")
    ap.add_argument("--script", required=True, help="path of vm_compare.lua")
    ap.add_argument("--repeat", type=int, default=1, help="keep the fastest of N runs (default 1)")
    opts = ap.parse_args()
    if opts.repeat < 1:
        ap.error("--repeat must be at least 1")

    failures = []
    seconds = {}  # (workload, runtime) -> seconds
    for name, label, args, _, _ in WORKLOADS:
        want = expected(name, args)
        for rt in RUNTIMES:
            cmd = command(rt, name, args, opts)
            if cmd is None:
                continue
            for _ in range(opts.repeat):
                try:
                    got, secs = run(cmd)
                except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                    failures.append("%s on %s: %s" % (label, rt, e))
                    break
                if got != want:
                    failures.append("%s on %s: result %d, expected %d" % (label, rt, got, want))
                    break
                best = seconds.get((name, rt))
                seconds[(name, rt)] = secs if best is None else min(best, secs)
            else:
                continue
            seconds.pop((name, rt), None)  # a failed run leaves no figure

    runs = "one run each" if opts.repeat == 1 else "fastest of %d runs" % opts.repeat
    print("VM side by side: seconds of CPU per workload (%s), results checked" % runs)
    head = "%-14s %9s %9s %13s %9s   %12s %13s %8s" % (
        "workload", "ours", "lua5.4", "luajit -joff", "C -O2",
        "ours/lua5.4", "ours/luajit", "ours/C")
    print(head)
    print("-" * len(head))
    missed = []
    for name, label, args, _, _ in WORKLOADS:
        s = [seconds.get((name, rt)) for rt in RUNTIMES]
        print("%-14s %9s %9s %13s %9s   %12s %13s %8s" % (
            label, fmt_s(s[0]), fmt_s(s[1]), fmt_s(s[2]), fmt_s(s[3]),
            fmt_ratio(s[0], s[1]), fmt_ratio(s[0], s[2]), fmt_ratio(s[0], s[3])))
        if s[0] is not None and s[1] is not None and s[0] >= s[1]:
            missed.append(label)
    print()
    # A native call's own cost, estimated as one iteration of the native loop less one of the
    # sum loop: both loops share the counter, the test and the accumulation.
    n_calls = [w for w in WORKLOADS if w[0] == "natives"][0][2][0]
    n_sum = [w for w in WORKLOADS if w[0] == "sum"][0][2][0]
    per_call, call_cost = {}, {}
    for rt in RUNTIMES:
        nat, loop = seconds.get(("natives", rt)), seconds.get(("sum", rt))
        per_call[rt] = nat * 1e9 / n_calls if nat is not None else None
        if nat is not None and loop is not None:
            call_cost[rt] = per_call[rt] - loop * 1e9 / n_sum

    def ns(v):
        return "%.1f" % v if v is not None else "n/a"

    print("ns per native-loop iteration:          " +
          ", ".join("%s %s" % (rt, ns(per_call.get(rt))) for rt in RUNTIMES))
    print("ns per native call (less a sum step):  " +
          ", ".join("%s %s" % (rt, ns(call_cost.get(rt))) for rt in RUNTIMES))
    if all(seconds.get((n[0], "lua5.4")) is not None for n in WORKLOADS):
        print("target ours/lua5.4 < 1.0 on every workload: %s" %
              ("met" if not missed else "missed on " + ", ".join(missed)))
    else:
        print("target ours/lua5.4 < 1.0: not judged, lua5.4 results are missing")
    if "ours" in call_cost and "lua5.4" in call_cost:
        print("target native call at or below lua5.4's C call: %s" %
              ("met" if call_cost["ours"] <= call_cost["lua5.4"] else "missed"))

    print()
    if shutil.which("valgrind") is None:
        print("callgrind: valgrind not found, instruction counts skipped")
    else:
        print("callgrind, ours: instructions executed inside vm_Exec (natives included)")
        print("%-14s %-20s %14s %16s" % ("workload", "size", "Ir", "Ir per unit"))
        with tempfile.TemporaryDirectory(prefix="vm_compare_") as tmp:
            for name, label, _, cg_args, unit in WORKLOADS:
                cmd = command("ours", name, cg_args, opts)
                try:
                    ir = callgrind_ir(cmd, tmp)
                except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                    failures.append("callgrind %s: %s" % (label, e))
                    continue
                size = " ".join(str(a) for a in cg_args)
                print("%-14s %-20s %14d %11.1f/%s" % (
                    name, size, ir, ir / units(name, cg_args), unit))
        print("(sieve: every pass clears the script's fixed 1e7-cell array, about 1e7 Ir of it)")

    if failures:
        print()
        for f in failures:
            print("FAILED: " + f)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
