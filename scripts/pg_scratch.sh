#!/usr/bin/env bash
# A scratch PostgreSQL 15 server for the library tests, on a Unix socket in a
# temporary directory, with trust authentication for local connections only
# (no TCP port is opened).
#   scripts/pg_scratch.sh start STATE   starts it; STATE gets the library URL
#   scripts/pg_scratch.sh stop STATE    stops it and removes its directory
# The server never runs as root: under root it runs as the "postgres" user
# (Debian's package creates it).
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action="${1:?start or stop}"
state="${2:?state file}"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "pg_scratch: running as root and there is no postgres user to run the server as" >&2
    exit 1
  fi
  as_server=(runuser -u postgres --)
fi

case "$action" in
  start)
    if [ ! -x "$bin/initdb" ]; then
      echo "pg_scratch: PostgreSQL 15 is not installed (scripts/setup.sh installs postgresql-15)" >&2
      exit 1
    fi
    dir="$(mktemp -d /tmp/ostrel-pg.XXXXXX)"
    chmod 0755 "$dir"
    if [ ${#as_server[@]} -gt 0 ]; then chown postgres: "$dir"; fi
    "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U ostrel --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log" >&2; exit 1; }
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -c listen_addresses='' -c fsync=off -c max_connections=40" start >/dev/null \
      || { cat "$dir/server.log" >&2; exit 1; }
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
  *) echo "pg_scratch: start or stop" >&2; exit 2 ;;
esac
