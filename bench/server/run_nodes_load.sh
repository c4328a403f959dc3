#!/usr/bin/env bash
# The load of run_server_load.sh on a community of several nodes: a throw-away PostgreSQL cluster
# and Redis (the test scripts'), NODES servers sharing them and one TLS pair, and the generator
# spreading its clients over the nodes in turn. Then, for comparison in the same run, the same
# number of clients (other names) on the first node alone, with the same back-ends.
# Usage: bench/server/run_nodes_load.sh [CLIENTS] [NODES] [extra server_load options]
# e.g. bench/server/run_nodes_load.sh 5000 2 --duration 30 (--plaintext: nodes and generator
# without TLS)
# The PostgreSQL cluster is the tests' one, which does not sync to disk (fsync=off): its figures
# are those of a database on a battery-backed or replicated disk, not of one syncing every commit.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# Absolute: the nodes start in their working folder.
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
clients=${1:-5000}
nodes=${2:-2}
shift 2 || shift $# || true
source "$root/bench/server/load_common.sh"
load_transport "$@"
load_check_open_files "$clients"
load_build community_server server_load

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  bash "$root/scripts/postgres-test-cluster.sh" stop "$work/pg" >/dev/null 2>&1 || true
  bash "$root/scripts/redis-test-server.sh" stop "$work/redis" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
db=$(bash "$root/scripts/postgres-test-cluster.sh" start "$work/pg")
redis=$(bash "$root/scripts/redis-test-server.sh" start "$work/redis")
echo "load-admin" >"$work/admin.txt"

# Starts node $1 and sets node_port. The first node makes the TLS pair in the working folder;
# the others find it there, so the community has one key.
start_node() {
  local n=$1
  (cd "$work" && exec "$build/bin/community_server" --port 0 --db "$db" --redis "$redis" \
    --admin-password-file "$work/admin.txt" "${load_server_options[@]}" \
    "${server_transport[@]}" ${SERVER_OPTIONS:-} >"$work/stdout$n" 2>"$work/server$n.log") &
  pids+=($!)
  load_wait_listening "$work/stdout$n" "$work/server$n.log"
  node_port=$listening_port
}

ports=()
for n in $(seq "$nodes"); do
  start_node "$n"
  ports+=("$node_port")
done
port_args=()
pid_args=()
for i in "${!ports[@]}"; do
  port_args+=(--port "${ports[$i]}")
  pid_args+=(--server-pid "${pids[$i]}")
done

echo "== $clients clients over $nodes nodes (ports ${ports[*]}; PostgreSQL and Redis on this machine, $(nproc) cores)"
status=0
"$build/bin/server_load" "${port_args[@]}" --clients "$clients" "${pid_args[@]}" \
  --watch postgres --watch redis-server --known-servers "$work/known_servers" \
  --prefix nodes "$@" || status=$?

echo "== the same $clients clients on node 1 alone, same back-ends"
"$build/bin/server_load" --port "${ports[0]}" --clients "$clients" --server-pid "${pids[0]}" \
  --watch postgres --watch redis-server --known-servers "$work/known_servers" \
  --prefix alone "$@" || status=$?
exit $status
