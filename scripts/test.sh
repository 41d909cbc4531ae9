#!/usr/bin/env bash
# Builds everything (host, host with sanitizers, 32-bit and 64-bit Windows, fuzz targets) and
# runs every test once (each fuzz target for FUZZ_SECONDS, default 30) in one CTest run, so
# that the output ends with CTest's summary line. The Windows tests run under Wine for each
# architecture this machine can execute (scripts/archs.sh): both where it can execute 32-bit
# code, the 64-bit ones alone where it cannot. QUILLON_TEST_ARCH=win32|win64|all forces it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh --packages
read -r -a archs <<<"$(bash scripts/archs.sh)"
bash scripts/setup.sh "${archs[@]}"

jobs=$(nproc)
for preset in host host-asan win32 win64 fuzz; do
  echo "== building $preset"
  # The Wine tests run against the simulator of the native tree, built first.
  extra=()
  case "$preset" in win32|win64) extra=(-DQUILLON_SIM="$root/build/host/sim/quillon-sim");; esac
  cmake --preset "$preset" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# One umbrella directory whose test file pulls in the trees to test: host, host-asan, the
# Windows trees this machine can run (one or two), fuzz.
mkdir -p build/all
{
  for tree in host host-asan "${archs[@]}" fuzz; do echo "subdirs(\"$root/build/$tree\")"; done
} >build/all/CTestTestfile.cmake
for arch in win32 win64; do
  [[ " ${archs[*]} " == *" $arch "* ]] && continue
  why=$(bash scripts/archs.sh --why)
  echo "test: the $arch programs were built but not run: ${why:-QUILLON_TEST_ARCH=${QUILLON_TEST_ARCH:-} leaves them out}"
done
export FUZZ_SECONDS=${FUZZ_SECONDS:-30}
echo "== testing ${archs[*]}"
exec ctest --test-dir build/all --output-on-failure -j "$jobs" "$@"
