#!/usr/bin/env bash
# The demo: builds the server and the simulator, then runs ZeltoSim (controller NAD 10 with the demo program,
# a heated tank) and ZeltoHttpServer headless on port 8080, both talking Q-link over the loopback adapter
# (--adapter lo). Ctrl+C stops both.
#
# The two run in a network namespace of their own ("zelto-demo"), so that no Q-link datagram reaches the
# machine's real network and no device on it can reach the simulated controller. The host reaches the
# server through a veth pair that only joins the host and the namespace: http://169.254.77.2:8080/.
# Needs root (network namespaces). Arguments go to the server, e.g. scripts/run.sh --port 8081.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/run.sh needs root: the demo runs in a network namespace of its own." >&2
  exit 1
fi

scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target ZeltoHttpServer ZeltoSim
bin=$(cd "$build/bin" && pwd)

port=8080
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --port) port=${args[i + 1]:-$port} ;;
    --port=*) port=${args[i]#--port=} ;;
  esac
done

ns=zelto-demo
host_if=zdemo-host
ns_if=zdemo-ns
host_ip=169.254.77.1
ns_ip=169.254.77.2
sim_pid=""
server_pid=""

cleanup() {
  trap - INT TERM EXIT
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  ip link del "$host_if" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  echo "Demo stopped."
}

# A namespace left over from a demo that was killed hard is replaced.
ip link del "$host_if" 2>/dev/null || true
ip netns del "$ns" 2>/dev/null || true
trap cleanup INT TERM EXIT

ip netns add "$ns"
ip link add "$host_if" type veth peer name "$ns_if"
ip link set "$ns_if" netns "$ns"
ip addr add "$host_ip/30" dev "$host_if"
ip link set "$host_if" up
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" ip addr add "$ns_ip/30" dev "$ns_if"
ip netns exec "$ns" ip link set "$ns_if" up

ip netns exec "$ns" "$bin/ZeltoSim" --nad 10 --alc "$bin/demo.alc" &
sim_pid=$!
ip netns exec "$ns" "$bin/ZeltoHttpServer" --headless --port 8080 --adapter lo "$@" &
server_pid=$!

base="http://$ns_ip:$port"
for _ in $(seq 100); do
  curl -s -o /dev/null "$base/" && break
  kill -0 "$server_pid" 2>/dev/null || { echo "The server did not start." >&2; exit 1; }
  sleep 0.1
done

cat <<EOF

The demo runs: ZeltoSim is controller 10 (a heated tank), ZeltoHttpServer answers on $base/
Try (curl -g keeps the brackets of array elements as they are):

  curl -g '$base/?c10.temp&c10.level&c10.setpoint&c10.pump&c10.table[2]'
  curl -g '$base/?c10.setpoint=60&c10.setpoint'
  curl -g '$base/?sys.nad_list'
  curl -g '$base/?c10.sys.alc_file'
  curl -g '$base/?sys.server_version&sys.server_uptime&sys.http_request_count'

The demo page: $base/index.html
Ctrl+C stops both.
EOF
wait "$server_pid"
