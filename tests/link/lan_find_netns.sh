#!/usr/bin/env bash
# The LAN search end to end. The search broadcasts to 255.255.255.255, so everything runs in
# network namespaces made here, each checked to have no route out before anything is sent: one
# for the application (Wine and test_lan_find_win.exe, with a wineserver of its own started
# inside it), and simulated instruments in namespaces of their own, joined by veth pairs to two
# bridges in a hub namespace, one for each subnet. The application has three interfaces: eth0
# on the first subnet (where a limited broadcast leaves by default, as on Windows), eth1 on the
# second, and eth2, a second address on the first subnet's bridge (Wi-Fi and a cable on the same
# LAN), so that every instrument there hears each query twice over. Three instruments are on the
# first subnet (the third can also answer from sixteen more addresses), one on the second; the
# second subnet's is silent unless a test makes it answer, so every test also shows that a
# silent subnet changes nothing. The search time with one, two and three interfaces up is
# measured too. Then quillon2-run.exe --find runs there: the example of docs/quillon2-run.md,
# a production line of every instrument found on both subnets (--each-found), a search whose
# every probe fails, and searches that find none, one of them with an interface that refuses to
# send, which the comms log must name. Nothing is left behind, whatever happens.
# Usage: lan_find_netns.sh <win32 build folder>
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
sim=${QUILLON_SIM:-$src/build/host/sim/quillon-sim}
controlPort=${QLANFIND_CONTROL_PORT:-10120}
subnet=10.231.77
subnet2=10.231.78
tag=qlf$$
hub=${tag}hub
app=${tag}app
instruments=("${tag}i1" "${tag}i2" "${tag}i3" "${tag}i4")
addresses=("$subnet.11" "$subnet.12" "$subnet.13" "$subnet2.11")
bridges=(br0 br0 br0 br1)
work=$(mktemp -d "/tmp/$tag.XXXXXX")
prefix=$work/prefix
madeNamespaces=()
simPids=()
testPid=

