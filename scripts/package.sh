#!/usr/bin/env bash
# Builds the packages into build-package/: support-draft_<version>_<arch>.deb
# and support-draft-<version>-<channel>.tar.gz. The packaged bundle is the
# prod channel unless SUPPORT_DRAFT_CHANNEL says otherwise; the mail draft
# script's recipient is SUPPORT_DRAFT_RECIPIENT (none when unset).
#   scripts/package.sh             build the packages
#   scripts/package.sh --check     and check the .deb: unpacked into a
#                                  throwaway root (dpkg -x), its file list,
#                                  its control fields, the bundle's self-check,
#                                  and a host built against it with
#                                  find_package(SupportDraft) that runs a job
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
check="${1:-}"
if [[ -n "$check" && "$check" != "--check" ]]; then
  echo "usage: scripts/package.sh [--check]" >&2
  exit 2
fi
bash "$root/scripts/deps.sh" package
channel="${SUPPORT_DRAFT_CHANNEL:-prod}"
build_dir="$root/build-package"
rm -f "$build_dir"/support-draft*.deb "$build_dir"/support-draft*.tar.gz
bash "$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DSUPPORT_DRAFT_CHANNEL="$channel" -DSUPPORT_DRAFT_RECIPIENT="${SUPPORT_DRAFT_RECIPIENT:-}" \
  -DSUPPORT_DRAFT_TESTS=OFF
(cd "$build_dir" && cpack >/dev/null)
deb=$(ls "$build_dir"/support-draft_*.deb)
ls -l "$deb" "$build_dir"/support-draft-*.tar.gz
[[ "$check" == "--check" ]] || exit 0

echo "== checking $deb"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/root"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expected="usr/bin/support-draft-host
usr/include/support_draft_host.h
usr/lib/$multiarch/cmake/SupportDraft/SupportDraftConfig.cmake
usr/lib/$multiarch/cmake/SupportDraft/SupportDraftConfigVersion.cmake
usr/lib/$multiarch/cmake/SupportDraft/SupportDraftTargets-release.cmake
usr/lib/$multiarch/cmake/SupportDraft/SupportDraftTargets.cmake
usr/lib/$multiarch/libsupport-draft-host.a
usr/libexec/support-draft/SupportDraft.app/Contents/Info.plist
usr/libexec/support-draft/SupportDraft.app/Contents/MacOS/support-draft
usr/libexec/support-draft/SupportDraft.app/Contents/MacOS/support-draft-portal
usr/libexec/support-draft/SupportDraft.app/Contents/MacOS/support-draft-terminal
usr/libexec/support-draft/SupportDraft.app/Contents/Resources/support-mail.applescript
usr/share/doc/support-draft/changelog.gz
usr/share/doc/support-draft/copyright
usr/share/man/man1/support-draft-host.1.gz
usr/share/man/man1/support-draft.1.gz"
actual=$(cd "$work/root" && find . -type f -o -type l | sed 's:^\./::' | LC_ALL=C sort)
if [[ "$actual" != "$expected" ]]; then
  echo "unexpected file list:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "file list as expected ($(echo "$actual" | wc -l) files)"

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == "support-draft" && "$(field Version)" == "0.1.0" ]] || { echo "wrong name or version"; exit 1; }
[[ "$(field Maintainer)" == "support-draft project <"* ]] || { echo "maintainer: $(field Maintainer)"; exit 1; }
[[ "$(field Depends)" == *xdg-utils* && "$(field Depends)" == *libplist* ]] || { echo "depends: $(field Depends)"; exit 1; }
grep -q "No licence has been chosen" "$work/root/usr/share/doc/support-draft/copyright"
bundle="$work/root/usr/libexec/support-draft/SupportDraft.app"
grep -q "<string>$channel</string>" "$bundle/Contents/Info.plist" || { echo "bundle is not $channel"; exit 1; }
inspect=$("$bundle/Contents/MacOS/support-draft" --inspect)
[[ "$inspect" == *'"argumentsRoundTrip":true'* ]] || { echo "self-check: $inspect"; exit 1; }
echo "control fields, copyright and the bundle's self-check as expected"

# A host built against the unpacked package prepares and runs one job in a
# throwaway home, with a stand-in composer in place of a mail client.
cmake -S "$root/packaging/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/consumer" >/dev/null
mkdir -m 0700 "$work/home"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" > "%s/composer.log"\n' "$work" >"$work/composer"
chmod 0755 "$work/composer"
result=$(env -i PATH=/usr/bin:/bin HOME="$work/home" MAILER="$work/composer" "$work/consumer/consumer" "$channel")
echo "consumer: $result"
[[ "$result" == "opened" && -s "$work/composer.log" ]] || { echo "the consumer's job did not open a draft"; exit 1; }
echo "package check passed"
