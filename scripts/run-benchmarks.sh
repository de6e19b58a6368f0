#!/usr/bin/env bash
# Runs every benchmark program of a bench build and prints its table.
set -euo pipefail
build=${1:-build/bench}
shopt -s nullglob
found=0
for b in "$build"/bench/bench_*; do
  [[ -x "$b" && -f "$b" ]] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[[ $found -eq 1 ]] || echo "no benchmarks built"
