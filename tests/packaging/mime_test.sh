#!/bin/bash
# The MIME file is well-formed XML that update-mime-database accepts, and a
# file that starts with "regf" is known as a registry hive whatever its name,
# while other files are not.
# Usage: mime_test.sh DATA_DIR SCRATCH
set -eu
. "$(dirname "$0")/common.sh"
need xmllint
data=$1 scratch=$2/packaging/mime
xmllint --noout "$data/cellbrook-mime.xml"
echo "xmllint: well-formed"
need update-mime-database gio
rm -rf "$scratch"
mkdir -p "$scratch/mime/packages"
cp "$data/cellbrook-mime.xml" "$scratch/mime/packages/cellbrook.xml"
cp /usr/share/mime/packages/freedesktop.org.xml "$scratch/mime/packages/" 2>/dev/null || true
XDG_DATA_HOME=$scratch XDG_DATA_DIRS=$scratch update-mime-database "$scratch/mime"
content_type() {
  XDG_DATA_HOME=$scratch XDG_DATA_DIRS=$scratch gio info -a standard::content-type "$1" |
    sed -n 's/^ *standard::content-type: //p'
}
hive=$scratch/SOFTWARE
{ printf 'regf'; head -c 4092 /dev/zero; } > "$hive"
printf 'Windows Registry Editor Version 5.00\r\n' > "$scratch/not-a-hive"
status=0
got=$(content_type "$hive")
echo "a file starting with regf: $got"
[ "$got" = application/x-windows-registry-hive ] || status=1
got=$(content_type "$scratch/not-a-hive")
echo "a text file: $got"
[ "$got" != application/x-windows-registry-hive ] || status=1
exit $status
