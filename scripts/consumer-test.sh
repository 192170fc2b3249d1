#!/usr/bin/env bash
# Installs the linux-i386 build to a fresh prefix, moves the prefix (the tree
# must not depend on where it was installed), and builds the tour in
# examples/consumer/ against it as a user would: with find_package, with
# pkg-config from CMake, and with g++ and pkg-config by hand, and builds the
# qarn client against it alone. Each program must
# find the installed server through what the package says and run. A 64-bit
# project must be told in words that it has to be 32-bit.
# Usage: scripts/consumer-test.sh [BUILD_DIR]   (default build/linux-i386, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-i386}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "consumer-test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

check_tour() {  # NAME PROGRAM
  local out
  out=$(env -i PATH="$PATH" "$2" 2>&1) || fail "$1: the tour failed: $out"
  grep -q "^server version [1-9]" <<<"$out" || fail "$1: no server version in: $out"
  grep -q "the server's message: \"[^\"]" <<<"$out" || fail "$1: no document call result in: $out"
  echo "consumer-test: $1: ok"
}

out=$(env -i PATH="$PATH" "$prefix/bin/qarn" demo 2>&1) || fail "installed qarn demo: $out"
grep -q "^server version: [1-9]" <<<"$out" || fail "installed qarn demo: $out"
echo "consumer-test: installed qarn demo: ok"

for way in find_package pkg-config; do
  dir=$work/build-$way
  use_pkg_config=OFF
  [[ $way == pkg-config ]] && use_pkg_config=ON
  cmake -S examples/consumer -B "$dir" -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_PREFIX_PATH="$prefix" \
    -DUSE_PKG_CONFIG=$use_pkg_config >"$work/log" 2>&1 \
    || { cat "$work/log"; fail "$way: configure failed"; }
  cmake --build "$dir" >"$work/log" 2>&1 || { cat "$work/log"; fail "$way: build failed"; }
  check_tour "$way" "$dir/tour"
done

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046 # pkg-config's words are separate arguments
g++ -o "$work/tour-by-hand" examples/consumer/tour.cpp $(pkg-config --cflags --libs qarnplus) \
  -Wl,-rpath,"$(pkg-config --variable=libdir qarnplus)" || fail "g++ with pkg-config failed"
out=$(env -i PATH="$PATH" "$work/tour-by-hand" "$(pkg-config --variable=serverdir qarnplus)" 2>&1) \
  || fail "g++ with pkg-config: the tour failed: $out"
grep -q "the server's message: \"[^\"]" <<<"$out" || fail "g++ with pkg-config: $out"
echo "consumer-test: g++ with pkg-config: ok"

# The client on its own against the installed package: it needs nothing of
# the library but the exported interface.
cmake -S tools -B "$work/build-qarn" -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_PREFIX_PATH="$prefix" >"$work/log" 2>&1 \
  || { cat "$work/log"; fail "qarn against the package: configure failed"; }
cmake --build "$work/build-qarn" -j2 >"$work/log" 2>&1 || { cat "$work/log"; fail "qarn against the package: build failed"; }
out=$(env -i PATH="$PATH" "$work/build-qarn/qarn" --server-dir "$prefix/bin" demo 2>&1) \
  || fail "qarn built against the package: $out"
grep -q "^server version: [1-9]" <<<"$out" || fail "qarn built against the package: $out"
echo "consumer-test: qarn built against the installed package alone: ok"

if cmake -S examples/consumer -B "$work/build-64" -DCMAKE_PREFIX_PATH="$prefix" >"$work/log" 2>&1; then
  fail "a 64-bit project accepted the package"
fi
grep -q "qarnplus is a 32-bit library" "$work/log" || { cat "$work/log"; fail "64-bit: no clear message"; }
echo "consumer-test: 64-bit project refused with: $(grep -m1 -o 'qarnplus is a 32-bit library[^.]*' "$work/log")"
