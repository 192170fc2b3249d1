#!/usr/bin/env bash
# The public headers as applications compile them, every warning an error:
# the C headers (qarnplus/server.h, qarnplus/driver.h and what they include)
# as C89 and C11, qarnplus.h as C++11 to C++20; for Linux i386 (gcc -m32)
# and for Windows (i686-w64-mingw32), which is left out with a notice when
# its compiler is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
failures=0
strict=(-Wall -Wextra -pedantic -Werror -fsyntax-only -Iinclude)

compile() {  # <what> <compiler and flags...>: compiles stdin
  local what=$1
  shift
  if ! out=$("$@" "${strict[@]}" - 2>&1); then
    echo "check-headers: $what does not compile warning-free:" >&2
    echo "$out" >&2
    failures=$((failures + 1))
  fi
}

check_platform() {  # <name> <C compiler...> -- <C++ compiler...>
  local name=$1 checked=0
  shift
  local cc=() cxx=()
  while [ "$1" != -- ]; do cc+=("$1"); shift; done
  shift
  cxx=("$@")
  for std in c89 c11; do
    for header in qarnplus/server.h qarnplus/driver.h; do
      printf '#include <%s>\nint main(void) { return 0; }\n' "$header" |
        compile "$header as $std ($name)" "${cc[@]}" -std="$std" -x c
      checked=$((checked + 1))
    done
  done
  for std in c++11 c++14 c++17 c++20; do
    printf '#include <qarnplus.h>\nint main() { return 0; }\n' |
      compile "qarnplus.h as $std ($name)" "${cxx[@]}" -std="$std" -x c++
    checked=$((checked + 1))
  done
  echo "check-headers: $name: $checked compilations"
}

check_platform "Linux i386" gcc -m32 -- g++ -m32
if command -v i686-w64-mingw32-gcc >/dev/null && command -v i686-w64-mingw32-g++ >/dev/null; then
  check_platform Windows i686-w64-mingw32-gcc -- i686-w64-mingw32-g++
else
  echo "check-headers: i686-w64-mingw32 compilers not found: Windows not checked"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-headers: FAILED ($failures compilations)" >&2
  exit 1
fi
