#!/usr/bin/env bash
# Starts a community server on a free port with a fresh store and runs the load generator
# against it. Usage: bench/server/run_server_load.sh [CLIENTS] [extra server_load options]
# e.g. bench/server/run_server_load.sh 5000 --duration 60
# SERVER_OPTIONS adds options of the server, e.g. SERVER_OPTIONS="--workers 4".
# Connections are TLS; --plaintext among the options runs server and generator without it, for
# figures to compare. --probe-stalls tells which bursts of slow round trips began while the machine
# itself (a virtual machine's host) stopped running one of its processors.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
clients=${1:-5000}
shift || true
source "$root/bench/server/load_common.sh"
load_transport "$@"
load_check_open_files "$clients"

load_build community_server server_load

work=$(mktemp -d)
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
echo "load-admin" > "$work/admin.txt"
"$build/bin/community_server" --port 0 --db "$work/community.db" \
  --admin-password-file "$work/admin.txt" "${load_server_options[@]}" \
  "${server_transport[@]}" ${SERVER_OPTIONS:-} \
  >"$work/stdout" 2>"$work/server.log" &
server_pid=$!
load_wait_listening "$work/stdout" "$work/server.log"
port=$listening_port

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
