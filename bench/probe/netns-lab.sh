# Sourced by the bench scripts: a prober and a host namespace joined by veth,
# the prober at 198.18.0.1, the test host's addresses given as ADDRESS=BEHAVIOUR.
# Nothing leaves the machine. Needs root and iproute2.

# The test programs' send guard lets them reach 198.18.0.0/15 only from a
# namespace other than this one, the machine's.
if [ -z "${KELVORAN_TEST_MACHINE_NETNS:-}" ]; then
  KELVORAN_TEST_MACHINE_NETNS=$(stat -L -c '%d:%i' /proc/self/ns/net)
  export KELVORAN_TEST_MACHINE_NETNS
fi

lab_id="kvb-$$"
lab_prober="$lab_id-prober"
lab_host="$lab_id-host"
lab_testhost_pid=""

lab_down() {
  if [ -n "$lab_testhost_pid" ]; then
    kill "$lab_testhost_pid" 2>/dev/null || true
    wait "$lab_testhost_pid" 2>/dev/null || true
  fi
  ip netns delete "$lab_prober" 2>/dev/null || true
  ip netns delete "$lab_host" 2>/dev/null || true
}

# lab_up TESTHOST_BINARY ADDRESS=BEHAVIOUR...
lab_up() {
  local testhost=$1; shift
  trap lab_down EXIT
  ip netns add "$lab_prober"
  ip netns add "$lab_host"
  ip -n "$lab_prober" link set lo up
  ip -n "$lab_host" link set lo up
  ip link add "kvb$$p" netns "$lab_prober" type veth peer name "kvb$$h" netns "$lab_host"
  ip -n "$lab_prober" addr add 198.18.0.1/24 dev "kvb$$p"
  ip -n "$lab_host" addr add 198.18.0.2/24 dev "kvb$$h"
  local entry
  for entry in "$@"; do
    ip -n "$lab_host" addr add "${entry%%=*}/32" dev "kvb$$h"
  done
  ip -n "$lab_prober" link set "kvb$$p" up
  ip -n "$lab_host" link set "kvb$$h" up
  ip netns exec "$lab_host" sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all'
  ip netns exec "$lab_prober" sh -c 'echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range'
  local ready
  exec {lab_fd}< <(exec ip netns exec "$lab_host" "$testhost" --lifetime 600 "$@")
  lab_testhost_pid=$!
  read -r -t 5 ready <&"$lab_fd" || true
  [ "$ready" = ready ] || { echo "test host did not start" >&2; return 1; }
}
