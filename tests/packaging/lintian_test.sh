#!/bin/bash
# lintian on the package: errors fail, warnings and notes are listed.
# Usage: lintian_test.sh BUILD_DIR
set -eu
. "$(dirname "$0")/common.sh"
need lintian
deb=$(ls "$1"/packaging/deb/cellbrook_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { echo "FAIL: no package was built"; exit 1; }
report=$(lintian -I "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "${report:-lintian: nothing to report}"
if grep -q '^E: ' <<<"$report"; then
  echo "FAIL: lintian reports errors"
  exit 1
fi
