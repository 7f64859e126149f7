#!/bin/bash
# The man pages render without a warning, and the command line's page has a
# section for every command its usage names, and every option.
# Usage: man_test.sh MAN_DIR CLI TABLE
set -eu
. "$(dirname "$0")/common.sh"
need man
mandir=$1 cli=$2 table=$3
[ -f "$mandir/cellbrook-cli.1" ] || { echo "SKIP: no man pages were built (scdoc)"; exit "$SKIP"; }
status=0
for page in "$mandir"/*.1; do
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL: $(basename "$page") renders with warnings:"
    echo "$warnings"
    status=1
  fi
done
text=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$mandir/cellbrook-cli.1" 2>/dev/null)
commands=$(table_commands "$table" "$cli")
for command in $commands; do
  # Each command is a subsection of COMMANDS and has a line in SYNOPSIS.
  grep -qE "^   $command( |\$)" <<<"$text" || { echo "FAIL: no section for '$command'"; status=1; }
  grep -qE "^ +cellbrook-cli $command( |\$)" <<<"$text" ||
    { echo "FAIL: '$command' is not in the synopsis"; status=1; }
done
# The SYNOPSIS, rendered, holds one line a command, each the command's usage
# line word for word (the usage's continuation lines joined), and nothing else.
synopsis=$(sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' <<<"$text" | sed '1d;$d' | sed 's/^ *//; s/  */ /g' | grep -v '^$')
usage=$("$cli" --help | sed -n '/^usage:/,/^$/p' | sed 's/^usage: //; s/^ *//; s/  */ /g' |
  awk '/^cellbrook-cli / { if (line != "") print line; line = $0; next } NF { line = line " " $0 } END { print line }')
while IFS= read -r line; do
  [[ $line == "cellbrook-cli "* ]] || { echo "FAIL: the synopsis holds a line that is no command: '$line'"; status=1; }
done <<<"$synopsis"
for command in $commands; do
  want=$(grep -E "^cellbrook-cli $command( |\$)" <<<"$usage" || true)
  got=$(grep -E "^cellbrook-cli $command( |\$)" <<<"$synopsis" || true)
  [ -n "$want" ] && [ "$want" = "$got" ] ||
    { echo "FAIL: the synopsis of '$command' is '$got', the usage says '$want'"; status=1; }
done
for option in $({ "$cli" --help | grep -oE -- '--[a-z][a-z-]*'; "$table" | cut -f2 | tr ' ' '\n'; } | sort -u); do
  grep -qE -- "^       (-[a-z], )?$option( |\$)" <<<"$text" ||
    { echo "FAIL: option $option is not described"; status=1; }
done
exit $status
