#!/usr/bin/env bash
# Runs Client Techdemo on this desktop: installs what is missing, builds, starts a local community
# server on 127.0.0.1:7000 with its store in data/ (unless a server already answers there) and
# starts the client. The server this script started stops when the client ends.
# On its first start the server prints the administrator password it generated: keep it.
# At every start it prints its TLS certificate's fingerprint, which the client pins on its first
# connection; the script repeats it with where the client keeps it.
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

known_servers="${XDG_CONFIG_HOME:-$HOME/.config}/drovik/known_servers"
explain_fingerprint() {
  echo "run: the server's TLS certificate fingerprint (SHA-256) is $1"
  echo "run: the client trusts it from its first connection on and keeps it in $known_servers;"
  echo "run: a server at $host:$port with another key is refused until its line there is removed."
}

# Passes the server's output through unchanged and explains the fingerprint line when it comes.
show_server_output() {
  local line
  while IFS= read -r line; do
    printf '%s\n' "$line"
    case "$line" in
      "TLS certificate fingerprint (SHA-256): "*)
        explain_fingerprint "${line#"TLS certificate fingerprint (SHA-256): "}" ;;
    esac
  done
}

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
  certificate="$root/data/community.db.cert.pem"
  if [ -f "$certificate" ] && command -v openssl >/dev/null; then
    fingerprint=$(openssl x509 -in "$certificate" -noout -fingerprint -sha256 | sed 's/^[^=]*=//')
    echo "run: if it is the server of $root/data, this is its certificate:"
    explain_fingerprint "$fingerprint"
  fi
else
  mkdir -p "$root/data"
  "$server" --bind "$host" --port "$port" --db "$root/data/community.db" > >(show_server_output) &
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
