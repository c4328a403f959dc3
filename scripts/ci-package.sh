#!/usr/bin/env bash
# CI test of the Debian packages, without touching this machine's system: makes them
# (scripts/package.sh), unpacks both into a temporary root, checks the unit with systemd-analyze,
# starts the packaged server there on a free port with a temporary store and runs the smoke test
# (tests/package) from the unpacked client's folder, so that it loads the packaged library.
# Usage: scripts/ci-package.sh   (BUILD_DIR as for scripts/package.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-f}
dist=${DIST_DIR:-$root/dist}
export BUILD_DIR=$build DIST_DIR=$dist

bash "$root/scripts/package.sh"
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target package_smoke

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill -TERM "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "ci-package: $*" >&2; exit 1; }

unpacked=$work/root
for package in community-server client-techdemo; do
  dpkg-deb -x "$dist/${package}_${version}_${arch}.deb" "$unpacked"
done
server=$unpacked/usr/bin/community-server
clientdir=$unpacked/usr/lib/client-techdemo

# ---- what the packages hold ---------------------------------------------------------------------
[ "$("$server" --version)" = "community_server $version" ] || fail "--version: $("$server" --version)"
"$server" --help | grep -q -- '--max-connections' || fail "--help lists no options"
[ "$(readlink -f "$unpacked/usr/bin/client-techdemo")" = "$clientdir/client_demo" ] ||
  fail "/usr/bin/client-techdemo does not lead to the client"
[ -f "$clientdir/Include/Linux/libDrovik.so" ] || fail "no library beside the client"
if LD_LIBRARY_PATH="" ldd "$server" "$clientdir/client_demo" | grep 'not found'; then
  fail "a library the programs need is neither packaged nor on this system"
fi
desktop-file-validate "$unpacked/usr/share/applications/client-techdemo.desktop"

# ---- the unit -----------------------------------------------------------------------------------
# Verified where this system can: the unpacked binary stands in for the installed one.
unit=$work/community-server.service
sed "s|/usr/bin/community-server|$server|" \
  "$unpacked"/lib/systemd/system/community-server.service >"$unit"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no "$unit"
  # Exposure 0 (locked down) to 10 (unprotected); the unit scores about 1.5.
  systemd-analyze security --offline=yes --threshold=25 "$unit" | tail -1
else
  echo "ci-package: no systemd-analyze here; the unit is not verified"
fi

# ---- the packaged server, the packaged library, a user -------------------------------------------
store=$work/store
log=$work/server.log
"$server" --bind 127.0.0.1 --port 0 --db "$store/community.db" >"$log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 300); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log"; fail "the packaged server did not start"; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$log"; fail "the packaged server does not listen"; }
password=$(sed -n 's/^administrator password: //p' "$log")
[ -n "$password" ] || { cat "$log"; fail "no administrator password printed at the first start"; }

install -m 755 "$build/bin/package_smoke" "$clientdir/package_smoke"
if ! SMOKE_PORT=$port SMOKE_ADMIN_PASSWORD=$password "$clientdir/package_smoke"; then
  cat "$log"
  fail "the smoke test failed against the packaged server"
fi

kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=""
[ "$status" -eq 0 ] || { cat "$log"; fail "the server ended with $status on SIGTERM"; }
[ "$(stat -c %a "$store")" = 700 ] || fail "the store folder is not 0700"
echo "ci-package: packages made, unpacked, verified and served a user"
