#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests: made in a folder of its own, run by an
# unprivileged user (nobody, when started by root), listening on 127.0.0.1 only on a free port,
# with one superuser role "ct" that needs no password from there.
# Usage: scripts/postgres-test-cluster.sh start FOLDER   makes and starts it; prints its URL
#        scripts/postgres-test-cluster.sh url FOLDER     prints the URL of the running cluster
#        scripts/postgres-test-cluster.sh stop FOLDER    stops it and removes FOLDER
#        scripts/postgres-test-cluster.sh crash FOLDER   stops it at once, as a crash would
#        scripts/postgres-test-cluster.sh restart FOLDER starts it again on its port
#        scripts/postgres-test-cluster.sh freeze FOLDER  stops all its processes where they stand,
#                                                        sockets open, as a hung machine would
#        scripts/postgres-test-cluster.sh thaw FOLDER    lets them go on
# The data is for tests only, so it is not synced to disk (fsync=off): a commit still waits for
# its log to be written, which is what the tests can observe.
set -euo pipefail

command=${1:-}
folder=${2:-}
if [ -z "$command" ] || [ -z "$folder" ]; then
  echo "usage: $0 start|url|stop|crash|restart|freeze|thaw FOLDER" >&2
  exit 2
fi

bindir=${PG_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ ! -x "$bindir/pg_ctl" ]; then
  echo "postgres-test-cluster: no PostgreSQL server binaries (scripts/setup.sh installs them)" >&2
  exit 1
fi

# PostgreSQL refuses to run as root.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

url() {
  echo "postgresql://ct@127.0.0.1:$(cat "$folder/port")/postgres"
}

# Starts the server on port $1; fails when it does not come up.
run_server() {
  as_owner "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 30 \
    -o "-c listen_addresses=127.0.0.1 -p $1 -c unix_socket_directories='$folder' \
        -c fsync=off -c full_page_writes=off -c max_connections=500" \
    start >/dev/null
}

case "$command" in
  start)
    mkdir -p "$folder"
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$folder"; fi
    chmod 700 "$folder"
    as_owner "$bindir/initdb" -D "$folder/data" -U ct -A trust -E UTF8 --locale=C --no-sync \
      --no-instructions >"$folder/initdb.log" 2>&1 ||
      { cat "$folder/initdb.log" >&2; exit 1; }
    # A port that is taken makes the server exit at once; another is tried.
    for attempt in $(seq 20); do
      port=$((20000 + RANDOM % 40000))
      if run_server "$port"; then
        echo "$port" >"$folder/port"
        url
        exit 0
      fi
    done
    echo "postgres-test-cluster: the server did not start; its log:" >&2
    cat "$folder/server.log" >&2
    exit 1 ;;
  url)
    url ;;
  stop)
    if [ -f "$folder/data/postmaster.pid" ]; then
      as_owner "$bindir/pg_ctl" -D "$folder/data" -m fast -w stop >/dev/null || true
    fi
    rm -rf "$folder" ;;
  crash)
    as_owner "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null ;;
  restart)
    run_server "$(cat "$folder/port")" || { cat "$folder/server.log" >&2; exit 1; } ;;
  freeze|thaw)
    # The postmaster first, so that it starts no process after its children were listed.
    postmaster=$(head -n 1 "$folder/data/postmaster.pid")
    signal=$([ "$command" = freeze ] && echo STOP || echo CONT)
    as_owner kill -"$signal" "$postmaster"
    children=$(pgrep -P "$postmaster" || true)
    if [ -n "$children" ]; then as_owner kill -"$signal" $children; fi ;;
  *)
    echo "usage: $0 start|url|stop|crash|restart|freeze|thaw FOLDER" >&2
    exit 2 ;;
esac
