#!/bin/bash
# The package's fields and files: name, version, architecture, dependencies
# found by shlibdeps, and exactly the installed files below /usr.
# Usage: deb_contents_test.sh BUILD_DIR VERSION GUI MAN
set -eu
. "$(dirname "$0")/common.sh"
need dpkg-deb dpkg
build=$1 version=$2 gui=$3 man=$4
deb=$(ls "$build"/packaging/deb/cellbrook_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { echo "FAIL: no package was built"; exit 1; }
dpkg-deb --info "$deb"
status=0
field() { dpkg-deb --field "$deb" "$1"; }
expect_field() {
  [ "$(field "$1")" = "$2" ] || { echo "FAIL: $1 is '$(field "$1")', wanted '$2'"; status=1; }
}
expect_field Package cellbrook
expect_field Version "$version"
expect_field Architecture "$(dpkg --print-architecture)"
expect_field Section utils
# Without bash-completion the installed completion is never loaded.
expect_field Recommends bash-completion
depends=$(field Depends)
for library in libc6 libstdc++6 libicu $([ "$gui" = 1 ] && echo libqt6widgets6); do
  grep -q "$library" <<<"$depends" || { echo "FAIL: Depends lacks $library"; status=1; }
done
[ "$(field Description | head -n1)" != "" ] || { echo "FAIL: no description"; status=1; }
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $NF }' | sed 's|^\./usr/||' |
  LC_ALL=C sort > "$build/packaging/deb/contents"
if ! diff -u <(expected_files "$gui" "$man") "$build/packaging/deb/contents"; then
  echo "FAIL: the package's files differ from the expected (- expected, + packaged)"
  status=1
fi
dpkg-deb --contents "$deb" | grep -q 'root/root' || { echo "FAIL: files not owned by root"; status=1; }
exit $status
