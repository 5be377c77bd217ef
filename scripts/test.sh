#!/usr/bin/env bash
# Builds the program and runs the whole test suite.
#   scripts/test.sh              plain build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" test

if [[ "${1:-}" == "--sanitize" ]]; then
  build_dir="$root/build-asan"
  bash "$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DSUPPORT_DRAFT_SANITIZE=ON
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  build_dir="$root/build"
  bash "$root/scripts/build.sh" "$build_dir"
fi
cd "$build_dir"
ctest --output-on-failure --parallel "$(nproc)"
