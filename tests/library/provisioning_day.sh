#!/usr/bin/env bash
# A provisioning day through the command line against the panel simulator,
# recorded in the site library: read into a new site, diff, write with backup
# and verify, history, show piped into write to undo; then the library away
# (the panel's work and exit status unchanged, one warning line, the records
# spooled) and library sync.
#   provisioning_day.sh PROGRAM SIM ENGINE [PG_STATE]     ENGINE: sqlite or postgresql
set -uo pipefail
program=$1 sim=$2 engine=$3 state=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
# A copy outside the build tree keeps its data under XDG_DATA_HOME.
cp "$program" "$work/ostrelgsm4"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
unset OSTREL_LIBRARY
"$sim" --link "$work/panel" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/panel" ] && break; sleep 0.1; done

if [ "$engine" = sqlite ]; then
  library=$work/library.sqlite
else
  library=$(head -1 "$state")
  [ -n "$library" ] || { echo "FAIL: the scratch PostgreSQL server did not start"; exit 1; }
  # A fresh database for this run.
  host=${library#*host=}
  db=day$$
  createdb -h "$host" -U ostrel "$db" || exit 1
  library="postgresql://ostrel@/$db?host=$host"
fi
run() { "$work/ostrelgsm4" "$@" --library "$library"; }
site="Склад «Север» 'A'"
cd "$work"

run read --port "$work/panel" --out first.ini --quiet --site "$site" || fail "read"
run diff --port "$work/panel" --in first.ini --quiet --site "$site" || fail "diff"
sed -e 's/^Phone3=.*/Phone3=+79160001122/' first.ini >changed.ini
run write --port "$work/panel" --in changed.ini --backup backup.ini --verify --quiet --site "$site" --operator anna \
  || fail "write"
run sites 0001122 | grep -qF "$site" || fail "sites does not find the new phone number"
run show "$site" --record 1 >undo.ini || fail "show"
run write --port "$work/panel" --in undo.ini --quiet --site "$site" || fail "write of the shown record"
"$work/ostrelgsm4" diff --port "$work/panel" --in first.ini --quiet >/dev/null || fail "the undo did not restore the first read"

history=$(run history "$site" --json) || fail "history"
kinds=$(python3 -c 'import json,sys; print(" ".join(r["kind"]+":"+r["outcome"].split()[0] for r in json.load(sys.stdin)))' <<<"$history")
expected="read:success compare:same backup:success write:success verify:success write:success"
[ "$kinds" = "$expected" ] || fail "history: $kinds, expected $expected"
[ "$(python3 -c 'import json,sys; print(json.load(sys.stdin)[3]["operator"])' <<<"$history")" = anna ] \
  || fail "the operator of the write"

# The library away: the panel's work and status are the panel's own.
away="postgresql://ostrel@/nowhere?host=$work/no-server"
[ "$engine" = sqlite ] && away="$work/no such dir/library.sqlite"
"$work/ostrelgsm4" read --port "$work/panel" --out later.ini --quiet --site "$site" --library "$away" 2>err.txt
status=$?
[ $status -eq 0 ] || fail "read with the library away ended with $status"
[ "$(grep -c 'warning' err.txt)" -eq 1 ] && [ "$(wc -l <err.txt)" -eq 1 ] || fail "not one warning line: $(cat err.txt)"
cmp -s later.ini first.ini || fail "the read with the library away did not save its file"
run library sync | grep -q "^1 records stored, 0 waiting" || fail "library sync"
[ "$(run history "$site" | tail -1 | cut -f4)" = read ] || fail "the spooled read is not the last record"
run library check >/dev/null || fail "library check"

# A folder of settings files in and out: a site per file, the latest record
# per site out; a second import adds nothing; a file write refuses is named.
mkdir in && cp first.ini "in/Дом 1.ini" && cp changed.ini in/office.ini
run library import in >/dev/null || fail "library import"
run library import in | grep -q "^0 files imported, 2 unchanged" || fail "library import again"
[ "$(run history office | wc -l)" -eq 1 ] || fail "a second import added records"
echo junk >in/broken.ini
run library import in >/dev/null 2>err.txt && fail "a broken file imported"
grep -q "broken.ini" err.txt || fail "the refused file is not named"
run library export out >/dev/null || fail "library export"
grep -qx 'Phone3=+79160001122' <(tr -d '\r' <out/office.ini) || fail "the export of office"
"$work/ostrelgsm4" diff --port "$work/panel" --in "out/Дом 1.ini" --quiet >/dev/null || fail "the exported file is not what was read"
[ -f "out/$site.ini" ] || fail "the site of the day was not exported"

if [ "$engine" = postgresql ]; then dropdb -h "$host" -U ostrel "$db" || true; fi
[ $failures -eq 0 ] && echo "provisioning day on $engine: ok"
exit $((failures > 0))
