#!/bin/bash
# Runs a command in a Flatpak-like root: a private mount namespace whose /
# holds /.flatpak-info, /app (an application directory of the caller's) and
# every top-level directory of the real root at its own place, so that the
# user's home and /tmp look the same inside and out. As an ordinary user it
# needs user namespaces: it maps the user to root to make the mounts, then
# back to the user's own ids before the command runs, so that the command
# meets its files and the session bus as that user. Its tools are named by
# their paths: the command gets the caller's PATH untouched. The sandboxed
# tests and bench/bench.sh's sandbox routes run their jobs through it.
#
#   flatpak-sandbox.sh --probe                   exit 0 when a root can be made
#   flatpak-sandbox.sh APP_DIR INFO_FILE COMMAND [ARGS...]
set -euo pipefail

if [[ ${1:-} == --inside ]]; then
  shift
  root="$1" app="$2" info="$3" uid="$4" gid="$5"
  shift 5
  /bin/mount -t tmpfs -o mode=0755 sandbox-root "$root"
  # One mkdir, one cp and one mount (of a table of all the directories) for
  # all: each program started costs a few milliseconds, and every sandboxed
  # test job starts here. The table's blanks are written as \040.
  directories=() links=() table=""
  for d in /*; do
    if [[ -L $d ]]; then
      links+=("$d")
    elif [[ -d $d ]]; then
      directories+=("$d")
      table+="${d// /\\040} ${root// /\\040}${d// /\\040} none rbind 0 0"$'\n'
    fi
  done
  mkdir "${directories[@]/#/$root}" "$root/app"
  [[ ${#links[@]} -eq 0 ]] || cp -P "${links[@]}" "$root/"
  printf '%s' "$table" >"$root/.mounts"
  /bin/mount --all --fstab "$root/.mounts"
  rm "$root/.mounts"
  /bin/mount --bind "$app" "$root/app"
  cp "$info" "$root/.flatpak-info"
  mkdir "$root/.old-root"
  cd "$root"
  /usr/sbin/pivot_root . .old-root
  /bin/umount -l /.old-root
  rmdir /.old-root
  cd /
  if [[ $(id -u) != "$uid" ]]; then
    exec /usr/bin/unshare --map-user="$uid" --map-group="$gid" -- "$@"
  fi
  exec "$@"
fi

namespaces=(-m --propagation private)
[[ $(id -u) -eq 0 ]] || namespaces=(-U -r "${namespaces[@]}")
if [[ ${1:-} == --probe ]]; then
  exec /usr/bin/unshare "${namespaces[@]}" -- /bin/sh -c '/bin/mount -t tmpfs probe /tmp' 2>/dev/null
fi
[[ $# -ge 3 ]] || { echo "usage: flatpak-sandbox.sh APP_DIR INFO_FILE COMMAND [ARGS...]" >&2; exit 2; }
root=$(mktemp -d)
trap 'rmdir "$root"' EXIT
/usr/bin/unshare "${namespaces[@]}" -- "$0" --inside "$root" "$1" "$2" "$(id -u)" "$(id -g)" "${@:3}"
