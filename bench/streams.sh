#!/usr/bin/env bash
# Live-stream benchmark: ZeltoHttpServer and ZeltoSim (controller 10, the demo program) inside a private
# network namespace (only the loopback adapter; no Q-link frame leaves it), then bench/streams.py measures:
# Q-link reads of the controller per interval with 1 and with 100 streams (from the namespace's UDP
# counters), how soon a changed value reaches all 100 streams, the warm one-variable request with and
# without 100 streams, and the server's memory growth with 256 streams (and 503 for the 257th).
# Bounded: at most 256 streams, about a minute in all, everything stopped at the end.
#
# The warm requests are timed by zelto_bench_client of the build (or BENCH_CLIENT) when it is there.
#
# usage: bench/streams.sh [BUILD_DIR]      (default build; STREAM_INTERVAL=ms, default 250)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
interval=${STREAM_INTERVAL:-250}
server=$build/bin/ZeltoHttpServer
sim=$build/bin/ZeltoSim
[ -x "$server" ] && [ -x "$sim" ] || { echo "build ZeltoHttpServer and ZeltoSim first ($build/bin)"; exit 2; }

. bench/lib.sh
bench_private_network 180 "$0" "$@"
ulimit -n 4096 2>/dev/null || true

. tests/background.sh
. tests/wait_for.sh

"$sim" --alc sim/data/demo.alc --nad 10 >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening"
mkdir -p "$work/config" "$work/cache"
XDG_CONFIG_HOME="$work/config" TEMP="$work/cache" \
  "$server" --headless --port 0 --adapter lo --stream-interval "$interval" >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)
wait_for "$work/server.out" "listening on port "
port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)

BENCH_CLIENT=${BENCH_CLIENT:-$build/bin/zelto_bench_client} python3 bench/streams.py "http://127.0.0.1:$port" "$server_pid" "$interval"
