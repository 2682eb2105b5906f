#!/usr/bin/env bash
# The demo: installs what is missing, builds the server and the simulator, then runs ZeltoSim (controller
# NAD 10 with the demo program, a heated tank) and ZeltoHttpServer headless on port 8080, both talking Q-link
# over the loopback adapter only: the server broadcasts on lo (--adapter lo), and the simulator takes only
# datagrams that arrive on lo (--device lo), so no Q-link frame reaches the real network and nothing on it
# reaches the simulated controller. Ctrl+C stops both.
#
# Arguments go to the server, e.g. scripts/run.sh --port 8081.
set -euo pipefail
cd "$(dirname "$0")/.."

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

sim_pid=""
server_pid=""
cleanup() {
  trap - INT TERM EXIT
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  echo "Demo stopped."
}
trap cleanup INT TERM EXIT

"$bin/ZeltoSim" --device lo --nad 10 --alc "$bin/demo.alc" &
sim_pid=$!
"$bin/ZeltoHttpServer" --headless --port "$port" --adapter lo "$@" &
server_pid=$!

base="http://127.0.0.1:$port"
for _ in $(seq 100); do
  curl -s -o /dev/null "$base/" && break
  kill -0 "$server_pid" 2>/dev/null || { echo "The server did not start (is port $port taken? try --port 8081)." >&2; exit 1; }
  kill -0 "$sim_pid" 2>/dev/null || { echo "ZeltoSim did not start (is UDP port 8442 taken?)." >&2; exit 1; }
  sleep 0.1
done

cat <<TEXT

The demo runs: ZeltoSim is controller 10 (a heated tank), ZeltoHttpServer answers on $base/
Try (curl -g keeps the brackets of array elements as they are):

  curl -g '$base/?c10.temp&c10.level&c10.setpoint&c10.pump&c10.table[2]'
  curl -g '$base/?c10.setpoint=60&c10.setpoint'
  curl -g '$base/?sys.nad_list'
  curl -g '$base/?c10.sys.alc_file'
  curl -g '$base/?sys.server_version&sys.server_uptime&sys.http_request_count'

The demo page: $base/index.html
Ctrl+C stops both.
TEXT
wait "$server_pid"
