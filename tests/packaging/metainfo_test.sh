#!/bin/bash
# The AppStream record validates offline, pedantic hints included, and
# launches the menu entry we install.
# Usage: metainfo_test.sh DATA_DIR
set -eu
. "$(dirname "$0")/common.sh"
need appstreamcli
data=$1
metainfo=$data/org.example.cellbrook.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo"
grep -q '<id>org.example.cellbrook</id>' "$metainfo" ||
  { echo "FAIL: the file name does not match the component id"; exit 1; }
grep -q '<launchable type="desktop-id">cellbrook.desktop</launchable>' "$metainfo" ||
  { echo "FAIL: the launchable is not cellbrook.desktop"; exit 1; }
grep -q '<caption>' "$metainfo" || { echo "FAIL: the screenshot has no description"; exit 1; }
