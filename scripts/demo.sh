#!/usr/bin/env bash
# Sets the machine up (if needed), builds qarn and qarn_svr (linux-i386) and
# runs the demo: the qarn client against the bundled stand-in server. Each step says
# what it does, so that a first run (packages to install, everything to build)
# is never minutes of silence.
set -euo pipefail
cd "$(dirname "$0")/.."
step() { echo "== $*"; }
indent() { sed -u 's/^/   /'; }

step "set-up: scripts/setup.sh (installs the toolchains on a fresh machine)"
bash scripts/setup.sh 2>&1 | indent
step "configuring build/linux-i386"
cmake --preset linux-i386 >/dev/null
step "building qarn and qarn_svr (a minute or two the first time)"
cmake --build --preset linux-i386 --target qarn qarn_svr | sed -nu 's/^\(\[ *[0-9]*%\].*\)/   \1/p'
step "running: build/linux-i386/tools/qarn demo $*"
exec build/linux-i386/tools/qarn demo "$@"
