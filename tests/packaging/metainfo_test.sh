#!/bin/bash
# The AppStream record validates, pedantic hints included, with and without
# the network (it names no address that cannot be reached), and launches the
# menu entry we install.
# Usage: metainfo_test.sh DATA_DIR
set -eu
. "$(dirname "$0")/common.sh"
need appstreamcli
data=$1
metainfo=$data/org.example.cellbrook.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo"
# Without --no-net the validator fetches every address the record names; a
# placeholder fails there (offline too, as an address it cannot resolve).
appstreamcli validate --pedantic "$metainfo"
if grep -nE 'https?://' "$metainfo"; then echo "FAIL: the record names an address"; exit 1; fi
grep -q '<id>org.example.cellbrook</id>' "$metainfo" ||
  { echo "FAIL: the file name does not match the component id"; exit 1; }
grep -q '<launchable type="desktop-id">cellbrook.desktop</launchable>' "$metainfo" ||
  { echo "FAIL: the launchable is not cellbrook.desktop"; exit 1; }
