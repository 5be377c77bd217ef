#!/usr/bin/env bash
# Installs the .deb with apt-get on a fresh Debian 12 system, a throwaway
# chroot made with debootstrap, then runs the installed bundle's self-check
# and one job through support-draft-host as an ordinary user, with a
# stand-in composer in place of a mail client. Needs root and the network
# (debootstrap fetches a base system), so it is not part of CI.
#   scripts/chroot-install-check.sh        (DEBIAN_MIRROR=... to pick a mirror)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [[ $(id -u) -ne 0 ]]; then
  echo "chroot-install-check.sh needs root" >&2
  exit 1
fi
bash "$root/scripts/deps.sh" chroot
bash "$root/scripts/package.sh" >/dev/null
deb=$(ls "$root"/build-package/support-draft_*.deb)
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"

work="$(mktemp -d /var/tmp/support-draft-chroot.XXXXXX)"
system="$work/system"
cleanup() {
  mountpoint -q "$system/proc" && umount "$system/proc"
  rm -rf "$work"
}
trap cleanup EXIT

echo "== debootstrap bookworm from $mirror"
debootstrap --variant=minbase bookworm "$system" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log"; exit 1; }
mount -t proc proc "$system/proc"
cp /etc/resolv.conf "$system/etc/resolv.conf"
cp "$deb" "$system/tmp/"
in_chroot() { chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

echo "== apt-get install ./$(basename "$deb")"
in_chroot apt-get update -qq
(cd "$system/tmp" && in_chroot sh -c "cd /tmp && apt-get install -y -qq ./$(basename "$deb")") | tail -3
in_chroot dpkg -s support-draft | grep -E '^(Status|Version):'

echo "== the installed bundle's self-check"
in_chroot /usr/libexec/support-draft/SupportDraft.app/Contents/MacOS/support-draft --inspect
echo

echo "== one job as an ordinary user"
in_chroot sh -c 'mkdir -m 0700 /tmp/home && chown nobody:nogroup /tmp/home'
cat >"$system/tmp/composer" <<'COMPOSER'
#!/bin/sh
printf '%s\n' "$1" > /tmp/home/composer.log
COMPOSER
chmod 0755 "$system/tmp/composer"
in_chroot setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env HOME=/tmp/home MAILER=/tmp/composer \
  support-draft-host --bundle /usr/libexec/support-draft/SupportDraft.app \
  --subject "Support Request - Quorvel chroot check" --body "Hello from a fresh system"
echo "composer received: $(cat "$system/tmp/home/composer.log")"
echo "chroot install check passed"
