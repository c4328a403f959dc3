#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test. The server's suite runs twice:
# on SQLite, and on a PostgreSQL cluster of its own that this script starts and stops; the tests
# of several servers sharing one store also get a Redis of their own.
# Usage: scripts/test.sh [extra ctest arguments], e.g. scripts/test.sh -R Cache
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
cluster=$(mktemp -d "${TMPDIR:-/tmp}/ct-postgres.XXXXXX")
redis=$(mktemp -d "${TMPDIR:-/tmp}/ct-redis.XXXXXX")
trap 'bash "$root/scripts/postgres-test-cluster.sh" stop "$cluster";
  bash "$root/scripts/redis-test-server.sh" stop "$redis"' EXIT
CT_TEST_POSTGRES_URL=$(bash "$root/scripts/postgres-test-cluster.sh" start "$cluster")
export CT_TEST_POSTGRES_URL
CT_TEST_REDIS_URL=$(bash "$root/scripts/redis-test-server.sh" start "$redis")
export CT_TEST_REDIS_URL
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 "$@"
