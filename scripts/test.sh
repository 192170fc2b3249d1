#!/usr/bin/env bash
# Sets the machine up (if needed), builds the linux-i386 target and runs the
# tests. Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=native-address-space.sh
source scripts/native-address-space.sh
bash scripts/setup.sh
cmake --preset linux-i386 >/dev/null
cmake --build --preset linux-i386
ctest --preset linux-i386 "$@"
