#!/usr/bin/env bash
# Wall time of the whole test suite, as scripts/test.sh runs it (ctest with
# one job per core), against its target of 6 seconds on a quiet machine.
#
# The suite is built first (not timed), then run several times; prints the
# wall time and the processor time (user + system, which the load changes
# far less) of each run, the median, the load average before and after
# (a figure taken on a busy machine says little about a quiet one), and the
# slowest tests of the last run. Exits non-zero when the median misses the
# target or a run fails.
#
#   bench/suite.sh [--no-check] [--runs N] [--copies N] [--build-dir DIR]
#
#   --no-check   only report the time, always exit 0 unless a run fails
#   --runs N     timed runs of the suite (default 3)
#   --copies N   each run is N copies of the suite at once in the same build
#                directory (default 1), every one of which must pass: the
#                tests share no file, bus or lock that another run uses.
#                The target is for one copy; with more only failures count
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage="usage: bench/suite.sh [--no-check] [--runs N] [--copies N] [--build-dir DIR]"
check=1
runs=3
copies=1
build_dir="$root/build"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --no-check) check=0; shift ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --copies) copies="${2:?--copies needs a number}"; shift 2 ;;
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
for count in "$runs" "$copies"; do
  if ! [[ "$count" =~ ^[1-9][0-9]*$ ]]; then
    echo "suite.sh: --runs and --copies need a whole number of at least 1" >&2
    exit 2
  fi
done
[[ $copies -eq 1 ]] || check=0

target_seconds=6
bash "$root/scripts/deps.sh" test
echo "== building"
bash "$root/scripts/build.sh" "$build_dir"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
# Seconds of processor time this shell's ended children have used so far
# (`times` run here, not in the subshell of a command substitution).
cpu_now() {
  times >"$work/times"
  awk 'NR == 2 { gsub(/s/, ""); split($1, u, "m"); split($2, s, "m"); printf "%.2f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' \
    "$work/times" >"$work/cpu"
}
echo "== load average before: $(load)"
times=()
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s.%N)
  cpu_now
  cpu_start=$(<"$work/cpu")
  pids=()
  for ((c = 1; c <= copies; c++)); do
    (cd "$build_dir" && ctest --parallel "$(nproc)" >"$work/ctest-$c.log" 2>&1) &
    pids+=("$!")
  done
  failed=0
  for ((c = 1; c <= copies; c++)); do
    if ! wait "${pids[c - 1]}"; then
      tail -n 30 "$work/ctest-$c.log" >&2
      echo "suite.sh: run $i of the suite failed (copy $c of $copies)" >&2
      failed=1
    fi
  done
  [[ $failed -eq 0 ]] || exit 1
  end=$(date +%s.%N)
  cpu_now
  times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')")
  echo "run $i: ${times[-1]} s, processor $(awk -v s="$cpu_start" -v e="$(<"$work/cpu")" 'BEGIN { printf "%.2f", e - s }') s" \
    "(user + system, $copies cop$([[ $copies -eq 1 ]] && echo y || echo ies))"
done
echo "== load average after: $(load)"

median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "== slowest tests of the last run (seconds)"
sed -nE 's/^.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/p' "$work/ctest-1.log" | sort -rn | head -n 10
echo
printf 'suite: median %s s over %d runs of %d cop%s on %d cores, target under %d s for one\n' "$median" "$runs" \
  "$copies" "$([[ $copies -eq 1 ]] && echo y || echo ies)" "$(nproc)" "$target_seconds"
if awk -v m="$median" -v t="$target_seconds" 'BEGIN { exit !(m >= t) }'; then
  echo "missed: the suite's median wall time ${median} s, target under ${target_seconds} s"
  [[ $check -eq 1 ]] && exit 1
fi
exit 0
