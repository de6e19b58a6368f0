#!/usr/bin/env python3
"""The script VM side by side with Lua 5.4, LuaJIT's interpreter (-joff) and C -O2.

Every workload is timed on the same phases on every runtime (the sieve's array set-up is outside
the clock everywhere). The runtimes take turns within each round, in an order that rotates from
round to round, so a burst of load elsewhere on the machine falls on all of them alike; a ratio
is formed within each round and the table prints the median of the rounds with their range.
Every result is checked against the answer computed here independently. Then our host runs under
callgrind at smaller sizes and the instructions spent inside vm_Exec are printed.

    vm_compare.py --bin <bench build dir> --script <vm_compare.lua> [--rounds N]

Our VM runs two programs per workload, each with the loader's instruction fusion on and off:
"plain", bench/vm/<workload>.vasm, the instruction sequences the compiler emits, and
"hand-fused", bench/vm/<workload>_fused.vasm, the same algorithm hand-written in exactly the
sequences the loader fuses (an upper bound, not what scripts get).

<bench build dir> holds vm_compare_host, vm/<program>.vmb, vm_compare_c and, when the Lua
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
# Sizes keep every interpreter above 0.3 s per run (C -O2 stays below: the sizes that would lift
# it there would run the interpreters for minutes). The sum stops short of 2^53 so that LuaJIT's
# doubles stay exact.
WORKLOADS = [
    ("fib", "fib(36)", [36], [24], "call"),
    ("sum", "sum 1.3e8", [130_000_000], [1_000_000], "iteration"),
    ("sieve", "sieve 1e7 x3", [10_000_000, 3], [1_000_000, 1], "number"),
    ("natives", "natives 5e7", [50_000_000], [100_000], "call"),
]

# Our programs: row label, file suffix.
PROGRAMS = [("plain", ""), ("hand-fused", "_fused")]
# Our runtimes: (program row, fusion on).
OURS = [(prog, fused) for prog, _ in PROGRAMS for fused in (True, False)]
OTHERS = ["lua5.4", "luajit -joff", "C -O2"]
RUNTIMES = [("ours",) + o for o in OURS] + [(o,) for o in OTHERS]


def rt_name(rt):
    if rt[0] != "ours":
        return rt[0]
    return "ours %s, fusion %s" % (rt[1], "on" if rt[2] else "off")


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
    if runtime[0] == "ours":
        suffix = dict(PROGRAMS)[runtime[1]]
        flags = [] if runtime[2] else ["--no-fusion"]
        return ([os.path.join(b, "vm_compare_host")] + flags +
                [os.path.join(b, "vm", name + suffix + ".vmb")] + argv)
    runtime = runtime[0]
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


def median(values):
    v = sorted(values)
    mid = len(v) // 2
    return v[mid] if len(v) % 2 else (v[mid - 1] + v[mid]) / 2


def fmt_s(values):
    return "%.3f" % median(values) if values else "n/a"


def fmt_ratio(ratios):
    """median [min-max] of the per-round ratios."""
    if not ratios:
        return "n/a"
    return "%.2f [%.2f-%.2f]" % (median(ratios), min(ratios), max(ratios))


def time_rounds(opts, failures):
    """{(workload, runtime): [seconds of each round]}; a runtime that fails once has no entry."""
    seconds = {}
    broken = set()
    for name, label, args, _, _ in WORKLOADS:
        want = expected(name, args)
        cmds = [(rt, command(rt, name, args, opts)) for rt in RUNTIMES]
        cmds = [(rt, c) for rt, c in cmds if c is not None]
        for r in range(opts.rounds):
            shift = r % len(cmds)
            for rt, cmd in cmds[shift:] + cmds[:shift]:
                if (name, rt) in broken:
                    continue
                try:
                    got, secs = run(cmd)
                except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                    failures.append("%s on %s: %s" % (label, rt_name(rt), e))
                    broken.add((name, rt))
                    continue
                if got != want:
                    failures.append("%s on %s: result %d, expected %d" % (label, rt_name(rt), got, want))
                    broken.add((name, rt))
                    continue
                seconds.setdefault((name, rt), []).append(secs)
    for key in broken:
        seconds.pop(key, None)  # a failed run leaves no figure
    return seconds


def round_ratios(seconds, name, a, b):
    """Per-round ratios a/b of one workload (rounds where both ran)."""
    sa, sb = seconds.get((name, a)), seconds.get((name, b))
    if not sa or not sb or len(sa) != len(sb):
        return []
    return [x / y for x, y in zip(sa, sb) if y > 0]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", required=True, help="bench build directory")
    ap.add_argument("--script", required=True, help="path of vm_compare.lua")
    ap.add_argument("--rounds", type=int, default=3, help="rounds of every runtime (default 3)")
    opts = ap.parse_args()
    if opts.rounds < 1:
        ap.error("--rounds must be at least 1")

    failures = []
    seconds = time_rounds(opts, failures)

    print("VM side by side: seconds of CPU per workload, median of %d round(s), results checked"
          % opts.rounds)
    print("(ours: 'plain' is the compiler's instruction sequences, 'hand-fused' the same algorithm in")
    print(" the loader's fused patterns; 'on'/'off' is the loader's instruction fusion)")
    head = "%-13s %-11s %8s %8s %8s %13s %8s" % (
        "workload", "program", "on", "off", "lua5.4", "luajit -joff", "C -O2")
    print(head)
    print("-" * len(head))
    for name, label, _, _, _ in WORKLOADS:
        for i, (prog, _) in enumerate(PROGRAMS):
            others = [fmt_s(seconds.get((name, (o,)))) for o in OTHERS] if i == 0 else ["", "", ""]
            print("%-13s %-11s %8s %8s %8s %13s %8s" % (
                label if i == 0 else "", prog,
                fmt_s(seconds.get((name, ("ours", prog, True)))),
                fmt_s(seconds.get((name, ("ours", prog, False)))), *others))
    print()
    print("ratios ours/other: median [range] of the per-round ratios")
    head = "%-13s %-11s %-9s %18s %18s %18s" % ("workload", "program", "fusion", "/lua5.4",
                                               "/luajit -joff", "/C -O2")
    print(head)
    print("-" * len(head))
    missed_plain, missed_fused, missed_hand = [], [], []
    lua = ("lua5.4",)
    for name, label, _, _, _ in WORKLOADS:
        first = True
        for prog, _ in PROGRAMS:
            for fused in (True, False):
                ours = ("ours", prog, fused)
                cells = [fmt_ratio(round_ratios(seconds, name, ours, (o,))) for o in OTHERS]
                print("%-13s %-11s %-9s %18s %18s %18s" % (
                    label if first else "", prog, "on" if fused else "off", *cells))
                first = False
                to_lua = round_ratios(seconds, name, ours, lua)
                if not to_lua:
                    continue
                m = median(to_lua)
                if prog == "plain" and not fused and m > 1.0:
                    missed_plain.append(label)
                if prog == "plain" and fused and m > 0.5:
                    missed_fused.append(label)
                if prog == "hand-fused" and fused and m > 0.5:
                    missed_hand.append(label)
    print()
    # A native call's own cost, estimated as one iteration of the native loop less one of the
    # sum loop: both loops share the counter, the test and the accumulation.
    n_calls = [w for w in WORKLOADS if w[0] == "natives"][0][2][0]
    n_sum = [w for w in WORKLOADS if w[0] == "sum"][0][2][0]
    cost_rts = [("ours", "plain", True), ("ours", "plain", False)] + [(o,) for o in OTHERS]
    per_call, call_cost = {}, {}
    for rt in cost_rts:
        nat, loop = seconds.get(("natives", rt)), seconds.get(("sum", rt))
        per_call[rt] = median(nat) * 1e9 / n_calls if nat else None
        if nat and loop:
            call_cost[rt] = per_call[rt] - median(loop) * 1e9 / n_sum

    def ns(v):
        return "%.1f" % v if v is not None else "n/a"

    def short(rt):
        return rt[0] if rt[0] != "ours" else "ours plain " + ("on" if rt[2] else "off")

    print("ns per native-loop iteration:          " +
          ", ".join("%s %s" % (short(rt), ns(per_call.get(rt))) for rt in cost_rts))
    print("ns per native call (less a sum step):  " +
          ", ".join("%s %s" % (short(rt), ns(call_cost.get(rt))) for rt in cost_rts))
    if all(seconds.get((w[0], lua)) for w in WORKLOADS):
        def verdict(missed):
            return "met" if not missed else "missed on " + ", ".join(missed)
        print("target plain, fusion off <= 1.0 x lua5.4 on every workload: %s" % verdict(missed_plain))
        print("target plain, fusion on  <= 0.5 x lua5.4 on every workload: %s" % verdict(missed_fused))
        print("       hand-fused, on    <= 0.5 x lua5.4 on every workload: %s" % verdict(missed_hand))
    else:
        print("targets against lua5.4: not judged, lua5.4 results are missing")
    ours_call = call_cost.get(("ours", "plain", True))
    if ours_call is not None and "lua5.4" in [r[0] for r in call_cost]:
        print("target native call at or below lua5.4's C call: %s" %
              ("met" if ours_call <= call_cost[lua] else "missed"))

    print()
    if shutil.which("valgrind") is None:
        print("callgrind: valgrind not found, instruction counts skipped")
    else:
        print("callgrind, ours (plain programs): instructions executed inside vm_Exec (natives included)")
        print("%-14s %-20s %-7s %14s %16s" % ("workload", "size", "fusion", "Ir", "Ir per unit"))
        with tempfile.TemporaryDirectory(prefix="vm_compare_") as tmp:
            for name, label, _, cg_args, unit in WORKLOADS:
                for fused in (True, False):
                    cmd = command(("ours", "plain", fused), name, cg_args, opts)
                    try:
                        ir = callgrind_ir(cmd, tmp)
                    except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                        failures.append("callgrind %s: %s" % (label, e))
                        continue
                    size = " ".join(str(a) for a in cg_args)
                    print("%-14s %-20s %-7s %14d %11.1f/%s" % (
                        name, size, "on" if fused else "off", ir, ir / units(name, cg_args), unit))
        print("(sieve: every pass also clears the script's fixed 1e7-cell array, about 1e7 Ir of it)")

    if failures:
        print()
        for f in failures:
            print("FAILED: " + f)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
