#!/usr/bin/env bash
# Checks the shipped Windows DLL (preset win32-i686): a 32-bit x86 DLL whose
# export table lists every exported function and class member of the
# interface, and whose string table holds the 21 fault texts under the
# identifiers 2000 to 2020, language 1033, exactly as errors/fault_texts.inc
# has them.
#   scripts/check-dll.sh [path/to/qarnplus.dll]   (default: build/win32-i686)
set -euo pipefail
cd "$(dirname "$0")/.."
dll=${1:-build/win32-i686/qarnplus.dll}
tools=i686-w64-mingw32
failures=0
fail() { echo "check-dll: $*" >&2; failures=$((failures + 1)); }

[ -f "$dll" ] || { echo "check-dll: $dll not found; build the win32-i686 preset first" >&2; exit 1; }
file "$dll" | grep -q "PE32 executable (DLL).*Intel 80386" || fail "$dll is not a 32-bit x86 DLL: $(file -b "$dll")"

# ---- Export table -----------------------------------------------------------

# Exported names, demangled; a stdcall suffix (@12) is not part of the name.
exports=$("$tools-objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' |
  sed 's/@[0-9]*$//' | "$tools-c++filt" -n | sort -u)

# The interface (scripts/interface-names.sh), as the export table names it.
# shellcheck source-path=SCRIPTDIR source=interface-names.sh
source scripts/interface-names.sh
expected=$(qarn_interface_names "$tools-g++") || fail "the interface's names could not be listed"

checked=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  checked=$((checked + 1))
  grep -qxF -- "$name" <<<"$exports" || fail "not exported: $name"
done <<<"$expected"
echo "check-dll: $checked exported names checked"

# ---- String table -------------------------------------------------------------

# windres turns the DLL's resources back into resource script text.
resources=$("$tools-windres" -J coff -O rc -i "$dll")
table=$(awk '/^LANGUAGE/ { language = $0 } /^STRINGTABLE/ { inside = 1; next } /^END/ { inside = 0 }
  inside && /^ *[0-9]+, "/ { print language "|" $0 }' <<<"$resources" |
  sed -E 's/^LANGUAGE ([0-9]+), ([0-9]+)\| *([0-9]+), "(.*)"$/\1,\2|\3|\4/')
# The expected texts, from the one list the resource is generated from.
wanted=$(printf '#define QARN_FAULT_TEXT(id, code, text) FAULT_TEXT id|text\n#include "errors/fault_texts.inc"\n' |
  "$tools-g++" -E -P -I. -x c++ - | sed -n 's/^FAULT_TEXT \([0-9]*\)|"\(.*\)"$/\1|\2/p')
[ "$(wc -l <<<"$wanted")" -eq 21 ] || fail "errors/fault_texts.inc does not hold 21 texts"
for id in $(seq 2000 2020); do
  text=$(grep "^$id|" <<<"$wanted" | cut -d'|' -f2-)
  found=$(grep "|$id|" <<<"$table" || true)
  if [ -z "$found" ]; then
    fail "string $id missing from the string table"
  elif [ "$found" != "9,1|$id|$text" ]; then
    fail "string $id differs: got '$found', want language 9,1 (1033) and '$text'"
  fi
done
[ "$(grep -c . <<<"$table")" -eq 21 ] || fail "the string table holds $(grep -c . <<<"$table") strings, not 21"

if [ "$failures" -ne 0 ]; then
  echo "check-dll: FAILED ($failures problems)" >&2
  exit 1
fi
echo "check-dll: $dll passed (exports and the 21 fault texts)"
