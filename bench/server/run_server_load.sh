#!/usr/bin/env bash
# Starts a community server on a free port with a fresh store and runs the load generator
# against it. Usage: bench/server/run_server_load.sh [CLIENTS] [extra server_load options]
# e.g. bench/server/run_server_load.sh 5000 --duration 60
# SERVER_OPTIONS adds options of the server, e.g. SERVER_OPTIONS="--workers 4".
# Connections are TLS; --plaintext among the options runs server and generator without it, for
# figures to compare.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
clients=${1:-5000}
shift || true
transport=TLS
server_transport=()
for arg in "$@"; do
  if [ "$arg" = "--plaintext" ]; then
    transport=plaintext
    server_transport=(--plaintext)
  fi
done

# Every simulated client is a connection, on both sides of loopback.
ulimit -n "$(ulimit -Hn)"
if [ "$(ulimit -n)" -lt $((clients * 2 + 1000)) ]; then
  echo "open-file limit $(ulimit -n) is too low for $clients clients" >&2
  exit 1
fi

cmake --build "$build" --target community_server server_load >/dev/null

work=$(mktemp -d)
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
echo "load-admin" > "$work/admin.txt"
# Cheap password hashing: the benchmark measures chat, not Argon2id. Every client connects from
# 127.0.0.1, so the connection caps per address and before login are lifted, and so is the count
# of password checks per address (a check counts as a failure until it succeeds, and with more job
# threads than that count the clients' own logins in flight would close the address).
"$build/bin/community_server" --port 0 --db "$work/community.db" \
  --admin-password-file "$work/admin.txt" --hash-ops 1 --hash-memory-kib 64 \
  --registration-burst 1000000 --address-flood-burst 10000000 --address-flood-rate 10000000 \
  --hash-slots 256 --login-failures 1000000 \
  --max-connections-per-address 1000000 --max-untrusted-connections 1000000 \
  "${server_transport[@]}" ${SERVER_OPTIONS:-} \
  >"$work/stdout" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do
  grep -q "listening on" "$work/stdout" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/stdout")
[ -n "$port" ] || { echo "server did not start:" >&2; cat "$work/server.log" >&2; exit 1; }

# The kernel's TCP congestion control is printed with the figures, as one of the machine's
# settings under which they were taken.
congestion=$(cat /proc/sys/net/ipv4/tcp_congestion_control 2>/dev/null || echo unknown)
echo "server_load --clients $clients $* ($transport; server options: ${SERVER_OPTIONS:-none}; pid $server_pid, port $port, $(nproc) cores, TCP congestion control $congestion, load generator at the server's priority)"
status=0
# The generator stands in for thousands of machines but shares this one with the server. A master
# keeps all its connections on a few network threads, so the generator is a handful of threads
# and runs at the server's own priority; its own delays count in every round trip.
# The fresh server's key is pinned in a file of the run's own, not in the user's.
"$build/bin/server_load" --port "$port" --clients "$clients" --server-pid "$server_pid" \
  --known-servers "$work/known_servers" "$@" || status=$?
kill -TERM "$server_pid"
wait "$server_pid" || true
echo "server log: $(wc -l <"$work/server.log") lines, $(grep -c 'full: dropped' "$work/server.log" || true) about full inboxes"
exit $status
