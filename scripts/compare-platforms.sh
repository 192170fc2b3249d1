#!/usr/bin/env bash
# Runs the same qarn commands with the Linux build and with the Windows build
# (under 32-bit Wine), each against its own bundled qarn_svr, and fails on any
# difference in output or exit status: the help texts, the demo, the driver
# commands, a document call for every API code and the USB printer record.
#
#   scripts/compare-platforms.sh [LINUX_QARN WINDOWS_QARN_EXE]
#     without arguments: build/linux-i386/tools/qarn and
#     build/win32-i686/tools/qarn.exe, built first, and the tour programs too
#
# Only what names a place or an address in this run is masked, in both
# outputs alike:
#   - the folder the demo starts the server from         -> <folder>
#   - a record's block name in "> call N CODE", "> usb N" -> <block>
#     (the decimal value of the client's pointer to the record)
#   - the function address in "> callback KIND N ..."    -> <address>
#   - the server executable a failed start names          -> <server>
#     (qarn_svr<digits> or folder\qarn_svr<digits>.exe, by platform)
# and the carriage return that the Windows C runtime writes before each
# newline in text mode is removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ $# -ne 0 ] && [ $# -ne 2 ]; then
  sed -n '7,9p' "$0" >&2
  exit 2
fi
if [ $# -eq 0 ]; then
  cmake --preset linux-i386 >/dev/null
  cmake --build --preset linux-i386 --target qarn tour >/dev/null
  cmake --preset win32-i686 >/dev/null
  cmake --build --preset win32-i686 --target qarn tour >/dev/null
fi
linux_qarn=${1:-build/linux-i386/tools/qarn}
windows_qarn=${2:-build/win32-i686/tools/qarn.exe}
for program in "$linux_qarn" "$windows_qarn"; do
  [ -f "$program" ] || { echo "compare-platforms: $program not found" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# @BROKEN@ in a case: a folder whose server is there (under the platform's
# own name) but is no program.
mkdir "$work/broken-linux" "$work/broken-windows"
touch "$work/broken-linux/qarn_svr" "$work/broken-windows/qarn_svr.exe"

# One case per line: the exit status the Linux build must give, then qarn's
# arguments. "call CODE" for every API code is appended from the Linux
# program's own list, so a new record type is compared without editing this.
cases=(
  "0 --help"
  "0 call --help"
  "0 demo"
  "0 version"
  "0 invoke help"
  "0 invoke echo a  b &amp; <c>"
  "0 error"
  "0 error 6"
  "0 error 99"
  "0 tag 3"
  "0 tag seal"
  "1 tag 99"
  "0 filter 4"
  "0 filter 3"
  "2 filter 0"
  "0 invoke filters"
  "0 call usb"
  "0 call usb --nodes 0"
  "0 call usb --nodes 5"
  "0 call 222 --nodes 0"
  "0 call 222 --nodes 3"
  "0 call 8 u16@0=5 len@2=32"
  "0 call 8 null@2"
  "0 call 8 len@2=100000 @10=some-topic"
  "0 call 401 hex@0=0102030405 u32@8=4294967295"
  "0 call SAPPrint1 --nodes 64"
  "1 call 1006 len@18=0"
  "2 call 999999"
  "1 --suffix 7 version"
  "1 --server-dir @BROKEN@ version"
)
codes=$("$linux_qarn" call --help | sed -n '/^  API codes:/,$p' | grep -oE '(^| )[0-9]+ SAP' | grep -oE '[0-9]+')
[ "$(wc -l <<<"$codes")" -ge 50 ] || { echo "compare-platforms: API code list not found" >&2; exit 1; }
for code in $codes; do cases+=("0 call $code"); done

mask() {
  sed -E -e 's/\r$//' \
    -e 's/^(starting the server from ).*/\1<folder>/' \
    -e 's/^(> call )-?[0-9]+ /\1<block> /' \
    -e 's/^(> usb )-?[0-9]+$/\1<block>/' \
    -e 's/^(> callback [a-z]+ )[0-9]+ /\1<address> /' \
    -e 's/^(qarn: no server at |qarn: the server )[^ ]+ /\1<server> /'
}

# run OUTPUT_FILE PROGRAM [ARGS...]: stdout, then stderr, then the exit status.
run() {
  local out=$1 status=0
  shift
  "$@" >"$out.stdout" 2>"$out.stderr" </dev/null || status=$?
  { mask <"$out.stdout"; echo "--- stderr"; mask <"$out.stderr"; echo "--- exit $status"; } >"$out"
  rm -f "$out.stdout" "$out.stderr"
}

differences=0
# compare EXPECTED_STATUS LINUX_PROGRAM WINDOWS_PROGRAM [ARGS...]
compare() {
  local expected=$1 linux_program=$2 windows_program=$3
  shift 3
  local what
  what="$(basename "$linux_program") $*"
  run "$work/linux" timeout 60 "$linux_program" "${@//@BROKEN@/$work/broken-linux}"
  run "$work/windows" timeout 60 bash scripts/wine32.sh "$windows_program" "${@//@BROKEN@/$work/broken-windows}"
  if ! diff -u --label "linux: $what" --label "windows: $what" "$work/linux" "$work/windows"; then
    differences=$((differences + 1))
  elif [ "$(tail -n 1 "$work/linux")" != "--- exit $expected" ]; then
    # Both builds failing alike is no agreement worth having.
    echo "compare-platforms: $what: $(tail -n 1 "$work/linux"), expected $expected" >&2
    differences=$((differences + 1))
  fi
}

# The first Wine start may make the prefix and say so on stderr.
bash scripts/wine32.sh "$windows_qarn" version >/dev/null 2>&1 || true
compared=${#cases[@]}
for line in "${cases[@]}"; do
  read -r expected args <<<"$line"
  read -r -a argv <<<"$args"
  compare "$expected" "$linux_qarn" "$windows_qarn" "${argv[@]}"
done
if [ $# -eq 0 ]; then  # the README's tour program, built beside the defaults
  compare 0 build/linux-i386/examples/tour build/win32-i686/examples/tour.exe
  compared=$((compared + 1))
fi
echo "compare-platforms: $compared runs ($(wc -w <<<"$codes") API codes and the USB printer" \
  "among them), $differences with differences"
[ "$differences" -eq 0 ]
