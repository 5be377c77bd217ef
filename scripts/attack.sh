#!/usr/bin/env bash
# Builds the program and runs the swap attack harness against it: the job's
# files and directories are swapped for links to a decoy, FIFOs and files of
# another user while the program runs, and every run is checked.
#
#   scripts/attack.sh [runs]               attack the built program (default 2000 runs)
#   scripts/attack.sh --self-check [runs]  attack a runner that follows every
#                                          link; passes only if the harness
#                                          catches it (default 40 runs)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

self_check=0
if [[ "${1:-}" == "--self-check" ]]; then
  self_check=1
  shift
fi
runs="${1:-}"
if [[ $# -gt 1 || ( -n "$runs" && ! "$runs" =~ ^[0-9]+$ ) ]]; then
  echo "usage: scripts/attack.sh [--self-check] [runs]" >&2
  exit 2
fi

bash "$root/scripts/build.sh" "$root/build"
harness="$root/build/attack_harness"

if [[ $self_check -eq 0 ]]; then
  exec "$harness" --runs "${runs:-2000}"
fi

# The careless runner blocks on a FIFO, so hangs are expected: a short
# timeout keeps the check quick. It reads through a link and writes through
# one, so both a leak and an outside change must be reported.
status=0
summary=$("$harness" --careless --runs "${runs:-40}" --timeout 2) || status=$?
printf '%s\n' "$summary"
leaks=$(sed -n 's/.* \([0-9]*\) leaks,.*/\1/p' <<<"$summary")
outside=$(sed -n 's/.* \([0-9]*\) outside changes,.*/\1/p' <<<"$summary")
if [[ $status -eq 1 && "${leaks:-0}" -gt 0 && "${outside:-0}" -gt 0 ]]; then
  echo "attack: self-check passed: the careless runner was caught"
  exit 0
fi
echo "attack: self-check FAILED: the careless runner was not caught (status $status)" >&2
exit 1
