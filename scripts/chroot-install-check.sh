#!/usr/bin/env bash
# Installs the packages with apt-get on a fresh Debian 12 system, a chroot
# made with debootstrap, and uses them as a host developer would: the
# installed bundle's self-check; an application's own bundle ("Acme Notes",
# its own subject prefix, tool directory and support address) made with the
# CMake function and with support-draft-host --make-bundle; C++ hosts built
# with find_package (one of them in a Qt 6 event loop), a C host built with
# pkg-config, a C host in a GLib main loop and a Python host with the
# support_draft package, each run as an ordinary user with a recording
# composer in place of a mail client; and the support-draft-host command.
# Needs root and the network to Debian's archive.
#   scripts/chroot-install-check.sh DEB...              all of it, in a throwaway directory
#   scripts/chroot-install-check.sh --prepare SYSTEM    make the chroot (no packages needed yet)
#   scripts/chroot-install-check.sh --check SYSTEM DEB...   install and use the packages there
#   scripts/chroot-install-check.sh --remove SYSTEM     unmount and remove the chroot
# DEBIAN_MIRROR picks the mirror. The base system's packages are kept in
# /var/cache/support-draft-check (a month at most), so a second run
# fetches little.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [[ $(id -u) -ne 0 ]]; then
  echo "chroot-install-check.sh needs root" >&2
  exit 1
