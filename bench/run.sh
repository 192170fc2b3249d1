#!/usr/bin/env bash
# Builds the benchmarks of the linux-i386 preset, runs every bench/*_bench
# program and writes a Markdown table of each figure beside its raw baseline
# to stdout and to <build dir>/bench.md. Build and benchmark progress goes to
# stderr. QARN_BENCH_BUILD_DIR builds somewhere else than build/linux-i386.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=linux-i386
build=${QARN_BENCH_BUILD_DIR:-$root/build/$preset}
cd "$root"

targets=()
for source in bench/*_bench.cpp; do targets+=("$(basename "$source" .cpp)"); done

echo "== configuring $build" >&2
if [ -n "${QARN_BENCH_BUILD_DIR:-}" ]; then
  cmake --preset "$preset" -B "$build" >&2
  build_args=("$build" -j2)
else
  cmake --preset "$preset" >&2
  build_args=(--preset "$preset")
fi
# One target at a time: a benchmark that does not build is left out of the
# table instead of stopping the others.
built=()
for target in "${targets[@]}"; do
  echo "== building $target" >&2
  if cmake --build "${build_args[@]}" --target "$target" >&2; then
    built+=("$target")
  else
    echo "== $target did not build; its figures are missing" >&2
  fi
done

# How this machine runs i386 programs: a binfmt_misc entry for i386 ELF files
# takes precedence over the kernel's own loader.
i386_runner() {
  case "$(uname -m)" in i?86) echo "natively"; return ;; esac
  if grep -qx enabled /proc/sys/fs/binfmt_misc/status 2>/dev/null; then
    for entry in /proc/sys/fs/binfmt_misc/*; do
      case "$(basename "$entry")" in register | status) continue ;; esac
      # ELF, 32-bit, little-endian, and machine 3 (i386) at byte 18.
      if grep -qx enabled "$entry" && grep -q '^magic 7f454c460101' "$entry" &&
        grep -q '^magic .\{36\}0300' "$entry"; then
        echo "through qemu-user ($(sed -n 's/^interpreter //p' "$entry"), binfmt_misc)"
        return
      fi
    done
  fi
  echo "natively (the $(uname -m) kernel's 32-bit support)"
}

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
machine="$(uname -m), ${cpu_model:-unknown CPU}, $(nproc) cores; i386 programs run $(i386_runner)"

results=()
for target in ${built[@]+"${built[@]}"}; do
  program=$build/bench/$target
  output=$build/bench/$target.json
  echo "== running $target" >&2
  if "$program" --benchmark_format=json >"$output"; then
    results+=("$output")
  else
    echo "== $target failed (exit $?); its figures are missing" >&2
  fi
done

revision=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
when="$(date -u '+%Y-%m-%d %H:%M UTC'), commit $revision"

python3 - "$machine" "$when" "$build/bench.md" ${results[@]+"${results[@]}"} <<'PYTHON'
import json
import re
import sys

machine, when, table_path, result_files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]

# Goals of the benchmarks that do not report their own "goal" counter:
# (comparison, bound) on the ratio.
GOALS = {"BlockCycle": ("<=", 1.15), "MaskedMerge": (">=", 0.5), "SysSettingPackage": ("<=", 1.2)}


def duration(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def goal_text(ratio, goal):
    if goal is None:
        return "—"
    comparison, bound = goal
    met = ratio <= bound if comparison == "<=" else ratio >= bound
    sign = "≤" if comparison == "<=" else "≥"
    return f"{sign} {bound:g} {'✓' if met else '✗'}"


def figure_name(run_name):
    parts = [p for p in run_name.split("/")
             if not re.fullmatch(r"real_time|min_time:.*|repeats:\d+|iterations:\d+", p)]
    return "/".join(parts)


def rows_of(b):
    name = figure_name(b.get("run_name", b["name"]))
    base = name.split("/")[0]
    own_goal = ("<=", b["goal"]) if "goal" in b else GOALS.get(base)
    if "library_ns" in b and "raw_ns" in b:
        label = name
        if "request_bytes" in b:
            label += f" ({b['request_bytes']:.0f} B → {b['reply_bytes']:.0f} B)"
        ratio = b.get("ratio", b["library_ns"] / b["raw_ns"])
        yield label, duration(b["library_ns"]), duration(b["raw_ns"]), ratio, own_goal
        if "server_ns" in b:
            yield (f"{name} less the server's own {duration(b['server_ns'])}",
                   duration(b["library_ns"] - b["server_ns"]), duration(b["raw_ns"]),
                   b["ratio_without_server"], None)
    if "merge_GBps" in b and "memcpy_GBps" in b:
        yield (f"{name} throughput", f"{b['merge_GBps']:.2f} GB/s", f"{b['memcpy_GBps']:.2f} GB/s",
               b["ratio"], own_goal)
    if "lookup_share" in b:
        yield (f"{name}: guarded lookup against a whole GetVersion round trip",
               duration(b["library_ns"]), duration(b["round_trip_ns"]), b["lookup_share"],
               ("<=", b["share_goal"]))
    if "load_cpu_ns" in b:
        yield ("client CPU / wall while LoadLibrary starts the server",
               f"{duration(b['load_cpu_ns'])} of {duration(b['load_wall_ns'])}",
               f"{duration(b['raw_cpu_ns'])} of {duration(b['raw_wall_ns'])}",
               b["cpu_share"], ("<=", b["cpu_goal"]))


lines = [f"Machine: {machine}", f"Run: {when}. Each figure and its baseline were measured interleaved "
         "in the same run; request and session times are medians.", "",
         "| figure | library | raw baseline | ratio | goal |", "|---|---|---|---|---|"]
for path in result_files:
    try:
        with open(path) as f:
            benchmarks = json.load(f).get("benchmarks", [])
    except (OSError, ValueError) as error:
        print(f"== {path}: {error}; its figures are missing", file=sys.stderr)
        continue
    for b in benchmarks:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        for figure, library, raw, ratio, goal in rows_of(b):
            lines.append(f"| {figure} | {library} | {raw} | {ratio:.2f} | {goal_text(ratio, goal)} |")

table = "\n".join(lines) + "\n"
with open(table_path, "w") as f:
    f.write(table)
sys.stdout.write(table)
PYTHON
