#!/usr/bin/env bash
# Builds the libFuzzer programs (preset linux-i386-fuzz: clang, i386,
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs each one for a
# bounded time over a copy of its committed seed corpus in fuzz/corpus/, so
# that CI never grows the committed corpus. Prints each fuzzer's runs and
# corpus size; exits non-zero if any fuzzer finds a crash, a leak or a
# sanitizer report. A crashing input is kept in build/linux-i386-fuzz/crashes/.
#
#   scripts/fuzz.sh [fuzzer ...]      all fuzz/*_fuzz.cpp by default
#   FUZZ_SECONDS=60                   time per fuzzer
#   FUZZ_ROUND_SECONDS=20             longest run of one fuzzer process
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=native-address-space.sh
source scripts/native-address-space.sh
root=$(pwd)
seconds=${FUZZ_SECONDS:-60}
round=${FUZZ_ROUND_SECONDS:-20}
build=build/linux-i386-fuzz
start=$(date +%s)

bash scripts/setup.sh --fuzz
cmake --preset linux-i386-fuzz >/dev/null

if [ "$#" -gt 0 ]; then
  names=("$@")
else
  names=()
  for src in fuzz/*_fuzz.cpp; do names+=("$(basename "$src" .cpp)"); done
fi
cmake --build --preset linux-i386-fuzz --target "${names[@]}"
built=$(date +%s)

# The working corpora live on tmpfs: under the i386 emulator, listing a
# directory of an ext4 file system fails (its 64-bit directory offsets do
# not fit), and libFuzzer would silently start from an empty corpus.
work=$(mktemp -d /dev/shm/fuzzwork.XXXXXX)
# Every block and the pipe of the fuzzers carry names of this run only.
export QARN_NS="fuzz$$"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# LeakSanitizer cannot stop the world under the emulator (a program never
# exits); the fuzzers count heap, descriptors and blocks themselves. A small
# quarantine keeps the 32-bit address space from running out in long runs.
# No alternate signal stacks and no per-input alarm (-timeout beyond the
# run): under the emulator a signal taken there left the sanitizer with wrong
# stack bounds, and the next C++ throw tripped its internal check. A hang is
# still ended by `timeout`.
export ASAN_OPTIONS="detect_leaks=0:quarantine_size_mb=8:use_sigaltstack=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

fuzzer_pid=""
cleanup() {
  if [ -n "$fuzzer_pid" ] && kill -0 "$fuzzer_pid" 2>/dev/null; then
    kill "$fuzzer_pid" 2>/dev/null || true
    wait "$fuzzer_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  rm -f /dev/shm/"qarn.$QARN_NS."* 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$build/crashes"
failed=0
summary=()
for name in "${names[@]}"; do
  corpus="$work/$name"
  mkdir -p "$corpus" "$work/artifacts/$name"
  seeds=0
  if [ -d "fuzz/corpus/$name" ]; then
    cp fuzz/corpus/"$name"/* "$corpus"/
    seeds=$(find "$corpus" -type f | wc -l)
  fi
  log="$work/$name.log"
  echo "=== $name: ${seconds} s over $seeds seeds"
  t0=$(date +%s)
  # Rounds of at most $round seconds, each a fresh process over the same
  # growing corpus: under the emulator, mappings made and released again and
  # again creep up to the top of the address space, where the sanitizer's
  # shadow of them is the emulated stack (a false report after some 30000
  # inputs of the package fuzzer).
  runs=0
  status=0
  left=$seconds
  : >"$log"
  while [ "$left" -gt 0 ] && [ "$status" -eq 0 ]; do
    slice=$(( left < round ? left : round ))
    left=$(( left - slice ))
    set +e
    timeout --kill-after=10 $((slice + 120)) "$build/fuzz/$name" \
      -max_total_time="$slice" -rss_limit_mb=2048 -timeout=600 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/$name/" "$corpus" >"$log.round" 2>&1 &
    fuzzer_pid=$!
    wait "$fuzzer_pid"
    status=$?
    fuzzer_pid=""
    set -e
    cat "$log.round" >>"$log"
    round_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log.round" | tail -1)
    runs=$(( runs + ${round_runs:-0} ))
  done
  elapsed=$(( $(date +%s) - t0 ))
  speed=$(( runs / (elapsed > 0 ? elapsed : 1) ))
  size=$(find "$corpus" -type f | wc -l)
  line="$name: ${elapsed} s, $runs runs (~$speed/s), corpus $seeds -> $size inputs"
  if [ "$status" -ne 0 ] || grep -qE "ERROR: (Address|Undefined|libFuzzer)|runtime error:|^LEAK" "$log"; then
    failed=1
    line="$line, FAILED (exit $status)"
    grep -vE '^#[0-9]+' "$log" | tail -60
    mkdir -p "$build/crashes"
    cp "$work/artifacts/$name/"* "$build/crashes/" 2>/dev/null || true
  fi
  echo "$line"
  summary+=("$line")
done

leftover_blocks=$(ls /dev/shm | grep -c "^qarn\.$QARN_NS\." || true)
leftover_processes=$(pgrep -f "$root/$build/fuzz/" | wc -l || true)
echo
echo "=== fuzz summary (build $((built - start)) s, total $(( $(date +%s) - start )) s)"
printf '%s\n' "${summary[@]}"
if [ "$leftover_blocks" -ne 0 ] || [ "$leftover_processes" -ne 0 ]; then
  echo "left behind: $leftover_blocks shared blocks, $leftover_processes fuzzer processes"
  failed=1
fi
[ -d "$build/crashes" ] && [ "$failed" -ne 0 ] && echo "crashing inputs: $build/crashes/"
exit "$failed"
