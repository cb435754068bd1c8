#!/usr/bin/env bash
# A provisioning day through the command line against the panel simulator,
# recorded in the site library: read into a new site, diff, write with backup
# and verify, history, show piped into write to undo, the differences as JSON
# and between two records; then the library away (the panel's work and exit
# status unchanged, one warning line, the records spooled) and library sync;
# import, export, and sites added, changed and archived.
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
  # No state: the fixture was skipped, PostgreSQL 15 is not installed.
  [ -f "$state" ] || { echo "SKIP: no scratch PostgreSQL server (is postgresql-15 installed?)"; exit 77; }
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

# Commands that only read make no library: one line, status 5, nothing made
# (the default place's file, or the tables of an empty database).
made() {
  if [ "$engine" = sqlite ]; then ls "$library" "$XDG_DATA_HOME"/*/library.sqlite 2>/dev/null
  else psql -h "$host" -U ostrel -d "$db" -Atc '\dt' 2>/dev/null; fi
}
readers=("sites" "history|$site" "show|$site" "library|check" "library|export|out" "site|edit|$site|--notes|x"
         "site|archive|$site")
for reader in "${readers[@]}"; do
  IFS='|' read -ra words <<<"$reader"
  for where in given default; do
    [ "$engine" = postgresql ] && [ $where = default ] && continue
    if [ $where = given ]; then run "${words[@]}" >/dev/null 2>err.txt; else "$work/ostrelgsm4" "${words[@]}" >/dev/null 2>err.txt; fi
    status=$?
    [ $status -eq 5 ] && [ "$(wc -l <err.txt)" -eq 1 ] && grep -q "there is no library at" err.txt \
      || fail "${words[*]} ($where place) with no library: status $status, $(cat err.txt)"
    [ -z "$(made)" ] || fail "${words[*]} ($where place) made a library: $(made)"
  done
done
[ ! -e out ] || fail "library export with no library made its folder"

run read --port "$work/panel" --out first.ini --quiet --site "$site" || fail "read"
run diff --port "$work/panel" --in first.ini --quiet --site "$site" || fail "diff"
sed -e 's/^Phone3=.*/Phone3=+79160001122/' first.ini >changed.ini
run write --port "$work/panel" --in changed.ini --backup backup.ini --verify --quiet --site "$site" --operator anna \
  || fail "write"
run sites 0001122 | grep -qF "$site" || fail "sites does not find the new phone number"
run sites "8 (916) 000-11-22" | grep -qF "$site" || fail "sites does not find the number as an installer types it"
run show "$site" --record 1 >undo.ini || fail "show"
run write --port "$work/panel" --in undo.ini --quiet --site "$site" || fail "write of the shown record"
"$work/ostrelgsm4" diff --port "$work/panel" --in first.ini --quiet >/dev/null || fail "the undo did not restore the first read"

history=$(run history "$site" --json) || fail "history"
kinds=$(python3 -c 'import json,sys; print(" ".join(r["kind"]+":"+r["outcome"].split()[0] for r in json.load(sys.stdin)))' <<<"$history")
expected="read:success compare:same backup:success write:success verify:success write:success"
[ "$kinds" = "$expected" ] || fail "history: $kinds, expected $expected"
[ "$(python3 -c 'import json,sys; print(json.load(sys.stdin)[3]["operator"])' <<<"$history")" = anna ] \
  || fail "the operator of the write"
# Every record names the panel's firmware, a write's too (its file holds none).
firmware=$(python3 -c 'import json,sys; print(",".join(sorted({r["firmware"] for r in json.load(sys.stdin)})))' <<<"$history")
[[ "$firmware" == *"VER 05"* && "$firmware" != *,* ]] || fail "the records' firmware: $firmware"

# The differences for scripts: the panel against a file, two records.
"$work/ostrelgsm4" diff --port "$work/panel" --in first.ini --quiet --json >diff.json; status=$?
[ $status -eq 0 ] && [ "$(python3 -c 'import json,sys; print(len(json.load(sys.stdin)))' <diff.json)" = 0 ] \
  || fail "diff --json of equal settings: $status $(cat diff.json)"
sed -e 's/^Phone3=.*/Phone3=+79035550000/' first.ini >other.ini
"$work/ostrelgsm4" diff --port "$work/panel" --in other.ini --quiet --json >diff.json 2>err.txt; status=$?
[ $status -eq 4 ] || fail "diff --json ended with $status"
python3 - diff.json first.ini <<'PY' || fail "diff --json: $(cat diff.json)"
import json, sys
d = json.load(open(sys.argv[1]))
first = [l.split("=", 1)[1] for l in open(sys.argv[2]).read().splitlines() if l.startswith("Phone3=")][0]
assert [(x["section"], x["key"], x["panel"], x["file"]) for x in d] == [("Phones", "Phone3", first, "+79035550000")], d
assert d[0]["name"]
PY
tail -1 err.txt | grep -q "^ostrelgsm4: 1 settings differ" || fail "diff --json final line: $(cat err.txt)"
run history "$site" --diff 1 2 >same.txt || fail "history --diff of the read and the compare"
[ ! -s same.txt ] || fail "history --diff of equal records printed $(cat same.txt)"
run history "$site" --diff 1 4 >records.txt 2>err.txt; status=$?
[ $status -eq 4 ] || fail "history --diff 1 4 ended with $status"
grep -qx "\[Phones\] Phone3: record 1 '.*' record 4 '+79160001122'" records.txt || fail "history --diff: $(cat records.txt)"
tail -1 err.txt | grep -q "^ostrelgsm4: 1 settings differ between records 1 and 4" || fail "history --diff final line"
run history "$site" --diff 4 1 --json >records.json 2>/dev/null
python3 -c 'import json,sys; d=json.load(sys.stdin); assert d[0]["from"]=="+79160001122" and d[0]["key"]=="Phone3", d' \
  <records.json || fail "history --diff --json: $(cat records.json)"
run history "$site" --diff 1 99 >/dev/null 2>&1; [ $? -eq 1 ] || fail "history --diff of a record that is not there"

# The library away (its folder or its database not made yet): the panel's
# work and status are the panel's own, and the record waits for that library
# alone; other libraries store none of it and say so in one line.
if [ "$engine" = sqlite ]; then away="$work/later/library.sqlite"
else away_db=later$$; away="postgresql://ostrel@/$away_db?host=$host"; fi
"$work/ostrelgsm4" read --port "$work/panel" --out later.ini --quiet --site "$site" --library "$away" 2>err.txt
status=$?
[ $status -eq 0 ] || fail "read with the library away ended with $status"
[ "$(grep -c 'warning' err.txt)" -eq 1 ] && [ "$(wc -l <err.txt)" -eq 1 ] || fail "not one warning line: $(cat err.txt)"
cmp -s later.ini first.ini || fail "the read with the library away did not save its file"
before=$(run history "$site" | wc -l)
run sites >/dev/null 2>err.txt
grep -q "^ostrelgsm4: 1 records in the spool wait for other libraries" err.txt || fail "sites on another library: $(cat err.txt)"
run library sync >out.txt 2>err.txt || fail "library sync of another library's record: $(cat out.txt err.txt)"
grep -q "^0 records stored, 0 waiting$" out.txt && grep -q "later.*	1$" out.txt \
  || fail "library sync did not list the other library's record: $(cat out.txt)"
[ "$(run history "$site" | wc -l)" -eq "$before" ] || fail "another library's record was stored"
if [ "$engine" = sqlite ]; then mkdir "$work/later"; else createdb -h "$host" -U ostrel "$away_db" || exit 1; fi
"$work/ostrelgsm4" library sync --library "$away" | grep -q "^1 records stored, 0 waiting" || fail "library sync of its own"
[ "$("$work/ostrelgsm4" history "$site" --library "$away" | tail -1 | cut -f4)" = read ] || fail "the spooled read is not in its library"
[ "$engine" = postgresql ] && dropdb -h "$host" -U ostrel "$away_db"
run library check >/dev/null || fail "library check"
# A spool file no library takes is set aside with its reason; sync and check
# say so until it is dealt with.
spool=$(echo "$XDG_DATA_HOME"/*/library-spool)
echo '{"site": "Склад", "uid": "x", "time": "yesterday"}' >"$spool/0-junk.record"
run library sync >out.txt 2>err.txt; status=$?
[ $status -eq 5 ] && grep -q ", 1 set aside in $spool/quarantine" out.txt && grep -q "NAME.why" err.txt \
  || fail "library sync of a damaged spool file: $status $(cat out.txt err.txt)"
grep -q "time is not a time" "$spool/quarantine/0-junk.record.why" || fail "no reason beside the damaged file"
run library check >out.txt 2>/dev/null; status=$?
[ $status -eq 5 ] && grep -q "^records set aside in $spool/quarantine .*: 1$" out.txt \
  || fail "library check with a record set aside: $status $(cat out.txt)"
rm -r "$spool/quarantine"
# A record an earlier version spooled names no library: it waits for the
# default library of the user's data directory, which alone takes it.
printf '%s' '{"site": "Старый", "uid": "earlier-1", "time": "2026-01-01T00:00:00.000Z", "operator": "x", "host": "h",
 "kind": "read", "outcome": "success", "firmware": "", "port": "p", "settings": "[Phones]\nPhone1=1\n"}' \
  >"$spool/0-earlier.record"
run library sync >out.txt 2>err.txt || fail "library sync with an earlier version's record: $(cat out.txt err.txt)"
grep -q "^0 records stored, 0 waiting$" out.txt && grep -q "/OstrelGSM4/library.sqlite	1$" out.txt \
  && grep -q "earlier version.*default library" err.txt || fail "an earlier version's record: $(cat out.txt err.txt)"
"$work/ostrelgsm4" library sync | grep -q "^1 records stored, 0 waiting" \
  || fail "the default library did not take the earlier version's record"

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

# Sites on the command line.
run site add "Новый" --address "ул. Речная, 3" --number +79161234567 | grep -qx "Новый: added" || fail "site add"
run site add "Новый" >/dev/null 2>&1; [ $? -eq 1 ] || fail "a site added twice"
run sites речная | grep -q "^Новый" || fail "sites does not find the new address"
run site edit "Новый" --rename "Новый 2" --notes "код 1234" | grep -qx "Новый 2: changed" || fail "site edit"
[ "$(run sites "код 1234" | cut -f1)" = "Новый 2" ] || fail "sites does not find the new notes"
[ -z "$(run sites "Новый" | grep -x "Новый.ул. Речная, 3")" ] || fail "the old name is still found"
run site archive "Новый 2" | grep -qx "Новый 2: archived" || fail "site archive"
[ -z "$(run sites речная)" ] || fail "an archived site is listed"
run site edit nowhere --notes x >/dev/null 2>&1; [ $? -eq 1 ] || fail "site edit of no site"
run site edit "Новый 2" >/dev/null 2>&1; [ $? -eq 1 ] || fail "site edit without a change"
run site move x >/dev/null 2>&1; [ $? -eq 1 ] || fail "site move"
run library check >/dev/null || fail "library check at the end"

# The history through the database's own client: a change is refused; with
# the triggers dropped it is made, and library check names it.
if [ "$engine" = sqlite ]; then
  sql() { sqlite3 "$library" "$1"; }
  drop="DROP TRIGGER records_kept;"
else
  sql() { psql -X -q -v ON_ERROR_STOP=1 -h "$host" -U ostrel -d "$db" -c "$1"; }
  drop="DROP TRIGGER records_kept ON records;"
fi
change="UPDATE records SET outcome = 'refused' WHERE number = 2 AND site_id = (SELECT id FROM sites WHERE name = '${site//\'/\'\'}')"
sql "$change" >/dev/null 2>&1 && fail "an UPDATE of a record was not refused"
sql "DELETE FROM records" >/dev/null 2>&1 && fail "a DELETE of records was not refused"
run site add "Пустой" >/dev/null || fail "site add"
sql "DELETE FROM sites WHERE name = 'Пустой'" >/dev/null 2>&1 && fail "a DELETE of a site was not refused"
run library check >/dev/null || fail "library check after the refused changes"
sql "$drop $change" >/dev/null || fail "the UPDATE with the triggers dropped"
run library check >check.txt 2>err.txt; status=$?
[ $status -eq 5 ] || fail "library check of a changed record ended with $status"
grep -qxF "site $site: record 2 is not what was stored (its hash differs)" check.txt || fail "library check did not name the changed record: $(cat check.txt)"
[ "$(wc -l <check.txt)" -eq 1 ] || fail "library check named more than the changed record: $(cat check.txt)"

if [ "$engine" = postgresql ]; then dropdb -h "$host" -U ostrel "$db" || true; fi
[ $failures -eq 0 ] && echo "provisioning day on $engine: ok"
exit $((failures > 0))
