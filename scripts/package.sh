#!/usr/bin/env bash
# Builds the Debian packages into build-package/:
#   support-draft_<version>_<arch>.deb            the bundle, support-draft-host, the manual pages
#   libsupport-draft-host0_<version>_<arch>.deb   the shared host library
#   support-draft-dev_<version>_<arch>.deb        headers, static library, CMake and pkg-config files
#   python3-support-draft_<version>_all.deb       the support_draft Python package
# The packaged bundle is the prod channel unless SUPPORT_DRAFT_CHANNEL says
# otherwise; the support address in its Info.plist is SUPPORT_DRAFT_RECIPIENT
# (none when unset). The same commit gives the same bytes: every time stamp is the
# last commit's (SOURCE_DATE_EPOCH), owners are root, and no build path is
# recorded.
#   scripts/package.sh             build the packages
#   scripts/package.sh --check     and check them: lintian (pedantic tags
#                                  included) finds nothing, a second build in
#                                  another directory gives byte-identical
#                                  .deb files, and in a fresh Debian 12 chroot
#                                  the packages install and hosts built
#                                  against them run a job
#                                  (scripts/chroot-install-check.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
check="${1:-}"
if [[ -n "$check" && "$check" != "--check" ]]; then
  echo "usage: scripts/package.sh [--check]" >&2
  exit 2
fi
if [[ "$check" == "--check" ]]; then
  bash "$root/scripts/deps.sh" package lint chroot
else
  bash "$root/scripts/deps.sh" package
fi
channel="${SUPPORT_DRAFT_CHANNEL:-prod}"
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null ||
    dpkg-parsechangelog -l "$root/packaging/changelog" -STimestamp)
fi
export SOURCE_DATE_EPOCH
packages=(support-draft libsupport-draft-host0 support-draft-dev python3-support-draft)
components=(program library development python)
# Maintainer scripts of a package, from packaging/<package>.<script>.
maintainer_scripts=(postinst prerm)

