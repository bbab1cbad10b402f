#!/usr/bin/env bash
# Runs a test program in a network namespace of its own, with only a
# loopback interface, so that whatever the program listens on (the client's
# fixed peer ports included) and whatever it reaches stays inside it.
#
# Usage: run_in_netns.sh PROGRAM [ARGS...]
# Exits with 77 (the test's SKIP_RETURN_CODE) and says why where no
# namespace can be made: not root, a tool missing, namespaces not allowed.
# The namespace is unnamed and goes with the program.
set -uo pipefail

skip() {
  echo "SKIP: no network namespace: $*"
  exit 77
}

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in unshare ip; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed"
done
unshare --net true 2>/dev/null || skip "this system does not allow new network namespaces"

exec unshare --net -- bash -c 'ip link set lo up || exit 1; exec "$@"' run_in_netns "$@"
