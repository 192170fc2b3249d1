#!/usr/bin/env bash
# Writes a Microsoft-format import library for one of Wine's i386 DLLs.
# Wine's own import libraries are GNU archives without the C++-mangled names
# and without SafeSEH-compatible members; llvm-dlltool -k makes short-format
# ones that lld-link accepts with /safeseh. The C names, with their stdcall
# decoration, come from Wine's GNU import library; the C++ names from the
# DLL's export table.
#   make_import_lib.sh LLVM_BIN WINE_LIB_DIR DLL OUT.lib [EXCLUDE.def]
# Names listed in EXCLUDE.def are left out: the C++ runtime entries that
# ucrtbase also exports must come from vcruntime140, whose per-thread state
# holds the translator.
set -euo pipefail
llvm=$1 wine=$2 dll=$3 out=$4 exclude=${5:-}
def=${out%.lib}.def
{
  echo "LIBRARY $dll.dll"
  echo "EXPORTS"
  # An import stub (I __imp__name) with code beside it (T _name) is a
  # function; without code it is data.
  "$llvm/llvm-nm" "$wine/lib$dll.a" 2>/dev/null | awk '
    $2 == "T" { code[$3] = 1 }
    $2 == "I" && $3 ~ /^__imp__/ { imported[substr($3, 8)] = 1 }
    END { for (name in imported) if (name !~ /^@/) print "  " name (("_" name) in code ? "" : " DATA") }' | sort
  # Mangled names: variables and vftables (…@@<digit>…) are data.
  "$llvm/llvm-readobj" --coff-exports "$wine/$dll.dll" | sed -n 's/^ *Name: \(?.*\)$/\1/p' |
    awk '{ print "  " $0 (match($0, /@@[0-9]/) ? " DATA" : "") }' | sort
} >"$def.all"
if [ -n "$exclude" ]; then
  awk 'NR == FNR { if ($0 ~ /^  /) skip[$1] = 1; next } !($0 ~ /^  /) || !($1 in skip)' "$exclude" "$def.all" >"$def"
  rm "$def.all"
else
  mv "$def.all" "$def"
fi
grep -q '^  ' "$def" || { echo "make_import_lib: no exports found for $dll" >&2; exit 1; }
"$llvm/llvm-dlltool" -m i386 -k -D "$dll.dll" -d "$def" -l "$out"
