#!/usr/bin/env bash
# The bash completion offers sub-commands, each sub-command's options and directories after --dir; it
# and the manual page cover every sub-command and option the program's own help names.
# Usage: bash_completion_test.sh COMPLETION_FILE PROGRAM MANUAL_PAGE_SOURCE
set -uo pipefail
source /usr/share/bash-completion/bash_completion || exit 1
source "$1" || exit 1

failures=0
# complete LINE EXPECTED: the words offered for the last word of LINE, sorted, against EXPECTED.
complete_line() {
  local line=$1 expected=$2 got
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _qev_scoreboard qev-scoreboard "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' -> '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/work-a" "$tmp/work-b"
touch "$tmp/work-file"
cd "$tmp" || exit 1

complete_line "qev-scoreboard " "init status verify version"
complete_line "qev-scoreboard ver" "verify version"
complete_line "qev-scoreboard -" "--dir --help -h"
complete_line "qev-scoreboard --dir " "work-a work-b"
complete_line "qev-scoreboard --dir wo" "work-a work-b"
complete_line "qev-scoreboard --di work-a " "init status verify version"
complete_line "qev-scoreboard --dir work-a in" "init"
complete_line "qev-scoreboard --dir work-a init -" "--dry-run --force --help -h"
complete_line "qev-scoreboard verify --" "--db --help"
complete_line "qev-scoreboard verify --db work-f" "work-file"
complete_line "qev-scoreboard status -" "--help --json -h"
complete_line "qev-scoreboard version " "--help -h"
# Against the program's help: its sub-commands and each one's options, in the completion and the manual.
program=$2
manual=$3
commands=$("$program" --help | head -1 | grep -o '{[a-z,]*}' | tr -d '{}' | tr ',' '\n' | LC_ALL=C sort | paste -sd' ')
[ -n "$commands" ] || { echo "FAIL: no sub-commands in the program's help"; exit 1; }
complete_line "qev-scoreboard " "$commands"
complete_line "qev-scoreboard -" "$( (echo -h; echo --help; "$program" --help | head -1 | grep -o -- '--[a-z-]*') | LC_ALL=C sort -u | paste -sd' ')"
for command in $commands; do
  options=$( (echo -h; echo --help; "$program" "$command" --help | head -1 | grep -o -- '--[a-z-]*') | LC_ALL=C sort -u | paste -sd' ')
  complete_line "qev-scoreboard $command -" "$options"
  grep -q "^\.B $command\$" "$manual" || { echo "FAIL: the manual page has no entry for $command"; failures=$((failures + 1)); }
  for option in $options; do
    grep -q -- "${option//-/\\\\-}" "$manual" || { echo "FAIL: the manual page does not name $option"; failures=$((failures + 1)); }
  done
done
exit $((failures > 0))