fi
# The machine's own Debian mirror, as apt's sources name it (one-line or
# deb822 form), unless DEBIAN_MIRROR names another.
apt_mirror() {
  local files=() file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -r "$file" ]] && files+=("$file")
  done
  [[ ${#files[@]} -gt 0 ]] || return 0
  { awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "${files[@]}" 2>/dev/null
    awk '$1 == "URIs:" { print $2; exit }' "${files[@]}" 2>/dev/null; } | grep -m1 -i debian  || true
}
mirror="${DEBIAN_MIRROR:-$(apt_mirror)}"
if [[ -z "$mirror" ]]; then
  echo "chroot-install-check.sh: no Debian mirror in apt's sources; set DEBIAN_MIRROR" >&2
  exit 1
fi
cache="/var/cache/support-draft-check"
# What the check itself needs in the chroot: compilers and build tools for
# the hosts, and the GLib and Qt 6 development packages for the hosts in
# their event loops. The packages under test bring their own dependencies.
tools="g++,gcc,cmake,make,pkg-config,libglib2.0-dev,qt6-base-dev"

prepare() {
  local system="$1"
  mkdir -p "$cache"
  # Named by the tools it holds: another list makes another archive.
  local tarball
  tarball="$cache/bookworm-minbase-$(printf '%s' "$tools" | sha256sum | cut -c1-16).tgz"
  find "$cache" -maxdepth 1 -name 'bookworm-minbase-*.tgz' -mtime +30 -delete
  if [[ -z "$(find "$tarball" -mtime -30 2>/dev/null)" ]]; then
    echo "== fetching the Debian 12 base system and build tools from $mirror"
    rm -f "$tarball"
    # debootstrap's work directory; one left by an interrupted run goes first.
    local scratch="$cache/scratch"
    rm -rf --one-file-system "$scratch"
    debootstrap --variant=minbase --include="$tools" --make-tarball="$tarball.part" \
      bookworm "$scratch" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
      { tail -20 "$cache/debootstrap.log"; exit 1; }
    rm -rf --one-file-system "$scratch"
    mv "$tarball.part" "$tarball"
  fi
  echo "== debootstrap bookworm (minbase with $tools) from the cached archive"
  debootstrap --variant=minbase --include="$tools" --unpack-tarball="$tarball" \
    bookworm "$system" "$mirror" >"$cache/unpack.log" 2>&1 ||
    { tail -20 "$cache/unpack.log"; exit 1; }
  cp /etc/resolv.conf "$system/etc/resolv.conf"
  echo "chroot ready: $(chroot "$system" cat /etc/debian_version), $(chroot "$system" g++ --version | head -1)"
}

remove() {
  local system="$1"
  [[ -d "$system" ]] || return 0
  if mountpoint -q "$system/proc"; then umount "$system/proc"; fi
  rm -rf --one-file-system "$system"
}

in_chroot() {
  chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# As the ordinary user "host", in its home, with the recording composer.
as_host() {
  in_chroot setpriv --reuid=host --regid=host --init-groups \
    env HOME=/home/host MAILER=/usr/local/bin/record-draft sh -c "cd /home/host && $1"
}

# The drafts each bundle's hosts must get, as the composer's mailto: URI
# begins: the packaged bundle's default prefix (and whatever recipient the
# package was built with), and Acme's address, prefix and, later in the
# URI, the log.
quorvel_draft='^mailto:[^?]*[?]subject=Support%20Request%20-%20Quorvel%20'
acme_draft='^mailto:help%2Bnotes@acme[.]example[?]subject=%5BAcme%20Notes%5D%20Support%3A%20.*&attach=%2Fhome%2Fhost%2F[.]acme-notes%2Fsupport-drafts%2F'

# expect_draft WHAT COMMAND [PATTERN]: runs COMMAND as the host user and
# wants the outcome "opened" and a draft matching PATTERN (the packaged
# bundle's by default) at the composer.
expect_draft() {
  local what="$1" command="$2" pattern="${3:-$quorvel_draft}" output status=0
  rm -f "$system/home/host/drafts.log"
  output=$(as_host "$command") || status=$?
  echo "$what: $output (exit status $status)"
  if [[ $status -ne 0 || "$output" != *opened* ]]; then
    echo "$what did not open a draft" >&2
    exit 1
  fi
  if ! grep -q -- "$pattern" "$system/home/host/drafts.log"; then
    echo "the composer received no draft matching $pattern for $what:" >&2
    cat "$system/home/host/drafts.log" >&2 2>/dev/null || true
    exit 1
  fi
}

check() {
  system="$1"
  shift
  mount -t proc proc "$system/proc"
  trap 'umount "$system/proc"' EXIT
  mkdir -p "$system/tmp/debs"
  cp "$@" "$system/tmp/debs/"

  echo "== apt-get install of $(cd "$system/tmp/debs" && echo *.deb)"
  # The packages bring their own dependencies (python3 among them).
  in_chroot sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends /tmp/debs/*.deb' \
    >"$system/tmp/apt.log" 2>&1 || { tail -20 "$system/tmp/apt.log"; exit 1; }
  in_chroot dpkg-query -W -f='${Package} ${Version} ${Status}\n' support-draft libsupport-draft-host0 support-draft-dev \
    python3-support-draft

  echo "== the installed bundle's self-check"
  local bundle=/usr/libexec/support-draft/SupportDraft.app
  local inspect
  inspect=$(in_chroot "$bundle/Contents/MacOS/support-draft" --inspect)
  echo "$inspect"
  [[ "$inspect" == *'"argumentsRoundTrip":true'* ]] || { echo "the self-check failed" >&2; exit 1; }

  # The ordinary user and the composer that records the mailto: URI the
  # desktop's mail hand-off gives it.
  in_chroot useradd --create-home --shell /bin/sh host
  cat >"$system/usr/local/bin/record-draft" <<'COMPOSER'
#!/bin/sh
printf '%s\n' "$1" >>"$HOME/drafts.log"
COMPOSER
  chmod 0755 "$system/usr/local/bin/record-draft"
  cp -r "$root/packaging/consumer" "$system/home/host/consumer"
  in_chroot chown -R host:host /home/host/consumer

  echo "== Acme Notes' bundle by support_draft_add_bundle, and C++ hosts built with find_package(SupportDraft)"
  as_host 'cmake -S consumer -B consumer-build -DCONSUMER_QT=ON >/dev/null && cmake --build consumer-build >/dev/null'
  local acme_cmake="/home/host/consumer-build/Acme Notes.app"
  in_chroot ls -l "$acme_cmake/Contents" "$acme_cmake/Contents/MacOS"
  expect_draft "find_package host, shared library, Acme's bundle" "consumer-build/consumer" "$acme_draft"
  expect_draft "find_package host, static library, Acme's bundle" "consumer-build/consumer_static" "$acme_draft"
  expect_draft "find_package host, the packaged bundle" "consumer-build/consumer_quorvel"
  expect_draft "Qt 6 host (QSocketNotifier), Acme's bundle" "consumer-build/consumer_qt" "$acme_draft"
  # As the documentation says: SupportDraft::host_shared is the shared
  # library, SupportDraft::host the archive.
  if ! in_chroot readelf -d /home/host/consumer-build/consumer | grep -q 'NEEDED.*libsupport-draft-host\.so\.0'; then
    echo "SupportDraft::host_shared did not link libsupport-draft-host.so.0" >&2
    exit 1
  fi
  if in_chroot readelf -d /home/host/consumer-build/consumer_static | grep -q 'libsupport-draft-host'; then
    echo "SupportDraft::host linked the shared library, not the archive" >&2
    exit 1
  fi
  if [[ -z "$(ls "$system/home/host/.acme-notes/support-drafts")" ]]; then
    echo "Acme's jobs are not in its own tool directory" >&2
    exit 1
  fi
  # A value the program would refuse stops the configuring.
  mkdir -p "$system/home/host/bad-bundle"
  cat >"$system/home/host/bad-bundle/CMakeLists.txt" <<'PROJECT'
cmake_minimum_required(VERSION 3.25)
project(bad CXX)
find_package(SupportDraft REQUIRED)
support_draft_add_bundle(bad NAME Bad IDENTIFIER org.acme.bad CHANNEL prod TOOL_DIRECTORY ..)
PROJECT
  in_chroot chown -R host:host /home/host/bad-bundle
  if as_host 'cmake -S bad-bundle -B bad-build' >"$system/tmp/bad.log" 2>&1; then
    echo "support_draft_add_bundle took the tool directory '..'" >&2
    exit 1
  fi
  grep -q bundleToolDirectoryInvalid "$system/tmp/bad.log" || { cat "$system/tmp/bad.log" >&2; exit 1; }

  echo "== Acme Notes' bundle by support-draft-host --make-bundle"
  as_host "mkdir -p made && support-draft-host --make-bundle made --name 'Acme Notes' \
    --identifier org.acme.notes.support --channel prod --subject-prefix '[Acme Notes] Support: ' \
    --tool-directory .acme-notes --recipient help+notes@acme.example"
  local acme="/home/host/made/Acme Notes.app"
  local refused_status=0
  as_host "support-draft-host --make-bundle made --name Bad --identifier org.acme.bad --channel prod \
    --subject-prefix 'x
Bcc: all@example.org'" || refused_status=$?
  if [[ $refused_status -ne 3 || -e "$system/home/host/made/Bad.app" ]]; then
    echo "--make-bundle took a subject prefix with a line break (status $refused_status)" >&2
    exit 1
  fi

  echo "== every bundle carries the kit's programs and the watcher the host library starts jobs through"
  # Run bare, the watcher refuses (status 2) and starts nothing.
  local made_bundle watcher_status
  for made_bundle in "$bundle" "$acme_cmake" "$acme"; do
    if ! diff <(ls "$system$bundle/Contents/MacOS") <(ls "$system$made_bundle/Contents/MacOS"); then
      echo "$made_bundle: its programs differ from the kit's" >&2
      exit 1
    fi
    watcher_status=0
    in_chroot "$made_bundle/Contents/MacOS/support-draft-watcher" || watcher_status=$?
    if [[ $watcher_status -ne 2 ]]; then
      echo "$made_bundle: its watcher is missing or broken (status $watcher_status)" >&2
      exit 1
    fi
  done

  echo "== a C host built with pkg-config --cflags --libs support-draft-host, on Acme's bundle"
  # The bundle's path holds a blank: quoted for the shell as_host runs.
  local flags="-DBUNDLE='\"$acme\"' \$(pkg-config --cflags --libs support-draft-host)"
  as_host "cc -std=c99 -Wall -Werror -o pkg-config-host consumer/c_host.c $flags"
  expect_draft "pkg-config C host, Acme's bundle" "./pkg-config-host" "$acme_draft"

  echo "== a C host in a GLib main loop (g_unix_fd_add), on Acme's bundle"
  as_host "cc -std=c99 -Wall -Werror -o glib-host consumer/glib_host.c -DBUNDLE='\"$acme\"' \
    \$(pkg-config --cflags --libs glib-2.0 support-draft-host)"
  expect_draft "GLib host, Acme's bundle" "./glib-host" "$acme_draft"

  echo "== a Python host with the installed support_draft package, on Acme's bundle"
  local module
  module=$(as_host "python3 -c 'import support_draft; print(support_draft.__file__)'")
  if [[ "$module" != /usr/lib/python3/dist-packages/support_draft/__init__.py ]]; then
    echo "support_draft is not the installed package: $module" >&2
    exit 1
  fi
  expect_draft "Python host, Acme's bundle" "python3 consumer/python_host.py '$acme'" "$acme_draft"
  local libraries
  libraries=$(in_chroot ldd /home/host/pkg-config-host)
  if [[ "$libraries" != *"libsupport-draft-host.so.0 => /"*"/libsupport-draft-host.so.0 "* ]]; then
    echo "the C host does not use the installed shared library:" >&2
    echo "$libraries" >&2
    exit 1
  fi

  echo "== support-draft-host"
  expect_draft "support-draft-host" "support-draft-host --bundle $bundle \
    --subject 'Support Request - Quorvel chroot check' --body 'Hello from a fresh system'"
  as_host "printf 'log line\n' > app.log"
  expect_draft "support-draft-host, Acme's bundle" "support-draft-host --bundle '$acme' \
    --subject '[Acme Notes] Support: chroot check' --body 'Hello from a fresh system' --log app.log" "$acme_draft"

  echo "== the Python package removed"
  # Its installation compiled the modules; removing it takes them too.
  local python_package=/usr/lib/python3/dist-packages/support_draft
  if [[ -z "$(ls "$system$python_package/__pycache__" 2>/dev/null)" ]]; then
    echo "installing python3-support-draft compiled nothing in $python_package" >&2
    exit 1
  fi
  in_chroot dpkg --remove python3-support-draft >/dev/null
  if [[ -e "$system$python_package" ]]; then
    echo "removing python3-support-draft left $python_package:" >&2
    find "$system$python_package" >&2
    exit 1
  fi
  echo "chroot install check passed"
}

case "${1:-}" in
  --prepare) prepare "$2" ;;
  --check) shift; check "$@" ;;
  --remove) remove "$2" ;;
  -* | "") echo "usage: see the head of scripts/chroot-install-check.sh" >&2; exit 2 ;;
  *)
    bash "$root/scripts/deps.sh" chroot
    work="$(mktemp -d /var/tmp/support-draft-chroot.XXXXXX)"
    trap 'remove "$work/system"; rm -rf "$work"' EXIT
    prepare "$work/system"
    (check "$work/system" "$@")
    ;;
esac
