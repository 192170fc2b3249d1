#!/usr/bin/env bash
# Sets the machine up (if needed), builds the linux-i386 target and runs the
# demo: the qarn client against the bundled stand-in server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset linux-i386 >/dev/null
cmake --build --preset linux-i386 --target qarn qarn_svr >/dev/null
exec build/linux-i386/tools/qarn demo "$@"