cleanup() {
    set +e
    if [ -n "$testPid" ]; then
        kill "$testPid" 2>/dev/null
        tail -n 40 "$work/test.log" 2>/dev/null
    fi
    if [ -d "$prefix" ] && ip netns list | grep -qw "$app"; then
        WINEPREFIX=$prefix ip netns exec "$app" wineserver -k >/dev/null 2>&1
    fi
    for pid in "${simPids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${simPids[@]}"; do wait "$pid" 2>/dev/null; done
    for ns in "${madeNamespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Namespaces of earlier runs that were killed before their trap could run (their script is
# gone): stop what this script started in them and remove them.
for ns in $(ip netns list | awk '{print $1}' | grep -E '^qlf[0-9]+(hub|app|i[0-9])$' || true); do
    owner=${ns#qlf}
    owner=${owner%%[a-z]*}
    kill -0 "$owner" 2>/dev/null && continue
    for pid in $(ip netns pids "$ns"); do kill "$pid" 2>/dev/null; done
    ip netns del "$ns"
done
for dir in /tmp/qlf[0-9]*.*; do
    [ -d "$dir" ] || continue
    owner=${dir#/tmp/qlf}
    kill -0 "${owner%%.*}" 2>/dev/null || rm -rf "$dir"
done

[ -x "$sim" ] || { echo "no simulator at $sim" >&2; exit 1; }
[ -f "$bin/test_lan_find_win.exe" ] || { echo "no $bin/test_lan_find_win.exe" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }

newNamespace() {
    ip netns add "$1"
    madeNamespaces+=("$1")
    ip -n "$1" link set lo up
}

# Joins namespace $1 to the hub's bridge $3 as device $4 (eth0) with address $2; the veth
# pair is made inside the hub, so no device ever exists in the machine's own namespace.
hubPorts=0
joinHub() {
    local port=p$hubPorts dev=${4:-eth0}
    hubPorts=$((hubPorts + 1))
    ip -n "$hub" link add "$port" type veth peer name "$dev" netns "$1"
    ip -n "$hub" link set "$port" master "$3" up
    ip -n "$1" addr add "$2/24" dev "$dev"
    ip -n "$1" link set "$dev" up
}

# Before anything broadcasts: no namespace of the test has a route out of it, and none has a
# device but loopback and the test's own bridges and veth ends.
checkNoRouteOut() {
    local ns
    for ns in "${madeNamespaces[@]}"; do
        if ip -n "$ns" route get 192.0.2.1 >/dev/null 2>&1; then
            echo "namespace $ns has a route out: refusing to broadcast" >&2; ip -n "$ns" route >&2; exit 1
        fi
        if ip -n "$ns" -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | grep -vqE '^(lo|eth[0-9]|br[0-9]|p[0-9]+)$'; then
            echo "namespace $ns has a device the test did not make: refusing to broadcast" >&2; exit 1
        fi
    done
}

newNamespace "$hub"
for br in br0 br1; do
    ip -n "$hub" link add "$br" type bridge forward_delay 0
    ip -n "$hub" link set "$br" up
done
newNamespace "$app"
joinHub "$app" "$subnet.1" br0 eth0
joinHub "$app" "$subnet2.1" br1 eth1
joinHub "$app" "$subnet.2" br0 eth2
# A limited broadcast from a socket bound to no address leaves by eth0 alone, as on Windows
# by its best route; no default route.
ip -n "$app" route add 255.255.255.255/32 dev eth0
for i in 0 1 2 3; do
    newNamespace "${instruments[$i]}"
    joinHub "${instruments[$i]}" "${addresses[$i]}" "${bridges[$i]}"
    ip netns exec "${instruments[$i]}" "$sim" --lan "${addresses[$i]}:10001" \
        --control "${addresses[$i]}:$controlPort" --ready-file "$work/ready$i" --udp none \
        >"$work/sim$i.log" 2>&1 &
    simPids+=($!)
done
# Sixteen more responders: addresses of the third instrument's namespace, from which its
# simulator answers when told to ("udp from").
many=()
for n in $(seq 21 36); do
    ip -n "${instruments[2]}" addr add "$subnet.$n/24" dev eth0
    many+=("$subnet.$n")
done
# The proof the tests ask for before they broadcast: a token only this namespace can answer,
# on the instrument port, where quillon2-run --lan 127.0.0.1 reads it too.
token="lanfind-$$-$RANDOM$RANDOM"
ip netns exec "$app" "$sim" --lan "127.0.0.1:10001" --control 127.0.0.1:0 \
    --ready-file "$work/ready4" --idn "$token" >"$work/sim4.log" 2>&1 &
simPids+=($!)
for i in 0 1 2 3 4; do
    for _ in $(seq 100); do [ -s "$work/ready$i" ] && break; sleep 0.05; done
    [ -s "$work/ready$i" ] || { echo "simulator $i did not start:" >&2; tail -5 "$work/sim$i.log" >&2; exit 1; }
done

# A prefix of our own. Wine makes sockets in its wineserver, in the wineserver's namespace:
# a server already running for the shared prefix outside would send the broadcasts from the
# machine's namespace. With a fresh prefix the test's wineserver starts in here.
cp -a "$WINEPREFIX" "$prefix"
checkNoRouteOut
subnet2Sim=${addresses[3]}
testsInApp() {
    ip netns exec "$app" env WINEPREFIX="$prefix" QUILLON_BUILD="$bin" \
        QLANFIND_TOKEN="$token" QLANFIND_TOKEN_PORT=10001 \
        QLANFIND_SIMS="$(IFS=,; echo "${addresses[*]:0:3}")" QLANFIND_SUBNET2="$subnet2Sim" \
        QLANFIND_CONTROL_PORT="$controlPort" QLANFIND_MANY="$(IFS=,; echo "${many[*]}")" \
        wine "$bin/test_lan_find_win.exe" --gtest_brief=1 "$@"
}
testsInApp ${QLANFIND_FILTER:+--gtest_filter=$QLANFIND_FILTER} >"$work/test.log" 2>&1 &
testPid=$!
# wait, unlike a foreground command, lets INT and TERM reach the trap at once.
set +e
wait "$testPid"
status=$?
testPid=
tail -n 200 "$work/test.log"

# The search's time with fewer interfaces up (eth2, then eth1 down too): the same search.
searchTime() { sed -n 's/^LAN search without responders: \([0-9]*\) ms.*/\1/p' "$1" | tr -d '\r'; }
times="3 interfaces $(searchTime "$work/test.log") ms"
for n in 2 1; do
    ip -n "$app" link set "eth$n" down
    [ "$n" = 1 ] && subnet2Sim=  # out of reach
    testsInApp --gtest_filter='LanFind.NoResponder*' >"$work/time.log" 2>&1 ||
        { status=1; echo "FAIL: the search with $n interface(s)"; cat "$work/time.log"; }
    times="$times, $n: $(searchTime "$work/time.log") ms"
done
for n in 1 2; do ip -n "$app" link set "eth$n" up; done
echo "LAN search without responders, time on $times"

# --- quillon2-run --find ----------------------------------------------------------------------
runFailed() { echo "FAIL: $*"; status=1; }
# One control command to instrument $1 (0 to 3), from its own namespace.
simAt() {
    ip netns exec "${instruments[$1]}" bash -c 'exec 3<>"/dev/tcp/$0/$1"; echo "$2" >&3; head -1 <&3' \
        "${addresses[$1]}" "$controlPort" "$2"
}
# Runs a command line of the document's form (build/win32/run/quillon2-run.exe ...) in the
# application's namespace.
runInApp() {
    ip netns exec "$app" env WINEPREFIX="$prefix" WINEDEBUG=-all \
        bash -c "${1//build\/win32\/run\/quillon2-run.exe/\"$bin/run/quillon2-run.exe\"}" 2>&1 | tr -d '\r'
}
for i in 0 1 2 3; do simAt "$i" reset >/dev/null; done
for i in 0 1; do
    simAt "$i" "set idn Vendrel,RZT7680,1001$((i + 1)),1.23" >/dev/null
    simAt "$i" "udp 30718" >/dev/null
done
runInApp 'wine build/win32/run/quillon2-run.exe --lan 127.0.0.1 --identify' >"$work/identify.txt"
if ! grep -qx "\*IDN?: $token" "$work/identify.txt"; then
    runFailed "quillon2-run's sockets are not inside the test namespace, no search run: $(cat "$work/identify.txt")"
else
    # Each typed line of the document's --find example against what the document shows after
    # it; the two instruments answer in either order.
    doc=$src/docs/quillon2-run.md
    awk -v dir="$work" '/^\$ .*--find/ { n++; print substr($0, 3) > (dir "/find.cmd." n); want = dir "/find.want." n;
                                          printf "" > want; next }
                       /^\$ |^```/ { want = ""; next }
                       want { print > want }' "$doc"
    [ -f "$work/find.cmd.1" ] || runFailed "no --find example in $doc"
    for cmd in "$work"/find.cmd.*; do
        runInApp "$(cat "$cmd")" | sort >"$work/find.got"
        sort "${cmd/.cmd./.want.}" >"$work/find.sorted"
        diff -u "$work/find.sorted" "$work/find.got" || runFailed "example: $(cat "$cmd")"
    done
    # A production line of every instrument found, on both subnets: all three identified, each
    # in its own worker.
    simAt 3 "set idn Vendrel,RZT7680,10014,1.23" >/dev/null
    simAt 3 "udp 30718" >/dev/null
    runInApp 'wine build/win32/run/quillon2-run.exe --each-found --identify --json; echo "exit code $?"' |
        grep -v '^\[' | sed -E 's/"seconds":[0-9.]+/"seconds":s/; s/,"identification":\{.*\}\}$/}/' | sort >"$work/each.got"
    printf '%s\n' "exit code 0" \
        "{\"link\":\"${addresses[0]}\",\"model\":\"RZT7680\",\"serialNumber\":\"10011\",\"result\":\"passed\",\"exitCode\":0,\"seconds\":s}" \
        "{\"link\":\"${addresses[1]}\",\"model\":\"RZT7680\",\"serialNumber\":\"10012\",\"result\":\"passed\",\"exitCode\":0,\"seconds\":s}" \
        "{\"link\":\"${addresses[3]}\",\"model\":\"RZT7680\",\"serialNumber\":\"10014\",\"result\":\"passed\",\"exitCode\":0,\"seconds\":s}" |
        sort >"$work/each.want"
    diff -u "$work/each.want" "$work/each.got" || runFailed "--each-found"
    simAt 3 "udp none" >/dev/null
    # Responders that all fail their probe identified nothing: exit 1, every row a failure with
    # the same members as an identified row.
    for i in 0 1; do simAt "$i" "lan listen off" >/dev/null; done
    runInApp 'wine build/win32/run/quillon2-run.exe --find --json; echo "exit code $?"' | sort >"$work/find.got"
    printf '%s\n' "{\"address\":\"${addresses[0]}\",\"identification\":null,\"failure\":\"Connection Failed 1\"}" \
        "{\"address\":\"${addresses[1]}\",\"identification\":null,\"failure\":\"Connection Failed 1\"}" \
        "exit code 1" "quillon2-run: none of the instruments found identified itself" | sort >"$work/find.want"
    diff -u "$work/find.want" "$work/find.got" || runFailed "every probe failed"
    for i in 0 1; do simAt "$i" "lan listen on" >/dev/null; done
    for i in 0 1; do simAt "$i" "udp none" >/dev/null; done
    got=$(runInApp 'wine build/win32/run/quillon2-run.exe --find; echo "exit code $?"')
    [ "$got" = $'quillon2-run: No Instruments found on this subnet\nexit code 1' ] || runFailed "no instrument: $got"
    # The second subnet's instrument answers, but its interface refuses to send: nothing is
    # found, and the comms log (the debugger output) names the interface left out.
    simAt 3 "udp 30718" >/dev/null
    ip netns exec "$app" nft -f - <<<'table ip qlf { chain out { type filter hook output priority 0; oifname "eth1" udp dport { 65535, 30718 } drop; }; }'
    got=$(runInApp 'WINEDEBUG=+debugstr wine build/win32/run/quillon2-run.exe --find; echo "exit code $?"')
    for port in 65535 30718; do
        grep -q "LAN search: port-$port query left out interface $subnet2.1: send failed, error [0-9]" <<<"$got" ||
            runFailed "no comms log entry for the refusing interface (port $port): $got"
    done
    grep -qx "exit code 1" <<<"$got" || runFailed "refusing interface: $got"
    grep "LAN search:" <<<"$got"
fi
exit "$status"
