#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the fuzz preset) and runs each one for a short while on a copy
# of its seed corpus, so that nothing is written into the source tree.
#
# Exits non-zero when a harness finds a crash, a leak, a hang, undefined behaviour or a broken
# rule; the scratch folder with its log and the input that did it is then kept, and the command
# that replays the input is printed.
#
# Environment: FUZZ_SECONDS, the time each harness runs (20 by default); FUZZ_ARGS, more
# libFuzzer options for every harness (for instance "-jobs=2 -workers=2").
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
harnesses=(catalog_fuzzer preference_fuzzer plugin_fuzzer cli_fuzzer)
read -r -a extra_args <<<"${FUZZ_ARGS:-}"

start=$SECONDS
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
echo "fuzz build: $((SECONDS - start))s"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-smoke.XXXXXX")
keep=0
cleanup() {
  if [ "$keep" = 0 ]; then
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT

status=0
for harness in "${harnesses[@]}"; do
  work="$scratch/$harness"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  cp fuzz/corpus/"$harness"/* "$work/corpus/"
  started=$SECONDS
  # TMPDIR: what a harness writes (the plug-in's scratch installation) stays in the scratch
  # folder too. -timeout: an input that runs that long counts as a hang.
  if TMPDIR="$work/tmp" "build/fuzz/bin/$harness" "$work/corpus" \
    -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "${extra_args[@]}" >"$work/log" 2>&1; then
    runs=$(grep -o '^stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || true)
    coverage=$(grep -o 'DONE *cov: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || true)
    printf '%-18s ok      %6s runs in %3ss, %s edges, corpus %s -> %s inputs\n' "$harness" \
      "${runs:-?}" "$((SECONDS - started))" "${coverage:-?}" \
      "$(find fuzz/corpus/"$harness" -type f | wc -l)" "$(find "$work/corpus" -type f | wc -l)"
  else
    status=1
    keep=1
    printf '%-18s FAILED after %ss; the end of its log (%s):\n' "$harness" \
      "$((SECONDS - started))" "$work/log"
    tail -n 60 "$work/log"
    for artifact in "$work"/artifacts/*; do
      [ -e "$artifact" ] || continue
      echo "replay: build/fuzz/bin/$harness $artifact"
    done
  fi
done

if [ "$status" != 0 ]; then
  echo "fuzz smoke: FAILED (kept $scratch)"
else
  echo "fuzz smoke: all ${#harnesses[@]} harnesses ok in $((SECONDS - start))s"
fi
exit "$status"
