#!/usr/bin/env bash
# Builds the benchmark programs (the "bench" preset: g++, Release, with the tool) and measures:
#   1. the in-process benchmarks (Google Benchmark; JSON in build/bench/results/benchmarks.json);
#   2. `wassetup plan` as a whole process against load_only, a process that only loads the
#      module, makes the plug-in and prints as many lines (hyperfine when installed, in rounds
#      that alternate the programs; else a timed loop), with stored settings and with a fresh
#      preference folder each run (the first save, flushed to disk);
#   3. the peak resident size of both (GNU time -v);
#   4. the instructions of `wassetup plan` on stored settings against the floor of any C++ tool
#      that loads a module and prints as many lines (callgrind, ../shared/perf-floor/measure.sh
#      beside the project; skipped when that folder is absent);
# then prints each figure beside its target. Not part of the test run.
#
# Usage: scripts/bench.sh [RUNS]   RUNS: process runs per measurement (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-300}

scripts/install-deps.sh time valgrind
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2

bin=build/bench/bin
out=build/bench/results
mkdir -p "$out"
prefs=$(mktemp -d "${TMPDIR:-/tmp}/qimbench-prefs.XXXXXX")
fresh="$prefs.fresh"
trap 'rm -rf "$prefs" "$fresh"' EXIT

section() { printf '\n==== %s ====\n' "$*"; }

section "Machine"
{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "nproc: $(nproc)"
  echo "cpu: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')"
  echo "memory: $(free -h | awk '/^Mem:/ {print $2}')"
  echo "compiler: $(g++ --version | head -n 1)"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$out/machine.txt"

section "In-process benchmarks"
"$bin/qim_benchmarks" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/benchmarks.json" --benchmark_out_format=json

section "wassetup plan as a process"
"$bin/wassetup" --prefs-dir "$prefs" plan >"$out/plan.txt"
lines=$(wc -l <"$out/plan.txt")
echo "wassetup plan prints $lines lines; load_only prints as many"
plan=("$bin/wassetup" --prefs-dir "$prefs" plan)
plan_fresh=("$bin/wassetup" --prefs-dir "$fresh" plan)
baseline=("$bin/load_only" "$lines")

# Mean wall time of one run in milliseconds, from a loop of $runs runs.
loop_mean_ms() {
  local start end
  start=$EPOCHREALTIME
  for ((run = 0; run < runs; run++)); do
    "$@" >/dev/null
  done
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" -v n="$runs" 'BEGIN { printf "%.3f\n", (e - s) * 1000 / n }'
}

if command -v hyperfine >/dev/null; then
  # Rounds that alternate the programs, so that a change of load on the machine falls on both;
  # the figure is the median over the rounds of the difference of the rounds' medians.
  rounds=5
  per_round=$(((runs + rounds - 1) / rounds))
  for ((round = 1; round <= rounds; round++)); do
    hyperfine -N --warmup 10 --runs "$per_round" --export-json "$out/process-$round.json" \
      -n "wassetup plan (stored settings)" --prepare true "${plan[*]}" \
      -n "load_only $lines" --prepare true "${baseline[*]}" \
      -n "wassetup plan (fresh folder)" --prepare "rm -rf $fresh" "${plan_fresh[*]}" \
      --style none
  done
  read -r plan_ms baseline_ms fresh_ms extra_ms extra_fresh_ms < <(python3 - "$out" "$rounds" <<'PY'
import json, statistics, sys
out, rounds = sys.argv[1], int(sys.argv[2])
medians = [[statistics.median(r["times"]) * 1000 for r in json.load(open(f"{out}/process-{n}.json"))["results"]]
           for n in range(1, rounds + 1)]
pooled = lambda i: statistics.median(m[i] for m in medians)
extra = lambda i: statistics.median(m[i] - m[1] for m in medians)
print(f"{pooled(0):.3f} {pooled(1):.3f} {pooled(2):.3f} {extra(0):.3f} {extra(2):.3f}")
for n, m in enumerate(medians, 1):
    print(f"round {n}: plan {m[0]:.2f} ms, load_only {m[1]:.2f} ms, fresh folder {m[2]:.2f} ms",
          file=sys.stderr)
PY
  )
  echo "medians over $rounds rounds of $per_round runs: wassetup plan $plan_ms ms," \
    "load_only $baseline_ms ms, wassetup plan in a fresh folder $fresh_ms ms"
else
  echo "hyperfine is not installed (apt-get install hyperfine); timing a loop of $runs runs"
  loop_mean_ms "${baseline[@]}" >/dev/null # warm the caches
  plan_ms=$(loop_mean_ms "${plan[@]}")
  baseline_ms=$(loop_mean_ms "${baseline[@]}")
  fresh_ms=$(
    start=$EPOCHREALTIME
    for ((run = 0; run < runs; run++)); do
      rm -rf "$fresh"
      "${plan_fresh[@]}" >/dev/null
    done
    awk -v s="$start" -v e="$EPOCHREALTIME" -v n="$runs" 'BEGIN { printf "%.3f\n", (e - s) * 1000 / n }'
  )
  extra_ms=$(awk -v a="$plan_ms" -v b="$baseline_ms" 'BEGIN { printf "%.3f", a - b }')
  extra_fresh_ms=$(awk -v a="$fresh_ms" -v b="$baseline_ms" 'BEGIN { printf "%.3f", a - b }')
  echo "means: wassetup plan $plan_ms ms, load_only $baseline_ms ms," \
    "wassetup plan in a fresh folder (with the folder's removal) $fresh_ms ms"
fi

section "Peak resident size (GNU time -v, largest of 10 runs)"
peak_kib() {
  local peak=0 kib
  for ((run = 0; run < 10; run++)); do
    kib=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}')
    ((kib > peak)) && peak=$kib
  done
  echo "$peak"
}
plan_kib=$(peak_kib "${plan[@]}")
baseline_kib=$(peak_kib "${baseline[@]}")
echo "wassetup plan: $plan_kib KiB; load_only: $baseline_kib KiB"

