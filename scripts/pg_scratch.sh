#!/usr/bin/env bash
# A scratch PostgreSQL 15 server for the library tests, on a Unix socket in a
# temporary directory, with trust authentication for local connections only
# (no TCP port is opened).
#   scripts/pg_scratch.sh start STATE   starts it; STATE gets the library URL
#   scripts/pg_scratch.sh start-tls STATE
#                                       the same, also on TCP 127.0.0.1 with TLS
#                                       only (libpq uses none on a Unix socket):
#                                       STATE's first line is the URL over TCP,
#                                       certificates in DIR/tls (see tls_files)
#   scripts/pg_scratch.sh stop STATE    stops it and removes its directory
#   scripts/pg_scratch.sh pause STATE   stops it, keeping its data (a server gone away)
#   scripts/pg_scratch.sh resume STATE  starts it again on its data
# The server never runs as root: under root it runs as the "postgres" user
# (Debian's package creates it).
# Exit status 77: what the server needs is not installed (a test skips).
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action="${1:?start, start-tls, stop, pause or resume}"
state="${2:?state file}"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "pg_scratch: running as root and there is no postgres user to run the server as" >&2
    exit 1
  fi
  as_server=(runuser -u postgres --)
fi

# The server's options: a Unix socket only, or those kept in DIR/server.opts.
server_try() {
  local options="-k $1 -c listen_addresses='' -c fsync=off -c max_connections=40"
  if [ -f "$1/server.opts" ]; then options="-k $1 -c fsync=off -c max_connections=40 $(cat "$1/server.opts")"; fi
  "${as_server[@]}" "$bin/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 -o "$options" start >/dev/null
}

server_start() {
  server_try "$1" || { cat "$1/server.log" >&2; exit 1; }
}

need() {
  if [ ! -x "$bin/initdb" ]; then
    echo "pg_scratch: PostgreSQL 15 is not installed (bash scripts/setup.sh test installs postgresql-15)" >&2
    exit 77
  fi
  if [ "$1" = tls ] && ! command -v openssl >/dev/null; then
    echo "pg_scratch: openssl is not installed (bash scripts/setup.sh test installs it)" >&2
    exit 77
  fi
}

initialise() {
  dir="$(mktemp -d /tmp/ostrel-pg.XXXXXX)"
  chmod 0755 "$dir"
  if [ ${#as_server[@]} -gt 0 ]; then chown postgres: "$dir"; fi
  "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U ostrel --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
}

# DIR/tls for start-tls, all made here with openssl:
#   ca.crt                the CA that signed the server's and the client's certificates
#   other-ca.crt          a CA that signed nothing of this server's
#   client.crt client.key the role "certified" (which logs in by certificate only)
# The server's certificate names localhost only (not 127.0.0.1); the role
# "ostrel" logs in over TLS without a certificate, no role without TLS.
tls_files() {
  local tls="$1/tls"
  mkdir -p "$tls"
  (
    cd "$tls"
    quiet() { "$@" >/dev/null 2>&1 || { echo "pg_scratch: openssl failed: $*" >&2; exit 1; }; }
    quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ostrel scratch CA" -keyout ca.key -out ca.crt
    quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=another CA" -keyout other-ca.key -out other-ca.crt
    quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr
    printf 'subjectAltName=DNS:localhost\n' >server.ext
    quiet openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext -out server.crt
    quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=certified" -keyout client.key -out client.csr
    quiet openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -out client.crt
    chmod 0600 client.key server.key
  )
  if [ ${#as_server[@]} -gt 0 ]; then chown postgres: "$tls/server.key"; fi
  chmod 0755 "$tls"
}

case "$action" in
  start)
    need plain
    initialise
    server_start "$dir"
    "$bin/createdb" -h "$dir" -U ostrel library_test
    printf 'postgresql://ostrel@/library_test?host=%s\n%s\n' "$dir" "$dir" >"$state"
    ;;
  start-tls)
    need tls
    initialise
    tls_files "$dir"
    printf 'local all all trust\nhostssl all ostrel 127.0.0.1/32 trust\nhostssl all certified 127.0.0.1/32 cert\n' \
      >"$dir/data/pg_hba.conf"
    # A free port: a few tries, the ports of other servers are taken.
    started=""
    for _ in 1 2 3 4 5 6 7 8; do
      port=$((20000 + RANDOM % 30000))
      printf '%s' "-p $port -c listen_addresses=127.0.0.1 -c ssl=on -c ssl_cert_file=$dir/tls/server.crt \
-c ssl_key_file=$dir/tls/server.key -c ssl_ca_file=$dir/tls/ca.crt" >"$dir/server.opts"
      if server_try "$dir"; then started=1; break; fi
    done
    if [ -z "$started" ]; then cat "$dir/server.log" >&2; exit 1; fi
    "$bin/createdb" -h "$dir" -p "$port" -U ostrel library_test
    "$bin/createuser" -h "$dir" -p "$port" -U ostrel --superuser certified
    printf 'postgresql://ostrel@localhost:%s/library_test\n%s\n' "$port" "$dir" >"$state"
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
  *) echo "pg_scratch: start, start-tls, stop, pause or resume" >&2; exit 2 ;;
esac
