#!/usr/bin/env bash
# Plays the host for one real job, end to end: builds the bundle, lets
# support-draft-host prepare the job and run the program, and shows the job
# directory, the result document and the draft the mail composer received.
#
#   scripts/demo.sh          a throwaway home and a stand-in composer that
#                            records the draft it was handed (works headless)
#   scripts/demo.sh --real   your own home and your desktop's mail client
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-}"
if [[ -n "$mode" && "$mode" != "--real" ]]; then
  echo "usage: scripts/demo.sh [--real]" >&2
  exit 2
fi

bash "$root/scripts/deps.sh" build
# Only what the demo runs: the bundle's three programs and support-draft-host.
# scripts/test.sh builds the rest (the tests) in the same build directory.
echo "== building"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target support-draft support-draft-portal support-draft-terminal support-draft-flatpak support-draft-desktop support-draft-watcher support-draft-host

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if [[ "$mode" == "--real" ]]; then
  home="$HOME"
else
  home="$work/home"
  mkdir -m 0700 "$home"
  # The stand-in composer: it gets the mailto: URI from the desktop's mail
  # hand-off, exactly as a mail client would, and writes out what it got.
  cat >"$work/composer" <<'COMPOSER'
#!/bin/bash
uri="$1"
field() { printf '%s\n' "$uri" | tr '?&' '\n\n' | sed -n "s/^$1=//p" | sed 's/%/\\x/g'; }
{
  printf 'URI:     %s\n' "$uri"
  printf 'Subject: %b\n' "$(field subject)"
  printf 'Attach:  %b\n' "$(field attach)"
  printf 'Body:\n%b\n' "$(field body)"
} >"$DEMO_COMPOSER_LOG"
COMPOSER
  chmod 0755 "$work/composer"
fi

# The job's texts, as a host would have them.
cat >"$work/body.txt" <<'BODY'
Hello,

the export of "Q3 report" stops at 99% and the log says $(none).
Paths like C:\new\table stay as typed. Grüße, François
BODY
printf '2026-12-07 10:00:00 export started\n2026-12-07 10:00:09 export stalled at 99%%\n' >"$work/app.log"

# support-draft-host prepares the job exactly as the program demands, runs
# the program and prints the outcome as one JSON line.
host_command=("$root/build/support-draft-host" --bundle "$root/build/SupportDraft.app"
  --subject "Support Request - Quorvel Export stops at 99%" --body-file "$work/body.txt" --log "$work/app.log")
echo "== running: support-draft-host --bundle build/SupportDraft.app --subject ... --body-file ... --log ..."
status=0
if [[ "$mode" == "--real" ]]; then
  outcome=$("${host_command[@]}") || status=$?
else
  outcome=$(env -i PATH=/usr/bin:/bin HOME="$home" MAILER="$work/composer" DEMO_COMPOSER_LOG="$work/composer.log" \
    "${host_command[@]}") || status=$?
fi
echo "$outcome"
echo "exit status: $status"
job_dir=$(printf '%s' "$outcome" | sed -n 's/.*"jobDirectory":"\([^"]*\)".*/\1/p')

echo "== the job directory"
if [[ -n "$job_dir" ]]; then
  ls -l "$job_dir"
  echo "== result.json"
  cat "$job_dir/result.json" 2>/dev/null || echo "(none)"
  echo
else
  echo "(none: the job was refused)"
fi

if [[ "$mode" == "--real" ]]; then
  echo "== the draft should now be open in your mail client; the job directory is left in place:"
  echo "   $job_dir"
else
  echo "== what the composer received"
  cat "$work/composer.log" 2>/dev/null || echo "(nothing)"
fi