section "Instructions against the floor (callgrind)"
# The floor is a C++ process that dlopens a one-function module and prints fourteen lines;
# callgrind counts are exact, so the ratio does not depend on the machine's load.
floor_script=../shared/perf-floor/measure.sh
ratio=""
if [[ -x "$floor_script" ]]; then
  if floor_line=$("$floor_script" "$PWD/$bin/wassetup" 2>/dev/null); then
    echo "$floor_line" | tee "$out/floor.txt"
    ratio=$(sed -n 's/.*ratio \([0-9.]*\);.*/\1/p' <<<"$floor_line")
  else
    echo "$floor_script failed: the ratio is skipped"
  fi
else
  echo "$floor_script is absent (the floor lives beside the project): the ratio is skipped"
fi

section "Against the targets"
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v < t ? "met" : "MISSED") }'; }
verdict_at_most() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
in_process_us=$(python3 -c "
import json, sys
for b in json.load(open(sys.argv[1]))['benchmarks']:
    if b['name'] == 'BM_WholePlan_SaveStubbed_median':
        print('%.1f' % (b['real_time'] / 1000 if b['time_unit'] == 'ns' else b['real_time']))
" "$out/benchmarks.json")
peak_mib=$(awk -v k="$plan_kib" 'BEGIN { printf "%.2f", k / 1024 }')
{
  echo "whole plan in process, save stubbed (median): $in_process_us us (target < 100 us): $(verdict "$in_process_us" 100)"
  echo "wassetup plan beyond load_only, stored settings: $extra_ms ms (target < 3 ms): $(verdict "$extra_ms" 3)"
  echo "wassetup plan beyond load_only, fresh folder: $extra_fresh_ms ms (target < 3 ms): $(verdict "$extra_fresh_ms" 3)"
  echo "peak resident size of wassetup plan: $peak_mib MiB (target < 10 MiB): $(verdict "$peak_mib" 10)"
  if [[ -n "$ratio" ]]; then
    echo "wassetup plan instructions against the floor: ratio $ratio (target <= 1.6): $(verdict_at_most "$ratio" 1.6)"
  else
    echo "wassetup plan instructions against the floor: skipped (no ../shared/perf-floor)"
  fi
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$out/summary.txt"
