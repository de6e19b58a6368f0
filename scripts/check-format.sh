#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it (`make format` fixes it).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
[[ ${#files[@]} -eq 0 ]] && exit 0
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/velt-format.$$; then
    grep -E '^[^ ].*: (error|warning):' /tmp/velt-format.$$ | cut -d: -f1 | sort -u | sed 's/^/unformatted: /' >&2
    rm -f /tmp/velt-format.$$
    echo "check-format: run 'make format'" >&2
    exit 1
fi
rm -f /tmp/velt-format.$$
