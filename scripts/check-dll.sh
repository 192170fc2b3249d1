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

# shellcheck source-path=SCRIPTDIR source=fault-text-table.sh
source scripts/fault-text-table.sh
qarn_check_fault_texts "$dll"

if [ "$failures" -ne 0 ]; then
  echo "check-dll: FAILED ($failures problems)" >&2
  exit 1
fi
echo "check-dll: $dll passed (exports and the 21 fault texts)"
