# Shared by the load and attack scripts (sourced, not run): the quiet build, the transport, the
# open-file check, the server's options for a load from one machine, and waiting for a server to
# listen.

# --plaintext among the generator's options runs the servers without TLS too. Sets transport
# (for the report) and server_transport (the servers' option).
load_transport() {
  transport=TLS
  server_transport=()
  for arg in "$@"; do
    if [ "$arg" = "--plaintext" ]; then
      transport=plaintext
      server_transport=(--plaintext)
    fi
  done
}

# Builds the given targets of $build quietly; a failed build prints its output and ends the script.
load_build() {
  local output
  if ! output=$(cmake --build "$build" --target "$@" 2>&1); then
    echo "$output" >&2
    exit 1
  fi
}

# Every simulated client is a connection, on both sides of loopback.
load_check_open_files() {
  ulimit -n "$(ulimit -Hn)"
  if [ "$(ulimit -n)" -lt $(($1 * 2 + 1000)) ]; then
    echo "open-file limit $(ulimit -n) is too low for $1 clients" >&2
    exit 1
  fi
}

# Cheap password hashing: the benchmark measures chat, not Argon2id. Every client connects from
# 127.0.0.1, so the connection caps per address and before login are lifted, and so is the count
# of password checks per address (a check counts as a failure until it succeeds, and with more job
# threads than that count the clients' own logins in flight would close the address).
load_server_options=(
  --hash-ops 1 --hash-memory-kib 64
  --registration-burst 1000000 --address-flood-burst 10000000 --address-flood-rate 10000000
  --hash-slots 256 --login-failures 1000000
  --max-connections-per-address 1000000 --max-untrusted-connections 1000000
)

# Waits until the server writing to stdout file $1 (log $2) listens; sets listening_port, or
# prints the log and exits.
load_wait_listening() {
  for _ in $(seq 100); do
    grep -q "listening on" "$1" 2>/dev/null && break
    sleep 0.1
  done
  listening_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$1")
  [ -n "$listening_port" ] || { echo "server did not start:" >&2; cat "$2" >&2; exit 1; }
}
