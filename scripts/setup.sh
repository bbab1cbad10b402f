#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Does nothing when they are all present already. miniupnpd-nftables,
# nftables and miniupnpc serve the port forwarding test's gateway; none of
# them brings the miniupnpd package, which would configure and start a
# gateway on the machine itself. lame makes real MP3 files for the scanner's
# tests; socat is the transfer benchmark's yardstick; famfamfam-flag-png
# holds the country flags that the build compiles in.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev zlib1g-dev libminiupnpc-dev miniupnpd-nftables nftables miniupnpc libxkbcommon-dev clang libclang-rt-14-dev lame socat famfamfam-flag-png)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  # Another apt run (an unattended upgrade, say) may hold the package lock:
  # wait for it rather than fail.
  wait_lock=(-o DPkg::Lock::Timeout=600)
  $sudo_cmd apt-get "${wait_lock[@]}" update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get "${wait_lock[@]}" install -y --no-install-recommends "${missing[@]}"
fi
