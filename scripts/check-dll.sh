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

# The interface: free functions, then each exported class with its members.
expected=$(cat <<'LIST'
f_QARNSVR_LoadLibrary
f_QARNSVR_FreeLibrary
f_QARNSVR_GetVersion
f_QARNDRV_Init
f_QARNDRV_Clean
f_QARNDRV_Invoke
f_QARNDRV_GetLastError
f_QARNDRV_FormatMessage
f_QARNDRV_Free
f_QARNDRV_GetTagNameByID
f_QARNDRV_GetTagIDByName
c_QARNPlus_Callback::Invoke(void*)
c_QARNPlus_Callback::RegGetDocPasswd(int ( stdcall*)(unsigned char*, unsigned int*, char const*))
c_QARNPlus_Callback::RegEnumSelectedText(int (*)(unsigned short, tagRECT, long))
c_QARNPlus_Callback::RegDspAbsentPhoto(bool (*)(void*, tagRECT*, unsigned long, char const*))
c_QARNPlus_Callback::GetDocPasswd(unsigned char*, unsigned int*, char const*)
c_QARNPlus_Callback::EnumSelectedText(unsigned short, tagRECT, long)
c_QARNPlus_Callback::DspAbsentPhoto(void*, tagRECT*, unsigned long, char const*)
c_QARNPlus_Callback::m_pCallback
c_QARNPlus_Callback::m_pfnGetDocPasswd
c_QARNPlus_Callback::m_pfnEnumSelectedText
c_QARNPlus_Callback::m_pfnDspAbsentPhoto
c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(void const*, unsigned long, bool, void*)
c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(char const*)
c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(void const*)
c_QARNPlus_Shrmem::~c_QARNPlus_Shrmem()
c_QARNPlus_Shrmem::operator=(c_QARNPlus_Shrmem const&)
c_QARNPlus_Shrmem::Flush()
c_QARNPlus_Shrmem::Local()
c_QARNPlus_Shrmem::Synch()
c_QARNPlus_Shrmem::Reuse(void const*, unsigned long, bool, void*)
c_QARNPlus_Shrmem::Remap(char const*)
c_QARNPlus_Shrmem::Remap(void const*)
c_QARNPlus_Legpack::c_QARNPlus_Legpack(SedApiPara*, unsigned long)
c_QARNPlus_Legpack::c_QARNPlus_Legpack(char const*, char const*)
c_QARNPlus_Legpack::c_QARNPlus_Legpack(USBPrinter*, bool)
c_QARNPlus_Legpack::~c_QARNPlus_Legpack()
c_QARNPlus_Legpack::operator=(c_QARNPlus_Legpack const&)
c_QARNPlus_Legpack::Local()
c_QARNPlus_FilterDef::c_QARNPlus_FilterDef(void*, _filter_def*)
c_QARNPlus_FilterDef::c_QARNPlus_FilterDef(c_QARNPlus_FilterDef const&)
c_QARNPlus_FilterDef::~c_QARNPlus_FilterDef()
c_QARNPlus_FilterDef::operator=(c_QARNPlus_FilterDef const&)
c_QARNPlus_FilterDef::GetName()
c_QARNPlus_FilterDef::Destroy(QARN_FilterEntry*)
vtable for c_QARNPlus_FilterDef
c_QARNPlus_FilterEntry::CreateInstance(void*, _filter_def* (*)())
c_QARNPlus_FilterEntry::c_QARNPlus_FilterEntry(void*, _filter_def* (*)())
c_QARNPlus_FilterEntry::c_QARNPlus_FilterEntry(c_QARNPlus_FilterEntry const&)
c_QARNPlus_FilterEntry::~c_QARNPlus_FilterEntry()
c_QARNPlus_FilterEntry::operator=(c_QARNPlus_FilterEntry const&)
c_QARNPlus_FilterEntry::Create()
vtable for c_QARNPlus_FilterEntry
c_QARNPlus_Exception::c_QARNPlus_Exception(_EXCEPTION_POINTERS*)
c_QARNPlus_Exception::c_QARNPlus_Exception(char const*, unsigned int, char const*)
c_QARNPlus_Exception::~c_QARNPlus_Exception()
c_QARNPlus_Exception::operator char const*() const
c_QARNPlus_Exception::operator=(c_QARNPlus_Exception const&)
c_QARNPlus_Exception::Initialize()
c_QARNPlus_Exception::Deinitialize()
c_QARNPlus_Exception::Translator(unsigned int, _EXCEPTION_POINTERS*)
LIST
)
# The package's two members per record type come from the one record list.
record_members=$(printf '#include "qarnplus/record_list.h"\n#define M(T) LEGPACK_RECORD T\nQARN_RECORD_TYPES(M)\n' |
  "$tools-g++" -E -P -Iinclude -x c++ - | tr ' ' '\n' | sed -n '/^LEGPACK_RECORD$/{n;p}' |
  sed 's/.*/c_QARNPlus_Legpack::Local2Share(&*)\nc_QARNPlus_Legpack::Share2Local(&*)/')
[ -n "$record_members" ] || fail "no record types found in include/qarnplus/record_list.h"

checked=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  checked=$((checked + 1))
  grep -qxF -- "$name" <<<"$exports" || fail "not exported: $name"
done <<<"$expected
$record_members"
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
