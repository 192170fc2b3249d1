#!/usr/bin/env bash
# Installs the win32-i686 build to a fresh prefix, moves the prefix, and uses
# it under 32-bit Wine as a Windows user would, with nothing copied into it:
#   - bin/qarn.exe demo: programs, DLL and MinGW runtime must all be in bin/;
#   - the tour in examples/consumer/, built with the MinGW compilers through
#     the CMake package;
#   - tests/windows/c_client.c, built by the C compiler against the C headers
#     and an import library made from lib/qarnplus.def, as another toolchain
#     would make its own;
#   - tests/windows/throw_client.cpp: faults in the program and a system code
#     thrown by a DLL constructor must reach the program's own handlers;
#   - a program that finds no DLL must say which one is missing (Wine's
#     loader message), not only exit with 53;
#   - tests/windows/misuse_client.cpp: a freed handle, a call from a callback
#     on the waiting session, launch values that do not fit, a suspended server
#   - tests/windows/threads_consumer/: std::thread threads with a session
#     each, built with the package's own toolchain file (the posix thread
#     model) and run from the DLLs that qarnplus_copy_runtime() put beside it.
# The other programs built here run with the package's bin/ on the DLL search
# path, as a Windows user would put it on PATH.
# Usage: scripts/windows-package-test.sh [BUILD_DIR]   (default build/win32-i686, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32-i686}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "windows-package-test: $*" >&2; exit 1; }
wine32() { bash scripts/wine32.sh "$@" </dev/null 2>&1 | tr -d '\r'; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

out=$(wine32 "$prefix/bin/qarn.exe" demo) || fail "installed qarn.exe demo failed: $out"
grep -q "^freeing the session$" <<<"$out" || fail "installed qarn.exe demo stopped early: $out"
echo "windows-package-test: installed qarn.exe demo: ok"

bin_dir="Z:${prefix//\//\\}\\bin"   # the package's bin/ as Wine names it
export WINEPATH=$bin_dir

toolchain=$prefix/lib/cmake/qarnplus/win32-i686.cmake
[ -f "$toolchain" ] || fail "the package has no toolchain file"
cmake -S examples/consumer -B "$work/consumer" --toolchain "$toolchain" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/log" 2>&1 || { cat "$work/log"; fail "consumer: configure failed"; }
cmake --build "$work/consumer" >"$work/log" 2>&1 || { cat "$work/log"; fail "consumer: build failed"; }
out=$(wine32 "$work/consumer/tour.exe") || fail "consumer tour.exe failed: $out"
grep -q "the server's message: \"[^\"]" <<<"$out" || fail "consumer tour.exe: $out"
echo "windows-package-test: MinGW consumer through the CMake package: ok"

i686-w64-mingw32-dlltool -d "$prefix/lib/qarnplus.def" -D qarnplus.dll -l "$work/from-def.a" \
  || fail "no import library from qarnplus.def"
i686-w64-mingw32-gcc -std=c99 -Wall -Werror -o "$work/c_client.exe" tests/windows/c_client.c \
  -I"$prefix/include" "$work/from-def.a" || fail "C client: build failed"
out=$(wine32 "$work/c_client.exe" "$bin_dir") || fail "C client failed: $out"
if ! grep -q '^version [1-9]' <<<"$out" || ! grep -q 'val="from C" name="echo"' <<<"$out"; then
  fail "C client: $out"
fi
echo "windows-package-test: C client through an import library made from qarnplus.def: ok"

i686-w64-mingw32-g++ -std=c++17 -O2 -fnon-call-exceptions -o "$work/throw_client.exe" \
  tests/windows/throw_client.cpp -I"$prefix/include" "$prefix/lib/libqarnplus.dll.a" \
  || fail "throw client: build failed"
text() { sed -n "s/^QARN_FAULT_TEXT([0-9]*, 0x$1, \"\(.*\)\")$/\1/Ip" errors/fault_texts.inc; }
expected="read: c0000005 $(text c0000005)
write: c0000005 $(text c0000005)
divide: c0000094 $(text c0000094)
open: system code 2"
out=$(wine32 "$work/throw_client.exe") || fail "throw client failed: $out"
diff <(echo "$expected") <(echo "$out") || fail "throw client: not every exception reached the program"
echo "windows-package-test: exceptions from the DLL caught in the program: ok"

i686-w64-mingw32-g++-posix -std=c++17 -O2 -o "$work/misuse_client.exe" tests/windows/misuse_client.cpp \
  -I"$prefix/include" "$prefix/lib/libqarnplus.dll.a" || fail "misuse client: build failed"
expected="stale handle: version -1, error 6, reused no, reached a later session no
nested: own -1 error 170, other answered, outer result 77 password 12345, after in step
launch long folder: refused, error 206
launch 32 digits: refused, error 87
launch quote: refused, error 87
launch long command line: refused, error 206
stopped server: FreeLibrary returned in bounds
reply timeout: -1 then -1"
out=$(wine32 "$work/misuse_client.exe" "$bin_dir") || fail "misuse client failed: $out"
diff <(echo "$expected") <(echo "$out") || fail "misuse client: a careless call was not refused as on Linux"
echo "windows-package-test: stale handles, nested calls, launch limits and a stopped server: ok"

# Nothing beside the program and nothing on WINEPATH: the loader must name
# the DLL it did not find.
status=0
out=$(WINEPATH= wine32 "$work/c_client.exe" "$bin_dir") || status=$?
[ "$status" = 53 ] || fail "a program without its DLL: exit $status, not 53: $out"
grep -qi "qarnplus.dll.*not found" <<<"$out" || fail "a program without its DLL said nothing about it: $out"
echo "windows-package-test: a missing DLL is named: ok"

cmake -S tests/windows/threads_consumer -B "$work/threads" --toolchain "$toolchain" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/log" 2>&1 || { cat "$work/log"; fail "threads: configure failed"; }
cmake --build "$work/threads" >"$work/log" 2>&1 || { cat "$work/log"; fail "threads: build failed"; }
[ -f "$work/threads/qarnplus.dll" ] || fail "qarnplus_copy_runtime put no qarnplus.dll beside the program"
out=$(WINEPATH= wine32 "$work/threads/threads_consumer.exe") || fail "threaded consumer failed: $out"
grep -q "^all threads done$" <<<"$out" || fail "threaded consumer: $out"
echo "windows-package-test: threaded consumer with the DLLs copied beside it: ok"
