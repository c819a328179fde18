#!/usr/bin/env bash
# Builds kelvoran and starts it on the example group file (examples/kelvoran.ini).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
program=$PWD/build/release/kelvoran

# ICMP for an ordinary user: datagram sockets where the ping_group_range
# sysctl allows the user's groups, else the raw-socket capability on the file.
if [ "$(id -u)" -ne 0 ]; then
  read -r low high < /proc/sys/net/ipv4/ping_group_range
  allowed=no
  for group in $(id -G); do
    if [ "$group" -ge "$low" ] && [ "$group" -le "$high" ]; then allowed=yes; fi
  done
  if [ "$allowed" = no ] && ! getcap "$program" 2>/dev/null | grep -q cap_net_raw; then
    echo "Giving $program the raw-socket capability: sudo setcap cap_net_raw+p"
    sudo setcap cap_net_raw+p "$program" || echo "Could not; every host will show N/A."
  fi
fi

cd examples
exec "$program"
