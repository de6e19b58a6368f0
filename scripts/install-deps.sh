#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and (with --bench) the benchmarks need.
# Idempotent: asks apt only for what is missing, and refreshes the package lists once, only then.
set -euo pipefail

packages=(
  cmake ninja-build make g++ clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3 liblzma-dev libssl-dev python3 python3-aiosmtpd
  # The scripts' HTTP requests.
  libcurl4-openssl-dev
  # The scripted telnet session of the remote-console tests.
  telnet expect
  # Network namespaces with address translation for the punch-through test.
  iproute2 nftables
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(lua5.4 luajit valgrind libenet-dev liblua5.4-dev libluajit-5.1-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
