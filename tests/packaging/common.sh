# Shared by the packaging checks. Sourced; the checks run with set -eu.

# ctest reads this exit status as "skipped" (SKIP_RETURN_CODE).
SKIP=77

need() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (apt-get install the package that has it)"
      exit "$SKIP"
    fi
  done
}

# The files an install puts below its prefix, sorted: expected_files GUI MAN,
# each 1 when the window program or the man pages are built.
expected_files() {
  local gui=$1 man=$2 size
  {
    echo bin/cellbrook-cli
    echo share/bash-completion/completions/cellbrook-cli
    echo share/doc/cellbrook/changelog.gz
    echo share/doc/cellbrook/copyright
    [ "$man" = 1 ] && echo share/man/man1/cellbrook-cli.1.gz
    if [ "$gui" = 1 ]; then
      echo bin/cellbrook
      echo share/applications/cellbrook.desktop
      echo share/metainfo/org.example.cellbrook.metainfo.xml
      echo share/mime/packages/cellbrook.xml
      for size in 16 22 24 32 48 64 128 256; do
        echo "share/icons/hicolor/${size}x${size}/apps/cellbrook.png"
      done
      [ "$man" = 1 ] && echo share/man/man1/cellbrook.1.gz
    fi
  } | LC_ALL=C sort
}

# The commands the command line's usage names, one a line; none is a failure.
cli_commands() {
  local commands
  commands=$("$1" --help | sed -n 's/^.*cellbrook-cli \([a-z][a-z-]*\) .*$/\1/p' | LC_ALL=C sort -u)
  [ -n "$commands" ] || { echo "FAIL: '$1 --help' names no command" >&2; return 1; }
  echo "$commands"
}

# The commands of the command table (TABLE: the cellbrook-command-table
# dump), one a line; and the usage must name exactly these.
table_commands() {
  local table=$1 cli=$2 commands
  commands=$("$table" | cut -f1 | LC_ALL=C sort -u)
  [ -n "$commands" ] || { echo "FAIL: the command table names no command" >&2; return 1; }
  if [ "$commands" != "$(cli_commands "$cli")" ]; then
    echo "FAIL: the usage and the command table name different commands" >&2
    return 1
  fi
  echo "$commands"
}

# The options COMMAND takes by the table (field 2), or those that take a
# value (field 3), space-separated.
table_options() {
  "$1" | awk -F '\t' -v c="$2" -v f="${3:-2}" '$1 == c { print $f }'
}
