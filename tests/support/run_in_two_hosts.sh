#!/usr/bin/env bash
# Runs a test program on the first of two hosts, each a network namespace,
# joined by a veth pair:
#
#   host A  10.77.0.1 (e2e0) ---- 10.77.0.2 (e2e0)  host B
#
# The program runs on host A and starts whatever belongs on host B with
# `ip netns exec "$KSTR_HOST_B_NETNS" ...`; it learns both addresses from
# KSTR_HOST_A_ADDRESS and KSTR_HOST_B_ADDRESS. Nothing is made in the
# machine's own namespace and no packet leaves the machine.
#
# Usage: run_in_two_hosts.sh PROGRAM [ARGS...]
# Exits with 77 (the test's SKIP_RETURN_CODE) and says why where the hosts
# cannot be made: not root, a tool missing, no namespaces allowed. Both
# namespaces, and every process still running in them, are taken down on
# exit, whatever the outcome; the names carry the process id and a random
# part, so that hosts left behind by a killed run never stand in the way.
set -uo pipefail

skip() {
  echo "SKIP: two hosts not available: $*"
  exit 77
}

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
command -v ip >/dev/null 2>&1 || skip "'ip' is not installed (scripts/setup.sh installs it)"

suffix="$$-$RANDOM"
host_a="kstr-a-$suffix"
host_b="kstr-b-$suffix"
made=()
program=""

teardown() {
  if [ -n "$program" ]; then
    kill "$program" 2>/dev/null
    wait "$program" 2>/dev/null
  fi
  for ns in "${made[@]}"; do
    # A client left running on a host would keep its namespace alive.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -9 "$pid" 2>/dev/null
    done
    ip netns delete "$ns" 2>/dev/null
  done
}
trap teardown EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() {
  echo "FAIL: two hosts: $*" >&2
  exit 1
}

err="$(mktemp)"
if ! ip netns add "$host_a" 2>"$err"; then
  reason="$(cat "$err")"
  rm -f "$err"
  skip "cannot create a network namespace: $reason"
fi
rm -f "$err"
made+=("$host_a")
ip netns add "$host_b" || fail "cannot create namespace $host_b"
made+=("$host_b")

ip link add e2e0 netns "$host_a" type veth peer name e2e0 netns "$host_b" || fail "no veth pair between the hosts"
ip -n "$host_a" addr add 10.77.0.1/24 dev e2e0 &&
  ip -n "$host_b" addr add 10.77.0.2/24 dev e2e0 || fail "cannot address the link"
for ns in "$host_a" "$host_b"; do
  ip -n "$ns" link set lo up && ip -n "$ns" link set e2e0 up || fail "cannot bring the links up in $ns"
done

export KSTR_HOST_B_NETNS="$host_b"
export KSTR_HOST_A_ADDRESS=10.77.0.1
export KSTR_HOST_B_ADDRESS=10.77.0.2
# In the background, so that a signal to this script is acted on at once.
ip netns exec "$host_a" "$@" &
program=$!
wait "$program"
status=$?
program=""
exit "$status"
