#!/usr/bin/env bash
# Makes sure the Debian packages a task needs are installed: installs them
# when run as root, otherwise prints the one command that would.
#
#   scripts/deps.sh build|test|fuzz|bench|package|lint|chroot ...
set -euo pipefail

packages_for() {
  case "$1" in
    build) echo "cmake ninja-build g++ pkg-config nlohmann-json3-dev libutf8proc-dev libplist-dev libsystemd-dev" ;;
    # xdg-utils: the default handler the program finds is compared with xdg-mime's;
    # python3-gi: desktop entries' Exec lines are compared with GLib's reading;
    # mypy: the Python package's annotations are checked
    test) echo "$(packages_for build) libgtest-dev dbus-daemon dbus-bin libglib2.0-bin python3-dbus python3-gi xdg-utils mypy" ;;
    fuzz) echo "$(packages_for build) clang libclang-rt-14-dev" ;;
    # xdg-utils: the mail hand-offs are measured against xdg-email alone
    # dbus-daemon, dbus-bin, libglib2.0-bin, python3-dbus, python3-gi: the sandbox routes are measured
    # with the test suite's stand-in portal and Flatpak service on a private session bus
    bench) echo "$(packages_for build) valgrind time hyperfine python3 xdg-utils dbus-daemon dbus-bin libglib2.0-bin python3-dbus python3-gi" ;;
    package) echo "$(packages_for build) dpkg-dev file" ;;
    lint) echo "$(packages_for package) lintian" ;;
    chroot) echo "$(packages_for package) debootstrap" ;;
    *) echo "deps.sh: unknown task '$1'" >&2; exit 2 ;;
  esac
}

wanted=()
for task in "${@:-test}"; do
  for package in $(packages_for "$task"); do wanted+=("$package"); done
done

missing=()
for package in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "Missing packages. Run:"
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi
