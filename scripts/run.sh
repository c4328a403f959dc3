#!/usr/bin/env bash
# Installs what is missing, builds, starts a local community server on localhost:7000 (unless one
# is already listening there) and runs the client. The server stops when the client ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

server="$build/bin/community_server"
client="$build/bin/client_demo"
if [ ! -x "$client" ]; then
  echo "run: the client program is not built yet (build/bin/client_demo is missing); nothing to run."
  exit 1
fi

server_pid=""
if [ -x "$server" ] && ! (exec 3<>/dev/tcp/127.0.0.1/7000) 2>/dev/null; then
  mkdir -p "$root/data"
  "$server" --bind 127.0.0.1 --port 7000 --db "$root/data/community.db" &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/7000) 2>/dev/null && break
    sleep 0.1
  done
fi
"$client"
