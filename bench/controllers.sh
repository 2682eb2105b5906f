#!/usr/bin/env bash
# Controller benchmark: ZeltoHttpServer and ZeltoSim (controllers 10..17, the demo program) inside a private
# network namespace (only the loopback adapter; no Q-link frame leaves it); bench/controllers.py measures
# how a healthy controller is answered while other clients keep silent controllers, autodetection or a
# stream busy, after abandoned requests, with twenty clients on one silent controller, with eight clients
# on eight controllers, after many names of unknown controllers, and while one client opens 300 streams.
# Every figure is a ratio or a limit taken in the same run. Bounded: about two minutes at most.
#
# usage: bench/controllers.sh [BUILD_DIR]     (CONTROLLER_SAMPLES=n requests per figure, default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server=$build/bin/ZeltoHttpServer
sim=$build/bin/ZeltoSim
[ -x "$server" ] && [ -x "$sim" ] || { echo "build ZeltoHttpServer and ZeltoSim first ($build/bin)"; exit 2; }

. bench/lib.sh
bench_private_network 300 "$0" "$@"
ulimit -n 4096 2>/dev/null || true

. tests/background.sh
. tests/wait_for.sh

"$sim" --device lo --alc sim/data/demo.alc --nad 10 --nad 11 --nad 12 --nad 13 --nad 14 --nad 15 --nad 16 --nad 17 \
  >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening"
mkdir -p "$work/config" "$work/cache"
XDG_CONFIG_HOME="$work/config" TEMP="$work/cache" \
  "$server" --headless --port 0 --adapter lo >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)
wait_for "$work/server.out" "listening on port "
port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)

python3 bench/controllers.py "http://127.0.0.1:$port" "$server_pid" "${CONTROLLER_SAMPLES:-200}"
