#!/usr/bin/env bash
# Builds everything (host, host with sanitizers, 32-bit Windows, fuzz targets) and runs every
# test once (each fuzz target for FUZZ_SECONDS, default 30),
# in one CTest run, so that the output ends with CTest's summary line.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
for preset in host host-asan win32 fuzz; do
  echo "== building $preset"
  # The Wine tests run against the simulator of the native tree, built first.
  extra=()
  [ "$preset" = win32 ] && extra=(-DQUILLON_SIM="$root/build/host/sim/quillon-sim")
  cmake --preset "$preset" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# One umbrella directory whose test file pulls in the three build trees.
mkdir -p build/all
cat >build/all/CTestTestfile.cmake <<TXT
subdirs("$root/build/host")
subdirs("$root/build/host-asan")
subdirs("$root/build/win32")
subdirs("$root/build/fuzz")
TXT
export FUZZ_SECONDS=${FUZZ_SECONDS:-30}
echo "== testing"
exec ctest --test-dir build/all --output-on-failure -j "$jobs" "$@"
