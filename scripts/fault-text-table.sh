# shellcheck shell=bash
# The DLL's string table against errors/fault_texts.inc: the 21 fault texts
# 2000-2020, language 1033 (9,1), nothing else. Sourced by the DLL checks,
# whose `fail` it calls for each difference.
#   qarn_check_fault_texts <dll>
qarn_check_fault_texts() {
  local resources table wanted id text found
  # windres turns the DLL's resources back into resource script text.
  resources=$(i686-w64-mingw32-windres -J coff -O rc -i "$1")
  table=$(awk '/^LANGUAGE/ { language = $0 } /^STRINGTABLE/ { inside = 1; next } /^END/ { inside = 0 }
    inside && /^ *[0-9]+, "/ { print language "|" $0 }' <<<"$resources" |
    sed -E 's/^LANGUAGE ([0-9]+), ([0-9]+)\| *([0-9]+), "(.*)"$/\1,\2|\3|\4/')
  # The expected texts, from the one list the resource is generated from.
  wanted=$(printf '#define QARN_FAULT_TEXT(id, code, text) FAULT_TEXT id|text\n#include "errors/fault_texts.inc"\n' |
    cpp -P -I. - | sed -n 's/^FAULT_TEXT \([0-9]*\)|"\(.*\)"$/\1|\2/p')
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
}
