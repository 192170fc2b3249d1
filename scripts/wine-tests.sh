#!/usr/bin/env bash
# Builds the Win32 OS layer for x86-64 (preset win64-wine) and runs its test
# program under wine64, in a Wine prefix of its own inside the build folder.
# Installs the toolchain and Wine first when they are missing. Exits non-zero
# when the build fails, a check fails, or the program hangs or crashes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/win64-wine
program=$build/tests/wine/qarn_wine_test.exe

find_tool() {  # Debian keeps wine64 and wineserver outside PATH
  command -v "$1" 2>/dev/null || { [ -x "/usr/lib/wine/$1" ] && echo "/usr/lib/wine/$1"; } || true
}
if [ -z "$(find_tool wine64)" ] || ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  bash scripts/setup.sh --wine
fi
wine64=$(find_tool wine64)
wineserver=$(find_tool wineserver)
[ -n "$wine64" ] && [ -n "$wineserver" ] || { echo "wine-tests: wine64 not found" >&2; exit 1; }

cmake --preset win64-wine >/dev/null
cmake --build --preset win64-wine --target qarn_wine_test

export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installers when the prefix is first made.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# A fresh prefix is set up on the first start, which takes a while.
"$wine64" wineboot --init </dev/null >/dev/null 2>&1 || true
"$wineserver" -w

set +e
output=$(timeout 600 "$wine64" "$program" </dev/null 2>&1)
status=$?
set -e
printf '%s\n' "$output"
# The program itself exits 0 only when every check passed; the summary line
# guards against a crash that Wine reports as a clean exit.
if [ "$status" -ne 0 ] || ! grep -Eq '^[1-9][0-9]* passed, 0 failed' <<<"$output"; then
  echo "wine-tests: FAILED (exit status $status)" >&2
  exit 1
fi
echo "wine-tests: passed"
