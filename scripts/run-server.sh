#!/usr/bin/env bash
# Starts velt-server from a release build in ./run, on the ready default configuration.
# First run: copies server/default-config/server.cfg to run/server.cfg with a generated
# remote-console password, and assembles the shipped gamemodes, filterscripts and npcmodes; makes
# the demo bot's recording and puts velt-npc where ConnectNPC looks for it (beside the server's
# working directory's files).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build/release}" 2>/dev/null && pwd || true)
server="$build/server/velt-server"
vmasm="$build/tools/vmasm/vmasm"
if [[ -z "$build" || ! -x "$server" ]]; then
  echo "velt-server is not built yet: run 'make run', which builds it first." >&2
  exit 1
fi

mkdir -p "$root/run"
cd "$root/run"
mkdir -p gamemodes filterscripts scriptfiles npcmodes/recordings

if [[ ! -f server.cfg ]]; then
  password=$(od -An -tx1 -N12 /dev/urandom | tr -d ' \n')
  {
    cat "$root/server/default-config/server.cfg"
    echo "rcon_password $password"
  } > server.cfg
  chmod 600 server.cfg
  echo "Created run/server.cfg; the remote-console password is on its rcon_password line."
fi

# The shipped scripts, assembled when missing or older than their source (an update, an edit);
# an operator's own .vmb files under other names are never touched.
for kind in gamemodes filterscripts npcmodes; do
  for src in "$root/server/default-config/$kind"/*.vasm; do
    out="$kind/$(basename "${src%.vasm}").vmb"
    if [[ ( ! -f "$out" || "$src" -nt "$out" ) && -x "$vmasm" ]]; then
      "$vmasm" -o "$out" "$src"
    fi
  done
done

# The demo bot's walk, written again when its generator changes.
recording=npcmodes/recordings/demo_walk.rec
generator="$root/scripts/make-demo-recording.py"
if [[ -f "$generator" && ( ! -f "$recording" || "$generator" -nt "$recording" ) ]]; then
  python3 "$generator" "$recording"
fi
# Scripts start bots as ./velt-npc from here: follow the build's copy.
if [[ -x "$build/npc/velt-npc" ]]; then
  ln -sfn "$build/npc/velt-npc" velt-npc
fi

exec "$server"
