#!/bin/bash
# The menu entry passes desktop-file-validate, starts the program with the
# file, and names the file type that the MIME file declares.
# Usage: desktop_test.sh DATA_DIR
set -eu
. "$(dirname "$0")/common.sh"
need desktop-file-validate
data=$1
desktop=$data/cellbrook.desktop
# Hints (such as two main categories, which we want) are not failures.
report=$(desktop-file-validate "$desktop" 2>&1) || { echo "$report"; exit 1; }
echo "$report" | grep -v ': hint: ' | grep . && { echo "FAIL: desktop-file-validate warns"; exit 1; }
status=0
grep -qx 'Exec=cellbrook %f' "$desktop" || { echo "FAIL: Exec is not 'cellbrook %f'"; status=1; }
grep -qx 'Categories=Utility;System;' "$desktop" || { echo "FAIL: categories"; status=1; }
for type in $(sed -n 's/^.*<mime-type type="\([^"]*\)".*$/\1/p' "$data/cellbrook-mime.xml"); do
  grep -q "^MimeType=.*$type;" "$desktop" || { echo "FAIL: MimeType lacks $type"; status=1; }
  grep -q "<mediatype>$type</mediatype>" "$data"/*.metainfo.xml ||
    { echo "FAIL: the metainfo does not provide $type"; status=1; }
done
exit $status
