# shellcheck shell=bash
# The exported interface, one demangled name a line: the free functions and
# class members of scripts/interface-names.txt, and the package's two members
# per record type from the one record list. Sourced by the export checks.
#   qarn_interface_names <g++ of the target>
qarn_interface_names() {
  local members
  # shellcheck disable=SC2016 # the preprocessor, not the shell, expands these
  members=$(printf '#include "qarnplus/record_list.h"\n#define M(T) LEGPACK_RECORD T\nQARN_RECORD_TYPES(M)\n' |
    "$1" -E -P -Iinclude -x c++ - | tr ' ' '\n' | sed -n '/^LEGPACK_RECORD$/{n;p}' |
    sed 's/.*/c_QARNPlus_Legpack::Local2Share(&*)\nc_QARNPlus_Legpack::Share2Local(&*)/')
  [ -n "$members" ] || { echo "no record types found in include/qarnplus/record_list.h" >&2; return 1; }
  grep -v '^$' scripts/interface-names.txt
  echo "$members"
}
