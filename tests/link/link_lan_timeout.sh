#!/usr/bin/env bash
# The 2-second LAN connect timeout, inside a network namespace made here with nothing but its
# loopback device: the route to the test address leads into lo, where a packet for an address
# that is not local is dropped, so the connection is never answered and nothing can leave. Wine makes its sockets in its wineserver's namespace, so
# the test runs on a copy of the prefix whose wineserver starts inside the namespace.
set -euo pipefail
bin=$1
: "${WINEPREFIX:?}"
work=$(mktemp -d /tmp/quillon-lantimeout.XXXXXX)
trap 'WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
unshare -n bash -c '
  set -e
  ip link set lo up
  ip route add 10.77.0.0/24 dev lo
  QLINK_UNREACHABLE=10.77.0.2 wine "'"$bin"'/test_link_win.exe" --gtest_filter="LinkLanNamespace.*" --gtest_brief=1
  wineserver -k || true
'
