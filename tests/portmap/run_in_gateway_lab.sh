#!/usr/bin/env bash
# Runs a test program against a real UPnP gateway (miniupnpd) in a lab of
# three network namespaces joined by veth pairs:
#
#   LAN  192.168.77.2 (lan0) -- 192.168.77.1 (lan0)  gateway  (wan0) 192.168.78.1 -- 192.168.78.2 (wan0) WAN
#
# The program runs inside the LAN namespace, so its discovery multicast and
# its requests reach the lab's gateway and nothing else; the root namespace
# is not touched, and no packet leaves the machine. The program learns the
# lab from the KSTR_LAB_* variables and reaches the WAN side with
# `ip netns exec "$KSTR_LAB_WAN_NETNS" ...`.
#
# Usage: run_in_gateway_lab.sh PROGRAM [ARGS...]
# Exits with 77 (the test's SKIP_RETURN_CODE) and says why where the lab
# cannot be built: not root, a tool missing, no namespaces allowed.
# Everything it made is taken down on exit, whatever the outcome; the names
# carry the process id and a random part, so that a lab left behind by a
# killed run never stands in the way of the next.
set -uo pipefail

skip() {
  echo "SKIP: gateway lab not available: $*"
  exit 77
}

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in ip nft miniupnpd ss timeout; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (scripts/setup.sh installs it)"
done

suffix="$$-$RANDOM"
lan="kstr-lan-$suffix"
gw="kstr-gw-$suffix"
wan="kstr-wan-$suffix"
work="$(mktemp -d "${TMPDIR:-/tmp}/kstr-gateway-lab.XXXXXX")"
made=()
daemon=""
program=""

teardown() {
  if [ -n "$program" ]; then
    kill "$program" 2>/dev/null
    wait "$program" 2>/dev/null
  fi
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
  fi
  # Deleting a namespace deletes the veth ends in it, and with them the peers.
  for ns in "${made[@]}"; do
    ip netns delete "$ns" 2>/dev/null
  done
  rm -rf "$work"
}
trap teardown EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() {
  echo "FAIL: gateway lab: $*" >&2
  [ -s "$work/miniupnpd.log" ] && sed 's/^/miniupnpd: /' "$work/miniupnpd.log" >&2
  exit 1
}

# Whether namespaces may be made at all is only known by trying.
ip netns add "$lan" 2>"$work/netns.err" || skip "cannot create a network namespace: $(cat "$work/netns.err")"
made+=("$lan")
for ns in "$gw" "$wan"; do
  ip netns add "$ns" || fail "cannot create namespace $ns"
  made+=("$ns")
done

# The veth ends are made straight inside their namespaces.
ip link add lan0 netns "$gw" type veth peer name lan0 netns "$lan" || fail "no veth pair between LAN and gateway"
ip link add wan0 netns "$gw" type veth peer name wan0 netns "$wan" || fail "no veth pair between gateway and WAN"
ip -n "$lan" addr add 192.168.77.2/24 dev lan0 &&
  ip -n "$gw" addr add 192.168.77.1/24 dev lan0 &&
  ip -n "$gw" addr add 192.168.78.1/24 dev wan0 &&
  ip -n "$wan" addr add 192.168.78.2/24 dev wan0 || fail "cannot address the links"
for ns in "$lan" "$gw" "$wan"; do
  ip -n "$ns" link set lo up || fail "no loopback in $ns"
done
ip -n "$lan" link set lan0 up && ip -n "$gw" link set lan0 up &&
  ip -n "$gw" link set wan0 up && ip -n "$wan" link set wan0 up || fail "cannot bring the links up"
# The LAN reaches the WAN, and sends its multicast, through the gateway. The
# WAN has no route to the LAN: only what the gateway forwards reaches it.
ip -n "$lan" route add default via 192.168.77.1 || fail "no default route in the LAN"
ip netns exec "$gw" sysctl -qw net.ipv4.ip_forward=1 || fail "cannot turn forwarding on in the gateway"

# The tables and chains miniupnpd-nftables fills (its defaults, named again
# in the configuration below): forwarding is dropped but for replies and
# the gateway's pinholes; its port redirections go in prerouting.
ip netns exec "$gw" nft -f - <<'EOF' || fail "cannot set up the gateway's nftables"
table inet filter {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    jump miniupnpd
  }
  chain miniupnpd {
  }
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
  }
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
}
EOF

# ext_ip: miniupnpd refuses a reserved, private or documentation address as
# external, and the client library then takes the gateway for unconnected.
# This one is only a label in the gateway's answers: no interface has it and
# nothing is sent to it.
cat >"$work/miniupnpd.conf" <<EOF
ext_ifname=wan0
ext_ip=203.0.114.1
listening_ip=lan0
http_port=5555
enable_upnp=yes
enable_natpmp=no
ipv6_disable=yes
secure_mode=yes
system_uptime=no
minissdpdsocket=$work/minissdpd.sock
lease_file=$work/leases
uuid=6f1e2a3b-4c5d-4e6f-8a7b-9c0d1e2f3a4b
upnp_table_name=filter
upnp_nat_table_name=filter
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
EOF
ip netns exec "$gw" miniupnpd -d -f "$work/miniupnpd.conf" -P "$work/miniupnpd.pid" >"$work/miniupnpd.log" 2>&1 &
daemon=$!

# Ready once its SOAP port and its SSDP port are open (well under a second).
ready=""
for _ in $(seq 100); do
  kill -0 "$daemon" 2>/dev/null || { daemon=""; fail "miniupnpd ended at start-up"; }
  sockets="$(ip netns exec "$gw" ss -Hlntu 2>/dev/null)"
  if grep -q ':5555 ' <<<"$sockets" && grep -q ':1900 ' <<<"$sockets"; then
    ready=1
    break
  fi
  sleep 0.05
done
[ -n "$ready" ] || fail "miniupnpd did not open its ports within 5 s"

# The program checks that it is not where it was started from.
export KSTR_LAB_OUTER_NETNS="$(readlink /proc/self/ns/net)"
export KSTR_LAB_WAN_NETNS="$wan"
export KSTR_LAB_LAN_ADDRESS=192.168.77.2
export KSTR_LAB_GATEWAY_LAN_ADDRESS=192.168.77.1
export KSTR_LAB_GATEWAY_WAN_ADDRESS=192.168.78.1
export KSTR_LAB_ROOT_DESCRIPTION="http://192.168.77.1:5555/rootDesc.xml"
# In the background, so that a signal to this script is acted on at once.
ip netns exec "$lan" "$@" &
program=$!
wait "$program"
status=$?
program=""
if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
  sed 's/^/miniupnpd: /' "$work/miniupnpd.log" >&2
fi
exit "$status"
