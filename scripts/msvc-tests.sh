#!/usr/bin/env bash
# Builds and checks the Microsoft-ABI DLL (preset win32-msvc) under 32-bit
# Wine, next to the MinGW build (preset win32-i686) whose server it starts:
#   1. scripts/check-msvc-dll.sh: exports (C names as the MinGW DLL's),
#      imports, SafeSEH, string table;
#   2. tests/msvc/abi_test.cpp built the Microsoft way: classes, exceptions
#      and the translator; then the same program built with MinGW against the
#      MinGW DLL, whose written-back records must be byte for byte the same;
#   3. the tour built both ways, outputs compared byte for byte;
#   4. the installed package: a consumer built with find_package(qarnplus)
#      and cmake/win32-msvc.cmake runs the tour.
# Needs scripts/setup.sh --wine --msvc. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
pass() { echo "msvc-tests: $*: ok"; passed=$((passed + 1)); }
fail() { echo "msvc-tests: $*" >&2; echo "$passed passed, 1 failed"; exit 1; }
# An unhandled fault would start winedbg, which hangs: every run is bounded.
wine32() { timeout 300 bash scripts/wine32.sh "$@" </dev/null 2>&1 | tr -d '\r'; }

cmake --preset win32-i686 >/dev/null
cmake --build --preset win32-i686 >"$work/log" 2>&1 || { tail -30 "$work/log"; fail "win32-i686 build failed"; }
cmake --preset win32-msvc >/dev/null
cmake --build --preset win32-msvc >"$work/log" 2>&1 || { tail -30 "$work/log"; fail "win32-msvc build failed"; }
build=build/win32-msvc
server_dir=$PWD/build/win32-i686/server

bash scripts/check-msvc-dll.sh "$build/qarnplus.dll" build/win32-i686/qarnplus.dll || fail "check-msvc-dll failed"
pass "DLL exports, imports, SafeSEH and string table"

out=$(wine32 "$build/tests/msvc/msvc_abi_test.exe" "$server_dir") || { echo "$out"; fail "Microsoft-built abi_test failed"; }
grep -q '^0 failed$' <<<"$out" || { echo "$out"; fail "abi_test did not finish"; }
echo "$out" | grep '^ok: ' | sed 's/^/  /'
pass "Microsoft-built abi_test ($(grep -c '^ok: ' <<<"$out") checks)"

# The same program with MinGW against the MinGW DLL: the records that come
# back from the server are the same bytes.
mkdir "$work/mingw"
cp build/win32-i686/qarnplus.dll build/win32-i686/*.dll "$work/mingw/" 2>/dev/null || true
cp build/win32-i686/server/*.dll "$work/mingw/"
i686-w64-mingw32-g++ -std=c++17 -O2 -fnon-call-exceptions -Iinclude -o "$work/mingw/abi_test.exe" \
  tests/msvc/abi_test.cpp build/win32-i686/libqarnplus.dll.a || fail "MinGW abi_test build failed"
mingw_out=$(wine32 "$work/mingw/abi_test.exe" "$server_dir") || { echo "$mingw_out"; fail "MinGW-built abi_test failed"; }
diff <(grep '^dump ' <<<"$mingw_out") <(grep '^dump ' <<<"$out") || fail "written-back records differ between the two DLLs"
pass "written-back records equal to the MinGW DLL's ($(grep -c '^dump ' <<<"$out") dumps)"

mingw_tour=$(wine32 build/win32-i686/examples/tour.exe "$server_dir") || fail "MinGW tour failed"
msvc_tour=$(wine32 "$build/tour.exe" "$server_dir") || fail "Microsoft-built tour failed"
diff <(echo "$mingw_tour") <(echo "$msvc_tour") || fail "the tours' outputs differ"
grep -q "the server's message: \"[^\"]" <<<"$msvc_tour" || fail "the Microsoft-built tour stopped early: $msvc_tour"
pass "tour built both ways, outputs byte for byte equal"

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"
cmake -S examples/consumer -B "$work/consumer" --toolchain "$PWD/cmake/win32-msvc.cmake" \
  -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/log" 2>&1 || { cat "$work/log"; fail "consumer: configure failed"; }
cmake --build "$work/consumer" >"$work/log" 2>&1 || { cat "$work/log"; fail "consumer: build failed"; }
out=$(WINEPATH="Z:${work//\//\\}\\prefix\\bin" wine32 "$work/consumer/tour.exe") || fail "consumer tour failed: $out"
diff <(echo "$msvc_tour") <(echo "$out") || fail "the consumer's tour differs from the build tree's"
pass "consumer through the installed CMake package"

echo "$passed passed, 0 failed"
