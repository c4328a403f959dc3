#!/usr/bin/env bash
# Builds every benchmark target (bench_*) and runs each one found in the build's bin folder,
# printing their figures. Benchmarks want a quiet machine: other load shows up in the numbers.
# Usage: bench/run.sh            (build folder: build/, or BUILD_DIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCT_BUILD_BENCH=ON >/dev/null
mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\(bench_[A-Za-z0-9_]*\):.*/\1/p')
if [ ${#targets[@]} -eq 0 ]; then
  echo "bench: no benchmark targets" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

status=0
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" || { echo "bench: $(basename "$bench") failed" >&2; status=1; }
  echo
done
exit $status
