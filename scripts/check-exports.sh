#!/usr/bin/env bash
# Checks that libqarnplus.so exports the interface and nothing else: every
# name of scripts/interface-names.sh, plus the vtables and type information of
# the exported classes. Given the DLL too, checks that both export the same
# functions and data: C names identical, C++ members identical once demangled
# (both are GCC builds, so only the mangling scheme differs).
#   scripts/check-exports.sh [libqarnplus.so [qarnplus.dll]]
set -euo pipefail
cd "$(dirname "$0")/.."
so=${1:-build/linux-i386/libqarnplus.so}
dll=${2:-}
failures=0
fail() { echo "check-exports: $*" >&2; failures=$((failures + 1)); }

[ -f "$so" ] || { echo "check-exports: $so not found; build the linux-i386 preset first" >&2; exit 1; }
# shellcheck source-path=SCRIPTDIR source=interface-names.sh
source scripts/interface-names.sh
expected=$(qarn_interface_names g++)

# Demangled; constructors and destructors appear once for each variant.
so_names=$(nm -D --defined-only "$so" | awk '{ print $3 }' | c++filt | sort -u)
[ -n "$so_names" ] || fail "$so exports nothing"

# Class metadata: only of classes that the headers export.
exported_class() { grep -qE "^class QARNPLUS_API $1\b" include/qarnplus/*.h; }
while IFS= read -r name; do
  case "$name" in
    "typeinfo for "* | "typeinfo name for "* | "vtable for "*)
      exported_class "${name##* }" || fail "metadata of a class the headers do not export: $name" ;;
    *) grep -qxF -- "$name" <<<"$expected" || fail "exported but not part of the interface: $name" ;;
  esac
done <<<"$so_names"
while IFS= read -r name; do
  grep -qxF -- "$name" <<<"$so_names" || fail "not exported: $name"
done <<<"$expected"
[ "$failures" -ne 0 ] || echo "check-exports: $(grep -c . <<<"$so_names") names exported by $so, all of the interface"

if [ -n "$dll" ]; then
  [ -f "$dll" ] || { echo "check-exports: $dll not found; build the win32-i686 preset first" >&2; exit 1; }
  # Functions and data only: the class metadata of the two formats differ.
  code() { grep -vE '^(typeinfo|typeinfo name|vtable) for '; }
  # A stdcall suffix (@12) is not part of the name.
  dll_names=$(i686-w64-mingw32-objdump -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' | sed 's/@[0-9]*$//' |
    i686-w64-mingw32-c++filt -n | sort -u)
  if ! diff <(code <<<"$so_names") <(code <<<"$dll_names") >&2; then
    fail "the two libraries export different names (< only $so, > only $dll)"
  else
    echo "check-exports: $dll exports the same $(code <<<"$dll_names" | grep -c .) functions and data"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check-exports: FAILED ($failures problems)" >&2
  exit 1
fi
