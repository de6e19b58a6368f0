"""Checks the transport's MT19937 against Python's own Mersenne Twister.

The state is built with the transport's seeding rule (seed made odd; state[0] = seed | 1, each
following word the previous one times 69069 mod 2**32) and loaded into Python's generator with
setstate and an index of 624, so that its first draw regenerates the whole state, as the
transport's does after seeding. Twist and tempering then come from Python, not from our code.

Usage: random_check.py <random_dump program>
"""

import random
import struct
import subprocess
import sys

SEEDS = [4357, 4356, 0, 1, 0xFFFFFFFF, 12345, 0x80000000]


def transport_state(seed):
    x = (seed | 1) & 0xFFFFFFFF
    state = [x]
    for _ in range(623):
        x = (x * 69069) & 0xFFFFFFFF
        state.append(x)
    return state


def python_draws(state, count):
    generator = random.Random()
    generator.setstate((3, tuple(state) + (624,), None))
    return [generator.getrandbits(32) for _ in range(count)]


def reference_state(seed):
    """The reference generator's own seeding, only to prove that the setstate route works."""
    state = [seed & 0xFFFFFFFF]
    for i in range(1, 624):
        previous = state[-1]
        state.append((1812433253 * (previous ^ (previous >> 30)) + i) & 0xFFFFFFFF)
    return state


def float_bits(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


def main():
    # Known first output of the reference generator seeded with 5489.
    if python_draws(reference_state(5489), 1)[0] != 3499211612:
        print("oracle self-check failed: setstate route does not reproduce the reference")
        return 1

    output = subprocess.run([sys.argv[1]] + [str(s) for s in SEEDS], check=True,
                            capture_output=True, text=True).stdout
    lines = [line.split() for line in output.splitlines() if line.strip()]
    failures = 0

    def compare(what, got, expected):
        nonlocal failures
        if got != expected:
            first = next(i for i, (g, e) in enumerate(zip(got, expected)) if g != e) \
                if len(got) == len(expected) else min(len(got), len(expected))
            print(f"FAIL {what}: first difference at draw {first}")
            failures += 1
        else:
            print(f"ok   {what}: {len(got)} draws")

    by_seed = {}
    for fields in lines:
        label, seed, values = fields[0], int(fields[1]), [int(v) for v in fields[2:]]
        if label == "unseeded":
            compare("never seeded behaves as seed 4357", values,
                    python_draws(transport_state(4357), len(values)))
        elif label == "seed":
            by_seed[seed] = values
            compare(f"seed {seed}", values, python_draws(transport_state(seed), len(values)))
        elif label == "uniform":
            expected = [float_bits(v * 2.0 ** -32)
                        for v in python_draws(transport_state(seed), len(values))]
            compare(f"uniform floats, seed {seed}", values, expected)
        else:
            print(f"FAIL unexpected line {label}")
            failures += 1

    if by_seed.get(4356) != by_seed.get(4357) or 4356 not in by_seed:
        print("FAIL seeds 4356 and 4357 differ")
        failures += 1
    if len(by_seed) != len(SEEDS):
        print(f"FAIL expected {len(SEEDS)} seeded runs, got {len(by_seed)}")
        failures += 1

    checks = len(SEEDS) + 4
    print(f"{checks - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
