#!/usr/bin/env bash
# Starts velt-server from a release build on the ready default configuration in run/.
set -euo pipefail
build=${1:-build/release}
server="$build/server/velt-server"
if [[ ! -x "$server" ]]; then
  echo "velt-server is not built yet: the transport and script libraries are built and tested by 'make test'."
  exit 0
fi
mkdir -p run
cd run
exec "../$server"
