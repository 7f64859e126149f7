#!/bin/bash
# Builds the Debian package with CPack, as `make package` does, into
# BUILD/packaging/deb for the checks that read it.
# Usage: deb_build_test.sh CPACK BUILD_DIR
set -eu
. "$(dirname "$0")/common.sh"
need dpkg-deb dpkg-shlibdeps file
cpack=$1 build=$2
out=$build/packaging/deb
rm -rf "$out"
mkdir -p "$out"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
ls "$out"/cellbrook_*.deb
