#!/usr/bin/env bash
# Checks the Microsoft-ABI DLL (preset win32-msvc):
#  - a 32-bit x86 DLL whose export table is exactly msvc/qarnplus.exports
#    (internal qarn:: helpers aside), and whose plain C names are those of the
#    MinGW DLL when that one is built too;
#  - it imports only system DLLs and the Visual C++ runtime, no MinGW runtime;
#  - it has a SafeSEH table that lists the C++ frame handler thunks;
#  - its string table holds the 21 fault texts, identifiers 2000 to 2020.
#   scripts/check-msvc-dll.sh [msvc.dll] [mingw.dll]
set -euo pipefail
cd "$(dirname "$0")/.."
dll=${1:-build/win32-msvc/qarnplus.dll}
mingw_dll=${2:-build/win32-i686/qarnplus.dll}
llvm=/usr/lib/llvm-19/bin
failures=0
fail() { echo "check-msvc-dll: $*" >&2; failures=$((failures + 1)); }

[ -f "$dll" ] || { echo "check-msvc-dll: $dll not found; build the win32-msvc preset first" >&2; exit 1; }
file "$dll" | grep -q "PE32 executable (DLL).*Intel 80386" || fail "$dll is not a 32-bit x86 DLL: $(file -b "$dll")"

# ---- Exports -------------------------------------------------------------------
raw=$("$llvm/llvm-readobj" --coff-exports "$dll" | sed -n 's/^ *Name: //p')
c_names=$(grep -v '^?' <<<"$raw" | sort)
members=$(grep '^?' <<<"$raw" | "$llvm/llvm-undname" 2>/dev/null | grep -v -e '^?' -e '^$' | grep -v 'qarn::' | sort || true)
actual=$(printf '%s\n%s\n' "$c_names" "$members" | sort)
expected=$(grep -v '^#' msvc/qarnplus.exports | sort)
if [ "$actual" != "$expected" ]; then
  fail "the export table differs from msvc/qarnplus.exports (< missing, > unexpected):"
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' >&2 || true
fi
echo "check-msvc-dll: $(grep -c . <<<"$actual") exported names compared"
if [ -f "$mingw_dll" ]; then
  mingw_c=$("$llvm/llvm-readobj" --coff-exports "$mingw_dll" | sed -n 's/^ *Name: //p' | grep -v '^_Z' | sed 's/@[0-9]*$//' | sort -u)
  if [ "$mingw_c" != "$c_names" ]; then
    fail "the C names differ from the MinGW DLL's:"
    diff <(echo "$mingw_c") <(echo "$c_names") >&2 || true
  else
    echo "check-msvc-dll: the $(grep -c . <<<"$c_names") C names equal the MinGW DLL's"
  fi
fi

# ---- Imports -------------------------------------------------------------------
allowed='^(kernel32|advapi32|user32|ntdll|vcruntime140|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
imports=$("$llvm/llvm-readobj" --coff-imports "$dll" | sed -n 's/^ *Name: \(.*\.dll\)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)
while IFS= read -r imported; do
  [[ "$imported" =~ $allowed ]] || fail "imports $imported, which is neither a system DLL nor the Visual C++ runtime"
done <<<"$imports"
grep -qx vcruntime140.dll <<<"$imports" || fail "does not import vcruntime140.dll: its exceptions are not the Visual C++ runtime's"
echo "check-msvc-dll: imports $(tr '\n' ' ' <<<"$imports")"

# ---- SafeSEH -------------------------------------------------------------------
config=$("$llvm/llvm-readobj" --coff-load-config "$dll")
count=$(sed -n 's/^ *SEHandlerCount: //p' <<<"$config")
[ -n "$count" ] && [ "$count" -gt 0 ] || fail "no SafeSEH table (SEHandlerCount '${count:-absent}')"
grep -q 'IMAGE_DLL_CHARACTERISTICS_NO_SEH' <<<"$("$llvm/llvm-readobj" --file-headers "$dll")" &&
  fail "marked NO_SEH, yet C++ exceptions need its frame handlers"
echo "check-msvc-dll: SafeSEH table with ${count:-0} handlers"

# ---- String table --------------------------------------------------------------
# shellcheck source-path=SCRIPTDIR source=fault-text-table.sh
source scripts/fault-text-table.sh
qarn_check_fault_texts "$dll"

if [ "$failures" -ne 0 ]; then
  echo "check-msvc-dll: FAILED ($failures problems)" >&2
  exit 1
fi
echo "check-msvc-dll: $dll passed (exports, imports, SafeSEH, the 21 fault texts)"
