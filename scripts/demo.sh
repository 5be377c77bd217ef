#!/usr/bin/env bash
# Plays the host for one real job, end to end: builds the bundle, prepares a
# job directory, runs the program, and shows the result document and the
# draft the mail composer received.
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
echo "== building"
bash "$root/scripts/build.sh" "$root/build"
program="$root/build/SupportDraft.app/Contents/MacOS/support-draft"
channel=$(sed -n 's:.*<string>\(dev\|prod\)</string>.*:\1:p' "$root/build/SupportDraft.app/Contents/Info.plist")
tool_dir=".vantrel-devtool"
[[ "$channel" == "dev" ]] && tool_dir=".vantrel-devtool-dev"

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

job_id=$(cat /proc/sys/kernel/random/uuid)
job_dir="$home/$tool_dir/support-drafts/$job_id"
echo "== preparing the job in $job_dir"
(umask 077 && mkdir -p "$job_dir")
chmod 0700 "$home/$tool_dir" "$home/$tool_dir/support-drafts" "$job_dir"
(
  umask 077
  cat >"$job_dir/job.json" <<'JSON'
{"subject":"Support Request - Quorvel Export stops at 99%","body":"Hello,\n\nthe export of \"Q3 report\" stops at 99% and the log says $(none).\nPaths like C:\\new\\table stay as typed. Grüße, François\n","attachLogs":true}
JSON
  printf '2026-12-07 10:00:00 export started\n2026-12-07 10:00:09 export stalled at 99%%\n' >"$job_dir/log.txt"
)
cat "$job_dir/job.json"

echo "== running: support-draft --job $job_id"
status=0
if [[ "$mode" == "--real" ]]; then
  "$program" --job "$job_id" || status=$?
else
  env -i PATH=/usr/bin:/bin HOME="$home" MAILER="$work/composer" DEMO_COMPOSER_LOG="$work/composer.log" \
    "$program" --job "$job_id" || status=$?
fi
echo "exit status: $status"

echo "== result.json"
if [[ -f "$job_dir/result.json" ]]; then
  cat "$job_dir/result.json"
  echo
  stat -c 'mode %a' "$job_dir/result.json"
else
  echo "(none)"
fi

if [[ "$mode" == "--real" ]]; then
  echo "== the draft should now be open in your mail client; the job directory is left in place:"
  echo "   $job_dir"
else
  echo "== what the composer received"
  cat "$work/composer.log" 2>/dev/null || echo "(nothing)"
fi
