#!/usr/bin/env bash
# CI of the Windows build: cross-compiles the library, the request layer and their tests with
# mingw-w64 for 64- and 32-bit Windows (presets win64 and win32, build-win64 and build-win32) and
# runs the tests under Wine, each build with a Wine prefix of its own in its folder.
# Usage: scripts/ci-windows.sh [win64] [win32]   (both by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh windows

# Wine runs a 32-bit Windows program in a 32-bit Linux process, which a kernel built without
# 32-bit support (that of some virtual machines) cannot start: there the win32 build is made, so
# that it still compiles and links, but its tests cannot run.
wine32=/usr/lib/wine/wine

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32)
for preset in "${presets[@]}"; do
  echo "ci-windows: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "${JOBS:-$(nproc)}"
  if [ "$preset" = win32 ] && ! why=$("$wine32" --version 2>&1); then
    echo "ci-windows: win32: Wine's 32-bit loader does not start on this machine ($why): the" \
      "build is made, and of its tests only the check of the DLL's exports runs, without Wine"
    python3 tests/windows/check_exports.py "build-$preset/bin/Include/Windows/Drovik.dll" \
      drovik/include/drovik.h
    continue
  fi
  # Test programs that ctest starts side by side would otherwise all create the fresh Wine prefix
  # at once, and all but one fail: make it first and wait until it is ready.
  "build-$preset/wine-run.sh" wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$root/build-$preset/wine" wineserver -w 2>/dev/null || true
  status=0
  ctest --preset "$preset" -j "${JOBS:-$(nproc)}" || status=$?
  # The Wine server of this build's prefix outlives the tests by a few seconds; end it now.
  WINEPREFIX="$root/build-$preset/wine" wineserver -k 2>/dev/null || true
  [ "$status" -eq 0 ] || exit "$status"
done
