#!/usr/bin/env bash
# A scratch PostgreSQL 15 server for the library tests, on a Unix socket in a
# temporary directory, with trust authentication for local connections only
# (no TCP port is opened).
#   scripts/pg_scratch.sh start STATE   starts it; STATE gets the library URL
#   scripts/pg_scratch.sh stop STATE    stops it and removes its directory
#   scripts/pg_scratch.sh pause STATE   stops it, keeping its data (a server gone away)
#   scripts/pg_scratch.sh resume STATE  starts it again on its data
# The server never runs as root: under root it runs as the "postgres" user
# (Debian's package creates it).
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action="${1:?start, stop, pause or resume}"
state="${2:?state file}"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "pg_scratch: running as root and there is no postgres user to run the server as" >&2
    exit 1
  fi
  as_server=(runuser -u postgres --)
fi

server_start() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 \
    -o "-k $1 -c listen_addresses='' -c fsync=off -c max_connections=40" start >/dev/null \
    || { cat "$1/server.log" >&2; exit 1; }
}

case "$action" in
  start)
    if [ ! -x "$bin/initdb" ]; then
      echo "pg_scratch: PostgreSQL 15 is not installed (bash scripts/setup.sh test installs postgresql-15)" >&2
      exit 1
    fi
    dir="$(mktemp -d /tmp/ostrel-pg.XXXXXX)"
    chmod 0755 "$dir"
    if [ ${#as_server[@]} -gt 0 ]; then chown postgres: "$dir"; fi
    "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U ostrel --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log" >&2; exit 1; }
    server_start "$dir"
    "$bin/createdb" -h "$dir" -U ostrel library_test
    printf 'postgresql://ostrel@/library_test?host=%s\n%s\n' "$dir" "$dir" >"$state"
    ;;
  stop)
    [ -f "$state" ] || exit 0
    dir="$(sed -n 2p "$state")"
    if [ -d "$dir/data" ]; then "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true; fi
    case "$dir" in /tmp/ostrel-pg.*) rm -rf "$dir" ;; esac
    rm -f "$state"
    ;;
  pause)
    dir="$(sed -n 2p "$state")"
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    ;;
  resume)
    server_start "$(sed -n 2p "$state")"
    ;;
  *) echo "pg_scratch: start, stop, pause or resume" >&2; exit 2 ;;
esac
