#!/bin/bash
# cmake --install into a temporary DESTDIR, under the usual prefix and an
# unusual one: exactly the expected files land, each below the prefix.
# Usage: install_test.sh CMAKE BUILD_DIR GUI MAN
set -eu
. "$(dirname "$0")/common.sh"
cmake=$1 build=$2 gui=$3 man=$4
scratch=$build/packaging/install
rm -rf "$scratch"
status=0
for prefix in /usr /opt/cellbrook; do
  dest=$scratch/dest${prefix//\//-}
  DESTDIR=$dest "$cmake" --install "$build" --prefix "$prefix" >/dev/null
  echo "Installed below $prefix:"
  (cd "$dest" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort | tee "$scratch/got" |
    sed 's/^/  /'
  expected_files "$gui" "$man" | sed "s|^|${prefix#/}/|" > "$scratch/want"
  if ! diff -u "$scratch/want" "$scratch/got"; then
    echo "FAIL: the install below $prefix differs from the expected files (- expected, + installed)"
    status=1
  fi
  for program in cellbrook-cli $([ "$gui" = 1 ] && echo cellbrook); do
    [ -x "$dest$prefix/bin/$program" ] || { echo "FAIL: $program is not executable"; status=1; }
  done
done
exit $status
