#!/bin/bash
# What the bash completion offers at each position of each command.
# Usage: completion_test.sh COMPLETION_FILE CLI SCRATCH TABLE
set -eu
. "$(dirname "$0")/common.sh"
completion=$(realpath "$1") cli=$(realpath "$2") scratch=$3/packaging/completion table=$(realpath "$4")
rm -rf "$scratch"
mkdir -p "$scratch"
touch "$scratch/SAM" "$scratch/SYSTEM" "$scratch/out.reg"
cd "$scratch"

# complete LINE...: what completing the last word offers, sorted, one line.
complete_words() {
  bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _cellbrook_cli
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd " "' _ "$completion" "$@"
}

status=0
check() {
  local want=$1
  shift
  local got
  got=$(complete_words cellbrook-cli "$@")
  if [ "$got" != "$want" ]; then
    echo "FAIL: cellbrook-cli $* <TAB> offers '$got', wanted '$want'"
    status=1
  fi
}

check "--help --version -h artifacts carve deleted diff export find history info key keys recover save timeline values" ""
check "export" ex
check "SAM SYSTEM" keys S
check "SAM SYSTEM out.reg" values ""
check "ROOT" values SAM ""
check "ROOT" export SAM R
check "out.reg" export SAM ROOT o
check "out.reg" export --prefix HKEY_CURRENT_USER SAM ROOT o
check "--log --no-logs --prefix" export SAM ROOT out.reg -
check "--json --log --no-logs" info SAM -
check "bodyfile csv" timeline SAM --format ""
check "SAM SYSTEM" keys --log S
check "out.reg" recover SAM o
check 'HKEY_LOCAL_MACHINE\\SOFTWARE HKEY_LOCAL_MACHINE\\SYSTEM' export SAM ROOT out.reg --prefix HKEY_L
check "" save SAM ROOT ""
check "out.reg" save SAM ROOT Value o
check "" keys SAM ROOT ""
check "ROOT" key SAM R
check "--details --json --log --long --no-logs" keys SAM -
check "--json --log --no-logs" key SAM ROOT -
check "SAM SYSTEM" diff SAM S
check "ROOT" diff SAM SYSTEM R
check "--json --log --logs --no-logs --prefix --reg" diff SAM SYSTEM -
check "out.reg" diff SAM SYSTEM --reg o
check "--json --log" history SAM -
check "SAM SYSTEM" artifacts S
check "shellbags shimcache shutdown_time" artifacts SAM sh
check "sam_users" artifacts SAM shellbags sa
check "SAM SYSTEM" artifacts SAM --with S
check "--csv --json --list --log --no-logs --with" artifacts SAM -
# Every decoder the command lists is completed as a NAME.
for name in $("$cli" artifacts --list | cut -f1); do
  [ "$(complete_words cellbrook-cli artifacts SAM "$name")" = "$name" ] ||
    { echo "FAIL: artifact '$name' is not completed"; status=1; }
done
check "--json" carve SAM -
check "SAM SYSTEM" carve S
mkdir carved
check "carved" carve SAM c

# Every command of the table is offered first; after its hive, exactly the
# options the table gives it; and a value after an option is no argument.
offered=$(complete_words cellbrook-cli "")
commands=$(table_commands "$table" "$cli")
for command in $commands; do
  grep -qw -- "$command" <<<"$offered" || { echo "FAIL: '$command' is not completed"; status=1; }
  check "$(table_options "$table" "$command")" "$command" SAM -
  for option in $(table_options "$table" "$command" 3); do
    check "SAM SYSTEM" "$command" "$option" x S
  done
done
[ $status = 0 ] && echo "completion: all cases pass"
exit $status
