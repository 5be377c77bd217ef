#!/usr/bin/env bash
# Builds the libFuzzer targets with AddressSanitizer and UndefinedBehavior-
# Sanitizer and runs each for a while on a scratch copy of its seed corpus.
#
#   scripts/fuzz.sh [seconds] [target...]
#
#   seconds   time per target (default 60)
#   target    a fuzz/<target>.cpp, e.g. mailer_fuzz (default: all of them)
#
# Fails when a target finds a crash, a leak, undefined behaviour or a
# timeout; the reproducer is left in build-fuzz/findings/<target>/. The
# committed seed corpora in fuzz/corpus/ are never written to.
# FUZZ_JOBS (default 1, at most the number of cores) runs that many fuzzing
# processes per target side by side; FUZZ_RUNS, when set, also stops each
# process after that many executions.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$root/build-fuzz"

seconds="${1:-60}"
[[ $# -gt 0 ]] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -eq 0 ]]; then
  echo "usage: scripts/fuzz.sh [seconds] [target...]" >&2
  exit 2
fi
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
jobs="${FUZZ_JOBS:-1}"
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: FUZZ_JOBS must be a whole number of at least 1" >&2
  exit 2
fi

# The seed corpus of each target: fuzz/corpus/<name> for fuzz/<name>_fuzz.cpp.
corpus_of() {
  local name="${1%_fuzz}"
  if [[ "$1" != *_fuzz || ! -f "$root/fuzz/$1.cpp" || ! -d "$root/fuzz/corpus/$name" ]]; then
    echo "fuzz.sh: unknown target '$1'" >&2
    exit 2
  fi
  echo "$root/fuzz/corpus/$name"
}
for target in "${targets[@]}"; do corpus_of "$target" >/dev/null; done

bash "$root/scripts/deps.sh" fuzz
echo "== building the fuzz targets in $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DSUPPORT_DRAFT_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target "${targets[@]}"

# Leaks count as findings, and the first report of undefined behaviour ends
# the run (the fuzz build does not make those checks fatal by itself).
# Each exception clears the shadow of the stack in use; above 64 KiB the
# runtime does that with mmap and madvise, which for a script erring at
# every level of a deep recursion took twice the processor time of a memset.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:clear_shadow_mmap_threshold=16777216${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

failed=()
summary=()
for target in "${targets[@]}"; do
  work="$build_dir/corpus-work/$target"
  findings="$build_dir/findings/$target"
  log_dir="$build_dir/logs/$target"
  rm -rf "$work" "$log_dir"
  mkdir -p "$work" "$findings" "$log_dir"
  cp -R "$(corpus_of "$target")/." "$work/"

  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  [[ -n "${FUZZ_RUNS:-}" ]] && options+=(-runs="$FUZZ_RUNS")
  if [[ "$jobs" -gt 1 ]]; then
    # Each worker writes its own fuzz-<n>.log in the current directory.
    options+=(-jobs="$jobs" -workers="$jobs")
  fi

  echo "== $target: ${seconds}s on a copy of $(corpus_of "$target")"
  status=0
  (cd "$log_dir" && "$build_dir/$target" "${options[@]}" "$work" >"$log_dir/main.log" 2>&1) || status=$?

  # Executions: the final stats line of each fuzzing process.
  runs=$(cat "$log_dir"/*.log | sed -n 's/^stat::number_of_executed_units: *//p' | awk '{s += $1} END {print s + 0}')
  if [[ $status -ne 0 ]] || grep -qE '^(==[0-9]+==ERROR|SUMMARY: |.*runtime error:)' "$log_dir"/*.log; then
    failed+=("$target")
    summary+=("$(printf '%-22s %12s  FAILED (logs: %s, reproducers: %s)' "$target" "$runs" "$log_dir" "$findings")")
    grep -hE 'ERROR|runtime error|SUMMARY|Test unit written' "$log_dir"/*.log | head -n 20 || true
  else
    summary+=("$(printf '%-22s %12s  clean' "$target" "$runs")")
  fi
done

echo "== executions per target"
printf '%s\n' "${summary[@]}"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
