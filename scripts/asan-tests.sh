#!/usr/bin/env bash
# Builds the library, the stand-in server and the whole test suite with
# AddressSanitizer and UndefinedBehaviorSanitizer (preset linux-i386-asan:
# clang, i386) and runs the tests. The servers and peers that the tests start
# are sanitized too: every process writes its reports under
# build/linux-i386-asan/sanitizer-reports/, and a report of a memory error or
# of undefined behaviour fails the run, even when the test that started the
# process passed. Reports of a signal (SEGV, FPE, ILL, BUS, stack overflow)
# do not count by themselves: the fault-translation tests fault on purpose,
# and an unintended crash fails its test anyway.
#
# LeakSanitizer stays off: under the qemu-user emulator that runs i386
# programs on these machines it cannot stop the world, and a program with
# leak checking never exits. Leaks of blocks, sockets and processes are
# checked by the tests themselves; heap leaks by the fuzzers' own counting.
#
#   scripts/asan-tests.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=native-address-space.sh
source scripts/native-address-space.sh
build=build/linux-i386-asan
start=$(date +%s)

bash scripts/setup.sh --fuzz
cmake --preset linux-i386-asan >/dev/null
cmake --build --preset linux-i386-asan
built=$(date +%s)

reports="$(pwd)/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"

shm_before=$(ls /dev/shm | grep '^qarn\.' | sort || true)
status=0
ctest --preset linux-i386-asan -j2 "$@" || status=$?
shm_after=$(ls /dev/shm | grep '^qarn\.' | sort || true)

signals="ERROR: AddressSanitizer: (SEGV|FPE|ILL|BUS|stack-overflow) "
for report in "$reports"/*; do
  [ -e "$report" ] || continue
  if ! grep -qE "ERROR: |runtime error:" "$report"; then
    # A throw from the fault translator's alternate stack makes AddressSanitizer
    # warn that it cannot tell the stack's bounds; a warning alone is no finding.
    echo "warning (not counted): $(basename "$report"): $(head -1 "$report")"
    continue
  fi
  if ! grep -q "runtime error:" "$report" && grep -m1 "ERROR: " "$report" | grep -qE "$signals"; then
    echo "signal report (not counted): $(basename "$report"): $(grep -m1 -oE "$signals" "$report")"
    continue
  fi
  echo "--- sanitizer report $report"
  cat "$report"
  status=1
done
new_blocks=$(comm -13 <(echo "$shm_before") <(echo "$shm_after") | grep . || true)
if [ -n "$new_blocks" ]; then
  # On a shared machine other people's runs may own them; in CI only ours run.
  echo "shared blocks that appeared in /dev/shm during the tests:"
  echo "$new_blocks"
  [ -n "${CI:-}" ] && status=1
fi
echo "asan tests: build $((built - start)) s, total $(( $(date +%s) - start )) s, exit $status"
exit "$status"
