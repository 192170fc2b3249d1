#!/usr/bin/env bash
# Builds the OS layer's contract test for the Win32 back end as the shipped
# i686 product is built (preset win32-i686-tests) and runs it under 32-bit
# Wine through scripts/wine32.sh, in a Wine prefix of its own that it stops
# afterwards.
# Installs the toolchain and Wine first when they are missing. Exits non-zero
# when the build fails, a check fails, or the program hangs or crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source-path=SCRIPTDIR source=wine32/emulation.sh
source scripts/wine32/emulation.sh

if [ ! -x /usr/lib/wine/wine ] || ! command -v i686-w64-mingw32-g++ >/dev/null || qarn_i386_emulated; then
  bash scripts/setup.sh --wine  # under the emulator it also keeps the preload library current
fi

cmake --preset win32-i686-tests >/dev/null
cmake --build --preset win32-i686-tests --target os_contract_test

export QARN_WINE32_PREFIX="$PWD/build/win32-i686-tests/wine32-prefix"
trap 'bash scripts/wine32.sh --stop' EXIT

# Into a file, not a pipe: a peer process left running must not keep the
# run waiting for the end of its output (the trap above ends it).
log=build/win32-i686-tests/wine-tests.log
set +e
timeout 300 bash scripts/wine32.sh build/win32-i686-tests/tests/os_contract_test.exe </dev/null >"$log" 2>&1
status=$?
set -e
cat "$log"
# The program exits 0 only when every test passed; gtest's summary line
# guards against a crash or hang that ends it otherwise.
if [ "$status" -ne 0 ] || ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$log"; then
  echo "wine-tests: FAILED (exit status $status)" >&2
  exit 1
fi
echo "wine-tests: passed"
