#!/usr/bin/env bash
# A throw-away Redis for the tests: run by an unprivileged user (nobody, when started by root) in
# a folder of its own, listening on 127.0.0.1 only on a free port, keeping nothing on disk.
# Usage: scripts/redis-test-server.sh start FOLDER   starts it; prints its URL
#        scripts/redis-test-server.sh url FOLDER     prints the URL of the running server
#        scripts/redis-test-server.sh stop FOLDER    stops it and removes FOLDER
set -euo pipefail

command=${1:-}
folder=${2:-}
if [ -z "$command" ] || [ -z "$folder" ]; then
  echo "usage: $0 start|url|stop FOLDER" >&2
  exit 2
fi

if ! command -v redis-server >/dev/null; then
  echo "redis-test-server: no redis-server (scripts/setup.sh installs it)" >&2
  exit 1
fi

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

url() {
  echo "redis://127.0.0.1:$(cat "$folder/port")"
}

case "$command" in
  start)
    mkdir -p "$folder"
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$folder"; fi
    chmod 700 "$folder"
    # A port that is taken makes the server exit at once; another is tried.
    for attempt in $(seq 20); do
      port=$((20000 + RANDOM % 40000))
      as_owner redis-server --bind 127.0.0.1 --port "$port" --dir "$folder" \
        --save "" --appendonly no --daemonize yes --pidfile "$folder/redis.pid" \
        --logfile "$folder/server.log" --protected-mode yes >/dev/null || continue
      for wait in $(seq 50); do
        if redis-cli -h 127.0.0.1 -p "$port" ping 2>/dev/null | grep -qx PONG; then
          echo "$port" >"$folder/port"
          url
          exit 0
        fi
        if [ -f "$folder/redis.pid" ] && ! kill -0 "$(cat "$folder/redis.pid")" 2>/dev/null; then
          break
        fi
        sleep 0.1
      done
      if [ -f "$folder/redis.pid" ]; then kill "$(cat "$folder/redis.pid")" 2>/dev/null || true; fi
      rm -f "$folder/redis.pid"
    done
    echo "redis-test-server: the server did not start; its log:" >&2
    cat "$folder/server.log" >&2 || true
    exit 1 ;;
  url)
    url ;;
  stop)
    if [ -f "$folder/redis.pid" ]; then
      pid=$(cat "$folder/redis.pid")
      kill "$pid" 2>/dev/null || true
      for wait in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
    rm -rf "$folder" ;;
  *)
    echo "usage: $0 start|url|stop FOLDER" >&2
    exit 2 ;;
esac
