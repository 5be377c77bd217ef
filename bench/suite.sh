#!/usr/bin/env bash
# Wall time of the whole test suite, as scripts/test.sh runs it (ctest with
# one job per core), against its target of 6 seconds on a quiet machine.
#
# The suite is built first (not timed), then run several times; prints the
# wall time of each run, the median, the load average before and after
# (a figure taken on a busy machine says little about a quiet one), and the
# slowest tests of the last run. Exits non-zero when the median misses the
# target or a run fails.
#
#   bench/suite.sh [--no-check] [--runs N] [--build-dir DIR]
#
#   --no-check   only report the time, always exit 0 unless a run fails
#   --runs N     timed runs of the suite (default 3)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

check=1
runs=3
build_dir="$root/build"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --no-check) check=0; shift ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; shift 2 ;;
    *) echo "usage: bench/suite.sh [--no-check] [--runs N] [--build-dir DIR]" >&2; exit 2 ;;
  esac
done
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
  echo "suite.sh: --runs needs a whole number of at least 1" >&2
  exit 2
fi

target_seconds=6
bash "$root/scripts/deps.sh" test
echo "== building"
bash "$root/scripts/build.sh" "$build_dir"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "== load average before: $(load)"
times=()
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s.%N)
  if ! (cd "$build_dir" && ctest --parallel "$(nproc)" >"$work/ctest.log" 2>&1); then
    tail -n 30 "$work/ctest.log" >&2
    echo "suite.sh: run $i of the suite failed" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')")
  echo "run $i: ${times[-1]} s"
done
echo "== load average after: $(load)"

median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "== slowest tests of the last run (seconds)"
sed -nE 's/^.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/p' "$work/ctest.log" | sort -rn | head -n 10
echo
printf 'suite: median %s s over %d runs on %d cores, target under %d s\n' "$median" "$runs" "$(nproc)" "$target_seconds"
if awk -v m="$median" -v t="$target_seconds" 'BEGIN { exit !(m >= t) }'; then
  echo "missed: the suite's median wall time ${median} s, target under ${target_seconds} s"
  [[ $check -eq 1 ]] && exit 1
fi
exit 0
