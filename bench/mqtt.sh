#!/usr/bin/env bash
# MQTT and metrics benchmark: ZeltoHttpServer, ZeltoSim and a mosquitto broker inside a private network
# namespace (only the loopback adapter; no Q-link frame leaves it), then bench/mqtt.py measures, with 300
# published variables on 3 controllers at the default interval (1000 ms): the server's CPU share of one
# core and its RSS growth, how soon a value changed in the controller reaches an MQTT subscriber (median
# against interval + 100 ms), and how long /metrics takes with 100 controllers known.
# Bounded: about MQTT_BENCH_SECONDS (default 30) plus start-up, everything stopped at the end.
#
# usage: bench/mqtt.sh [BUILD_DIR]      (MQTT_BENCH_SECONDS=s, MQTT_BENCH_SAMPLES=n for the latency)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server=$build/bin/ZeltoHttpServer
sim=$build/bin/ZeltoSim
[ -x "$server" ] && [ -x "$sim" ] || { echo "build ZeltoHttpServer and ZeltoSim first ($build/bin)"; exit 2; }
command -v mosquitto >/dev/null || { echo "mosquitto is not installed (scripts/deps.sh installs it)"; exit 2; }

. bench/lib.sh
bench_private_network 300 "$0" "$@"

. tests/background.sh
. tests/wait_for.sh

# A program of 100 reals, hosted by controllers 10..109 (the first three publish, all count for /metrics).
{
  echo ";CPU Zelto-2 NAD 10"
  echo ";Addr Flags Count Offset Size Scope Type Name Description"
  for i in $(seq 0 99); do printf '%04X 2 1 0 4 global real v%03d Value %d\n' $((i * 4)) "$i" "$i"; done
} >"$work/bench.alc"
nads=()
for n in $(seq 10 109); do nads+=(--nad "$n"); done
"$sim" --device lo --alc "$work/bench.alc" "${nads[@]}" >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening" 20

/usr/bin/python3 bench/mqtt.py "$server" "$work"
