#!/usr/bin/env bash
# Runs Client Techdemo on this desktop: installs what is missing, builds, starts a local community
# server on 127.0.0.1:7000 with its store in data/ (unless a server already answers there) and
# starts the client. The server this script started stops when the client ends.
# On its first start the server prints the administrator password it generated: keep it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
host=127.0.0.1
port=7000

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found (DISPLAY and WAYLAND_DISPLAY are unset)."
  echo "run: Client Techdemo is a desktop program; start this script from a graphical session."
  exit 1
fi

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target client_demo community_server Drovik

server="$build/bin/community_server"
client="$build/bin/client_demo"
for program in "$server" "$client"; do
  if [ ! -x "$program" ]; then
    echo "run: $program was not built; see the build output above."
    exit 1
  fi
done

answers() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

if answers; then
  echo "run: a server already answers on $host:$port; the client uses it."
else
  mkdir -p "$root/data"
  "$server" --bind "$host" --port "$port" --db "$root/data/community.db" &
  server_pid=$!
  for _ in $(seq 100); do
    answers && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      server_pid=""
      echo "run: the community server could not start; see its message above."
      exit 1
    fi
    sleep 0.1
  done
  if ! answers; then
    echo "run: the community server does not answer on $host:$port."
    exit 1
  fi
fi

# The client keeps the terminal until its main window is closed; then the trap stops the server.
"$client"
