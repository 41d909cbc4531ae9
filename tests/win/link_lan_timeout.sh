#!/usr/bin/env bash
# The 2-second LAN connect timeout, inside a network namespace made here: the only route
# leads to a dummy device that swallows every packet, so the connection is never answered
# and nothing can leave the machine.
set -euo pipefail
bin=$1
exec unshare -n bash -c '
  set -e
  ip link set lo up
  ip link add q0 type dummy
  ip addr add 10.77.0.1/24 dev q0
  ip link set q0 up
  QLINK_UNREACHABLE=10.77.0.2 wine "'"$bin"'/test_link.exe" --gtest_filter="LinkLanNamespace.*" --gtest_brief=1
'
