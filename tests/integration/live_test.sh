#!/usr/bin/env bash
# Runs one of the Python end-to-end checks (mqtt_check.py, metrics_check.py) against the real server and
# ZeltoSim (controller 10, the demo program), all inside a network namespace of this test's own with only
# the loopback adapter: nothing leaves the machine. The check starts the server (and the MQTT broker) itself.
#
# usage: live_test.sh SERVER_BINARY SIM_BINARY DEMO_ALC CHECK_SCRIPT
set -euo pipefail

server=$1 sim=$2 alc=$3 check=$4
python=/usr/bin/python3  # Debian's, which has the clients the checks use (scripts/deps.sh)

if [ "${ZELTO_LIVE_NETNS:-}" != 1 ]; then
  if ! unshare -n true 2>/dev/null; then
    echo "cannot create a network namespace here (needs root); skipping"
    exit 77
  fi
  exec env ZELTO_LIVE_NETNS=1 unshare -n "$0" "$@"
fi
ip link set lo up

. "$(dirname "$0")/../background.sh"
. "$(dirname "$0")/../wait_for.sh"

"$sim" --device lo --alc "$alc" 10 >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening" 20

status=0
ZELTO_SERVER="$server" ZELTO_WORK="$work" "$python" "$check" || status=$?
exit "$status"
