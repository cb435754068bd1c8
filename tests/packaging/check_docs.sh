#!/usr/bin/env bash
# The manual pages and the bash completion against the programs' own help:
# every command, option and exit status of ostrelgsm4, every option and fault
# kind of the simulator, and the project's version.
#   check_docs.sh OSTRELGSM4 SIM MAN SIM_MAN COMPLETION VERSION
set -uo pipefail
program=$1 sim=$2 man=$3 sim_man=$4 completion=$5 version=$6
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Manual page text without roff's escaped hyphens.
plain() { sed -e 's/\\-/-/g' -e 's/\\e/\\/g' "$1"; }
man_text=$(plain "$man")
sim_man_text=$(plain "$sim_man")

help=$("$program" --help) || fail "ostrelgsm4 --help failed"
# The options of the table (QCommandLineParser's own --help-all aside).
options=$(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | grep -vx -- '--help-all' | sort -u)
[[ -n $options ]] || fail "no options in --help"
for option in $options; do
  grep -qF -- "$option" <<<"$man_text" || fail "man page lacks $option"
  [[ $option == --help || $option == --version ]] && continue
  grep -qF -- "$option" "$completion" || fail "completion lacks $option"
done
for command in read write diff ports; do
  grep -qE "^  ostrelgsm4 $command" <<<"$help" || fail "--help lacks the command $command"
  grep -qE "^\.B ostrelgsm4 $command" <<<"$man_text" || fail "man page synopsis lacks $command"
  grep -qE "(^|[ |])$command([ |)]|$)" "$completion" || fail "completion lacks $command"
done
statuses=$(sed -n '/^Exit status:/,/^Every failure/p' <<<"$help" | grep -oE '^ +[0-9]+' | tr -d ' ')
for status in 0 1 2 3 4 129 130 143; do
  grep -qx "$status" <<<"$statuses" || fail "--help lacks exit status $status"
done
for status in $statuses; do
  grep -qx "\.B $status" <<<"$man_text" || fail "man page lacks exit status $status"
done

# The completion offers each command's own options (bash-completion's helpers stubbed).
bash -n "$completion" || fail "completion does not parse"
complete_words() {
  bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}
                         words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    _filedir() { COMPREPLY=(FILES); }
    complete() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ostrelgsm4; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[[ $(complete_words ostrelgsm4 write --) == *--backup*--verify* ]] || fail "write does not complete --backup --verify"
[[ $(complete_words ostrelgsm4 read --) != *--backup* ]] || fail "read completes --backup"
[[ $(complete_words ostrelgsm4 d) == diff ]] || fail "d does not complete to diff"
[[ $(complete_words ostrelgsm4 diff --in "") == FILES ]] || fail "--in does not complete files"

# The simulator: each option and each fault kind of its help.
sim_help=$("$sim" --help) || fail "simulator --help failed"
for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$sim_help" | sort -u); do
  grep -qF -- "$option" <<<"$sim_man_text" || fail "simulator man page lacks $option"
done
kinds=$(sed -n '/KIND is/,/(repeatable)/p' <<<"$sim_help" | sed -e 's/.*KIND is//' -e 's/([^)]*)//g' |
        tr ',' '\n' | sed -e 's/ or / /g' -e 's/(repeatable)//' | tr ' ' '\n' | grep -E '^[a-z]' | sed 's/=.*/=/')
[[ $(wc -w <<<"$kinds") -ge 10 ]] || fail "fault kinds not found in the simulator's help: $kinds"
for kind in $kinds; do
  grep -qwF -- "$kind" <<<"$sim_man_text" || fail "simulator man page lacks the fault kind $kind"
done

# One version everywhere.
[[ $("$program" --version) == "ostrelgsm4 $version" ]] || fail "--version is not $version"
grep -q "^\.TH .*\"OstrelGSM4 $version\"" "$man" || fail "man page version is not $version"
grep -q "^\.TH .*\"OstrelGSM4 $version\"" "$sim_man" || fail "simulator man page version is not $version"

[[ $failures -eq 0 ]] && echo "documentation matches the programs"
exit $((failures > 0))
