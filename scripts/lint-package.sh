#!/usr/bin/env bash
# Builds the packages and runs lintian on them, pedantic and informational
# tags included. Fails on any error, warning or pedantic tag; informational
# tags are listed. (scripts/package.sh --check runs the same.)
#   scripts/lint-package.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" lint
bash "$root/scripts/package.sh" >/dev/null
debs=("$root"/build-package/*.deb)
echo "== lintian --pedantic ${debs[*]##*/}"
lintian --pedantic --display-info --fail-on error,warning,pedantic --allow-root "${debs[@]}"
echo "lintian: no errors, warnings or pedantic tags"
