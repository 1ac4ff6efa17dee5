#!/bin/sh
# Runs a command inside a private network namespace of its own, so that tests
# may broadcast and bind the unit's fixed ports (30718, 30704, 9999) without
# touching any real network.
#
# Inside: loopback up, and a veth pair whose end "wxh" carries the host address
# 10.200.0.1/24 plus the simulated units' addresses 10.200.0.2 .. 10.200.0.40,
# with the default route through it so that 255.255.255.255 is routable.
# Broadcasts sent there are looped back to local sockets and nothing leaves the
# namespace.
set -eu
if [ "${WEXO_IN_NETNS:-}" != 1 ]; then
  export WEXO_IN_NETNS=1
  exec unshare -n "$0" "$@"
fi
ip link set lo up
ip link add wxh type veth peer name wxu
ip addr add 10.200.0.1/24 dev wxh
i=2
while [ $i -le 40 ]; do
  ip addr add 10.200.0.$i/24 dev wxh
  i=$((i + 1))
done
ip link set wxh up
ip link set wxu up
ip route add default dev wxh
# Name servers of the host are unreachable from here: say so at once, so that
# name look-ups fail fast instead of waiting for a server that cannot answer.
for ns in $(awk '/^nameserver[ \t]+[0-9.]+$/ { print $2 }' /etc/resolv.conf 2>/dev/null); do
  ip route replace unreachable "$ns/32" 2>/dev/null || true
done
exec "$@"
