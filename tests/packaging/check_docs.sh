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

# The manual page as man shows it (groff, wide lines: no word is broken).
rendered=$(groff -K utf8 -man -Tutf8 -rLL=300n -P -cbou "$man" 2>&1) || fail "groff cannot render the manual page"
section() { sed -n "/^$1\$/,/^[A-Z][A-Z ]*\$/p" <<<"$rendered"; }
# Each command's synopsis line is --help's, option for option (a value of two
# words stays two: [--diff N M]).
for command in $(grep -oE '^  ostrelgsm4 [a-z]+' <<<"$help" | awk '{print $2}'); do
  want=$(grep -E "^  ostrelgsm4 $command( |$)" <<<"$help" | sed 's/^  //')
  grep -qxF -- "       $want" <<<"$(section SYNOPSIS)" || fail "man synopsis of $command is not: $want"
done
grep -qF -- '[--diff N M]' <<<"$(section SYNOPSIS)" || fail "man synopsis lacks [--diff N M]"
# Commands write none of the window's files but read the library's URL from
# current.ini.
description=$(section DESCRIPTION | tr -s ' \n' '  ')
grep -qi "never reads" <<<"$description" && fail "man page says commands never read the window's files"
grep -qF '[Library] Url= from current.ini' <<<"$description" || fail "man page does not say commands read [Library] Url="
files=$(section FILES | tr -s " ")
for file in library.sqlite library-spool/; do
  grep -qF "/OstrelGSM4/$file" <<<"$files" || fail "man FILES lacks $file"
done
environment=$(section ENVIRONMENT | tr -s " ")
[[ -n $environment ]] || fail "man page has no ENVIRONMENT section"
for variable in OSTREL_LIBRARY XDG_CONFIG_HOME XDG_DATA_HOME HOME PGPASSWORD PGSSLMODE; do
  grep -qw "$variable" <<<"$environment" || fail "man ENVIRONMENT lacks $variable"
done
grep -qE "libpq.s own" <<<"$environment" || fail "man ENVIRONMENT does not leave PG* to libpq"

# The completion offers each command's own options (bash-completion's helpers stubbed).
bash -n "$completion" || fail "completion does not parse"
complete_words() {
  bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}
                         words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    _filedir() { if [[ ${1-} == -d ]]; then COMPREPLY=(DIRS); else COMPREPLY=(FILES); fi; }
    complete() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ostrelgsm4; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[[ $(complete_words ostrelgsm4 write --) == *--backup*--verify* ]] || fail "write does not complete --backup --verify"
[[ $(complete_words ostrelgsm4 read --) != *--backup* ]] || fail "read completes --backup"
[[ $(complete_words ostrelgsm4 d) == diff ]] || fail "d does not complete to diff"
[[ $(complete_words ostrelgsm4 diff --in "") == FILES ]] || fail "--in does not complete files"
# The words after the command, and the command among option values: each case
# is the words typed (the last one being completed), then what is offered.
while IFS='|' read -r typed want; do
  read -r -a words <<<"$typed"
  [[ $typed == *' ' ]] && words+=("")
  got=$(complete_words ostrelgsm4 "${words[@]}")
  [[ $got == "$want" ]] || fail "completion of 'ostrelgsm4 $typed': got '$got', expected '$want'"
done <<'CASES'
site |add edit archive
site --library x.sqlite |add edit archive
site e|edit
library |sync check import export
library ex|export
library import |DIRS
library --library x.sqlite export |DIRS
library sync |
site add --|--library --address --notes --number
site edit A --|--library --address --notes --number --rename
site archive A --|--library
read --site diff --|--port --out --adc --phone --quiet --site --library --operator
read --site=diff --|--port --out --adc --phone --quiet --site --library --operator
read --site = diff --|--port --out --adc --phone --quiet --site --library --operator
--port diff |read write diff monitor ports sites history show site library
history S --diff 1 2 --j|--json
monitor --|--port --phone --quiet --channel --duration --csv --json
CASES

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
