#!/usr/bin/env bash
# Which Windows builds this machine can run under Wine, as the tests and scripts/run.sh use it.
# Prints the architectures to run, the reference first ("win32 win64" or "win64"). Where the
# machine cannot execute 32-bit code (some hypervisors have no 32-bit user mode: every i386
# binary fails with "Exec format error"), Wine's 32-bit loader cannot start and only the 64-bit
# programs can run. QUILLON_TEST_ARCH=win32|win64|all forces the choice; asking for what the
# machine cannot run is an error.
#   archs.sh            the architectures to run
#   archs.sh --why      one line: why the 32-bit programs cannot run here (empty where they can)
set -euo pipefail

# The probe: start the 32-bit loader and look at its exit status. Before Wine is installed,
# the 32-bit C library's loader tells the same.
can_run_32() {
  if [ -e /usr/lib/wine/wine ]; then /usr/lib/wine/wine --version >/dev/null 2>&1
  else /lib/ld-linux.so.2 --version >/dev/null 2>&1; fi
}
why32() {
  local loader=/usr/lib/wine/wine
  [ -e "$loader" ] || loader=/lib/ld-linux.so.2
  [ -e "$loader" ] || { echo "no 32-bit loader is installed"; return; }
  echo "this machine cannot execute 32-bit code ($loader: $("$loader" --version 2>&1 >/dev/null | sed 's/.*: //' | head -1))"
}

if [ "${1:-}" = --why ]; then
  can_run_32 || why32
  exit 0
fi
case "${QUILLON_TEST_ARCH:-}" in
  "") if can_run_32; then echo "win32 win64"; else echo "win64"; fi;;
  all|win32)
    can_run_32 || { echo "archs: QUILLON_TEST_ARCH=$QUILLON_TEST_ARCH, but $(why32)" >&2; exit 1; }
    if [ "$QUILLON_TEST_ARCH" = all ]; then echo "win32 win64"; else echo win32; fi;;
  win64) echo win64;;
  *) echo "archs: QUILLON_TEST_ARCH must be win32, win64 or all, not '$QUILLON_TEST_ARCH'" >&2; exit 1;;
esac
