#!/usr/bin/env bash
# Start-up cost of the program, side by side with /bin/true as the floor:
#
#   rejected   support-draft with no arguments (the job is refused at once)
#   inspect    support-draft --inspect
#   job        support-draft --job <id>: a full accepted job whose mail draft
#              script runs /bin/true as its composer
#
# Prints wall time per run (mean and median over many runs, and the ratio
# of the median to the floor's), peak resident memory of each case, and the
# instruction count of one full job under callgrind. Exits non-zero when a
# target is missed: rejected and inspect within 1.5x the floor, the job
# within 3x, every case under 5 MiB peak.
#
#   bench/bench.sh [--no-check] [--runs N]
#
#   --no-check   only report, always exit 0 (unless the benchmark itself fails)
#   --runs N     timed runs per case (default 300)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

check=1
runs=300
while [[ $# -gt 0 ]]; do
  case "$1" in
    --no-check) check=0; shift ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    *) echo "usage: bench/bench.sh [--no-check] [--runs N]" >&2; exit 2 ;;
  esac
done
if ! [[ "$runs" =~ ^[0-9]+$ ]] || [[ "$runs" -lt 10 ]]; then
  echo "bench.sh: --runs needs a whole number of at least 10" >&2
  exit 2
fi

bash "$root/scripts/deps.sh" bench
echo "== building"
bash "$root/scripts/build.sh" "$root/build"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A throwaway bundle whose mail draft script hands the draft to /bin/true,
# so that the job measures the program and not a mail client.
bundle="$work/SupportDraft.app"
cp -R "$root/build/SupportDraft.app" "$bundle"
cat >"$bundle/Contents/Resources/support-mail.applescript" <<'SCRIPT'
on makeSupportDraft(subjectText, bodyText, logPath)
	run program {"/bin/true"}
	return "draft_opened"
end makeSupportDraft
SCRIPT
program="$bundle/Contents/MacOS/support-draft"

# A throwaway home with one job, laid out as a host would (see README).
channel=$(sed -n 's:.*<string>\(dev\|prod\)</string>.*:\1:p' "$bundle/Contents/Info.plist")
tool_dir=".vantrel-devtool"
[[ "$channel" == "dev" ]] && tool_dir=".vantrel-devtool-dev"
home="$work/home"
job_id=$(cat /proc/sys/kernel/random/uuid)
job_dir="$home/$tool_dir/support-drafts/$job_id"
(umask 077 && mkdir -p "$job_dir")
chmod 0700 "$home" "$home/$tool_dir" "$home/$tool_dir/support-drafts" "$job_dir"
(
  umask 077
  printf '%s' '{"subject":"Support Request - Quorvel Export stops at 99%","body":"Hello,\n\nthe export stops at 99% and the log says \"$(none)\".\nGrüße","attachLogs":true}' \
    >"$job_dir/job.json"
  printf '2026-12-07 10:00:00 export started\n' >"$job_dir/log.txt"
)

# Every case runs with the same small environment as a host would give it.
clean_env=(env -i PATH=/usr/bin:/bin HOME="$home")

# The job must really go through the draft script, or the figures are
# those of a failure path: checked before and after the timed runs.
require_job_success() {
  if ! python3 -c 'import json, sys; sys.exit(0 if json.load(open(sys.argv[1])) == {"ok": True} else 1)' \
      "$job_dir/result.json" 2>/dev/null; then
    echo "bench.sh: the job did not succeed; result.json: $(cat "$job_dir/result.json" 2>/dev/null || echo none)" >&2
    exit 1
  fi
}
rm -f "$job_dir/result.json"
"${clean_env[@]}" "$program" --job "$job_id"
require_job_success
if ! "${clean_env[@]}" "$program" --inspect |
    python3 -c 'import json, sys; sys.exit(0 if json.load(sys.stdin).get("argumentsRoundTrip") is True else 1)'; then
  echo "bench.sh: --inspect did not pass its self-check" >&2
  exit 1
fi

names=(floor rejected inspect job)
commands=("/bin/true" "$program" "$program --inspect" "$program --job $job_id")
targets=(- 1.5 1.5 3)

echo "== timing ${runs} runs per case"
rm -f "$job_dir/result.json"
# -N: no shell in between, so the floor is one exec of /bin/true.
"${clean_env[@]}" hyperfine -N --style basic --warmup 20 --runs "$runs" \
  --export-json "$work/times.json" "${commands[@]}" >"$work/hyperfine.log"
require_job_success  # what the last timed job left

# Peak resident memory (KiB): the largest of a few runs.
peak_kib() {
  local most=0 kib
  for _ in 1 2 3 4 5; do
    kib=$("${clean_env[@]}" /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
    [[ "$kib" -gt "$most" ]] && most="$kib"
  done
  echo "$most"
}
peaks=()
for command in "${commands[@]}"; do
  read -r -a argv <<<"$command"
  peaks+=("$(peak_kib "${argv[@]}")")
done

echo "== counting instructions of one job under callgrind"
"${clean_env[@]}" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
  "$program" --job "$job_id" 2>"$work/callgrind.log"
instructions=$(sed -n 's/^summary: *//p' "$work/callgrind.out")

# Mean and median per case in milliseconds, from hyperfine's export.
mapfile -t stats < <(python3 - "$work/times.json" <<'PY'
import json, sys
for result in json.load(open(sys.argv[1]))["results"]:
    print(f'{result["mean"] * 1000:.3f} {result["median"] * 1000:.3f}')
PY
)

memory_limit_kib=5120
failures=()
echo
printf '%-9s %10s %10s %8s %8s %10s\n' case "mean ms" "median ms" "x floor" target "peak KiB"
read -r _ floor_median <<<"${stats[0]}"
for i in "${!names[@]}"; do
  read -r mean median <<<"${stats[$i]}"
  ratio=$(awk -v m="$median" -v f="$floor_median" 'BEGIN { printf "%.2f", m / f }')
  printf '%-9s %10s %10s %8s %8s %10s\n' "${names[$i]}" "$mean" "$median" "$ratio" "${targets[$i]}" "${peaks[$i]}"
  if [[ "${targets[$i]}" != - ]] && awk -v r="$ratio" -v t="${targets[$i]}" 'BEGIN { exit !(r > t) }'; then
    failures+=("${names[$i]}: ${ratio}x the floor's median wall time, target ${targets[$i]}x")
  fi
  if [[ "${names[$i]}" != floor && "${peaks[$i]}" -ge "$memory_limit_kib" ]]; then
    failures+=("${names[$i]}: peak ${peaks[$i]} KiB, target under ${memory_limit_kib} KiB")
  fi
done
echo "job under callgrind: ${instructions} instructions (Ir)"

if [[ ${#failures[@]} -gt 0 ]]; then
  echo
  printf 'missed: %s\n' "${failures[@]}"
  [[ $check -eq 1 ]] && exit 1
fi
exit 0