# build_packages BUILD_DIR: configures a release build, installs each
# component into its own staging tree and makes a .deb of each in BUILD_DIR.
build_packages() {
  local build_dir="$1"
  # Build paths stay out of the binaries, so another checkout or build
  # directory gives the same bytes.
  local flags="-ffile-prefix-map=$root/= -ffile-prefix-map=$build_dir/="
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DSUPPORT_DRAFT_CHANNEL="$channel" -DSUPPORT_DRAFT_RECIPIENT="${SUPPORT_DRAFT_RECIPIENT:-}" \
    -DSUPPORT_DRAFT_TESTS=OFF -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  cmake --build "$build_dir"
  rm -f "$build_dir"/*.deb
  local stage="$build_dir/stage"
  rm -rf "$stage"
  mkdir -p "$stage/debian"
  # dpkg-shlibdeps and dpkg-gencontrol read the source package's control
  # file and changelog from debian/.
  cp "$root/packaging/control" "$root/packaging/changelog" "$root/packaging/libsupport-draft-host0.symbols" \
    "$stage/debian/"
  local i package tree script
  for i in "${!packages[@]}"; do
    package="${packages[$i]}"
    tree="$stage/$package"
    DESTDIR="$tree" cmake --install "$build_dir" --component "${components[$i]}" >/dev/null
    normalise_tree "$tree"
    mkdir -m 0755 "$tree/DEBIAN"
    : >"$stage/debian/$package.substvars"
    for script in "${maintainer_scripts[@]}"; do
      if [[ -f "$root/packaging/$package.$script" ]]; then
        cp "$root/packaging/$package.$script" "$tree/DEBIAN/$script"
      fi
    done
  done

  # What the executables and the shared library need at run time.
  (cd "$stage" && dpkg-shlibdeps -Tdebian/support-draft.substvars \
    support-draft/usr/bin/support-draft-host support-draft/usr/libexec/support-draft/SupportDraft.app/Contents/MacOS/*)
  local library
  library=$(cd "$stage/libsupport-draft-host0" && echo usr/lib/*/libsupport-draft-host.so.0.*)
  (cd "$stage" && dpkg-shlibdeps -Tdebian/libsupport-draft-host0.substvars "libsupport-draft-host0/$library")
  # The shared library's dependency information and the linker cache
  # update. Its exported symbols must be the ones listed in
  # packaging/libsupport-draft-host0.symbols, no more and no fewer: a change
  # to the C API shows here before it reaches a host.
  echo "libsupport-draft-host 0 libsupport-draft-host0 (>= 0.1.0)" >"$stage/libsupport-draft-host0/DEBIAN/shlibs"
  (cd "$stage" && dpkg-gensymbols -plibsupport-draft-host0 -Plibsupport-draft-host0 -c4 -q)
  echo "activate-noawait ldconfig" >"$stage/libsupport-draft-host0/DEBIAN/triggers"

  for package in "${packages[@]}"; do
    tree="$stage/$package"
    (cd "$stage" && dpkg-gencontrol -p"$package" -P"$package" -Tdebian/"$package".substvars \
      -f"debian/files" -Vbundle:Channel="$channel")
    (cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
      xargs -0 --no-run-if-empty md5sum) >"$tree/DEBIAN/md5sums"
    chmod 0644 "$tree"/DEBIAN/*
    for script in "${maintainer_scripts[@]}"; do
      if [[ -f "$tree/DEBIAN/$script" ]]; then chmod 0755 "$tree/DEBIAN/$script"; fi
    done
    find "$tree" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
    dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$tree" "$build_dir" >/dev/null
  done
}

# normalise_tree TREE: strips the binaries as Debian does and gives every
# file and directory the mode Debian expects, whatever the umask was.
normalise_tree() {
  local tree="$1" file
  find "$tree" -type d -exec chmod 0755 {} +
  find "$tree" -type f -exec chmod 0644 {} +
  while IFS= read -r -d '' file; do
    case "$file" in
      *.so | *.so.*)
        strip --remove-section=.comment --remove-section=.note --strip-unneeded "$file" ;;
      *.a)
        strip --strip-debug --remove-section=.comment --remove-section=.note \
          --enable-deterministic-archives "$file" ;;
      *)
        if [[ "$(file -b "$file")" == ELF*executable* ]]; then
          chmod 0755 "$file"
          strip --remove-section=.comment --remove-section=.note "$file"
        fi ;;
    esac
  done < <(find "$tree" -type f -print0)
}

build_dir="$root/build-package"
# While the packages build, the chroot for the install check is made.
if [[ "$check" == "--check" ]]; then
  chroot_work="$(mktemp -d /var/tmp/support-draft-chroot.XXXXXX)"
  cleanup() {
    if [[ -n "${prepare_pid:-}" ]]; then
      kill -- "-$prepare_pid" 2>/dev/null || true
      wait "$prepare_pid" 2>/dev/null || true
    fi
    bash "$root/scripts/chroot-install-check.sh" --remove "$chroot_work/system"
    rm -rf "$chroot_work"
  }
  trap cleanup EXIT
  # In a process group of its own, so that an early exit ends all of it.
  setsid bash "$root/scripts/chroot-install-check.sh" --prepare "$chroot_work/system" \
    >"$chroot_work/prepare.log" 2>&1 </dev/null &
  prepare_pid=$!
fi

echo "== building the packages in build-package/"
build_packages "$build_dir"
debs=()
for package in "${packages[@]}"; do debs+=("$(ls "$build_dir/${package}"_*.deb)"); done
ls -l "${debs[@]}"
[[ "$check" == "--check" ]] || exit 0

echo "== lintian --pedantic"
lintian --pedantic --display-info --fail-on error,warning,pedantic --allow-root "${debs[@]}"
echo "lintian: no errors, warnings or pedantic tags"

echo "== the same commit built again in another directory"
rebuild_dir="$root/build-package-rebuild"
rm -rf "$rebuild_dir"
build_packages "$rebuild_dir" >/dev/null
for deb in "${debs[@]}"; do
  again="$rebuild_dir/$(basename "$deb")"
  if ! cmp "$deb" "$again"; then
    echo "$(basename "$deb") differs between the two builds; the files that differ:"
    diff <(dpkg-deb --fsys-tarfile "$deb" | tar -tv) <(dpkg-deb --fsys-tarfile "$again" | tar -tv) || true
    diff <(dpkg-deb -I "$deb" md5sums) <(dpkg-deb -I "$again" md5sums) || true
    exit 1
  fi
  echo "$(basename "$deb"): byte-identical ($(sha256sum <"$deb" | cut -c1-16)...)"
done
rm -rf "$rebuild_dir"

echo "== installed in a fresh Debian 12 chroot"
prepare_status=0
wait "$prepare_pid" || prepare_status=$?
prepare_pid=
if [[ $prepare_status -ne 0 ]]; then
  tail -30 "$chroot_work/prepare.log"
  echo "the chroot could not be made"
  exit 1
fi
cat "$chroot_work/prepare.log"
bash "$root/scripts/chroot-install-check.sh" --check "$chroot_work/system" "${debs[@]}"
echo "package check passed"
