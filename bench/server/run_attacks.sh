#!/usr/bin/env bash
# Builds the community server and the attack harness and runs every attack against a fresh server:
# 30 s each unless told otherwise. Usage: bench/server/run_attacks.sh [attack_harness options]
# e.g. bench/server/run_attacks.sh --duration 60 --attacks ce
#      bench/server/run_attacks.sh --server-options "--hash-ops 2 --hash-memory-kib 16384"
#      bench/server/run_attacks.sh --plaintext   (server, attackers and client without TLS)
# The harness starts each server with cheap password hashing (--hash-ops 1 --hash-memory-kib 64)
# and otherwise the server's defaults: the limits under test are the ones a server gets unasked.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}

# Thousands of attacking connections: each is a descriptor in the harness and one in the server.
ulimit -n "$(ulimit -Hn)"
source "$root/bench/server/load_common.sh"
load_build community_server attack_harness
exec "$build/bin/attack_harness" "$@"
