#!/usr/bin/env bash
# Builds the packages and runs lintian on the .deb. Fails on any error;
# warnings and notes are listed.
#   scripts/lint-package.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" lint
bash "$root/scripts/package.sh" >/dev/null
deb=$(ls "$root"/build-package/support-draft_*.deb)
echo "== lintian $deb"
# --fail-on error: warnings are reported but do not fail the run.
lintian --fail-on error --display-info --allow-root "$deb"
echo "lintian: no errors"
