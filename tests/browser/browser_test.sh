#!/usr/bin/env bash
# The demo web page in a real browser: headless Chromium against the real server and ZeltoSim, all inside
# a network namespace of this test's own (nothing leaves the machine). On its live stream, a value changed
# in the controller must reach the page within one second while the page sends no further requests
# (stream_check.py). Nothing in the page's address writes, its Write button does; on a desktop and a phone
# screen the page fits, stays legible, and tells when the controller or the server gives no fresh values
# (demo_page_check.py). Screenshots of the page go into the build folder.
#
# usage: browser_test.sh SERVER_BINARY SIM_BINARY DEMO_ALC OUTPUT_DIR
set -euo pipefail

server=$1 sim=$2 alc=$3 out=$4
. "$(dirname "$0")/common.sh"

"$sim" --alc "$alc" 10 >"$work/sim.out" 2>&1 &
sim_pid=$!
pids+=($sim_pid)
wait_for "$work/sim.out" "ZeltoSim listening" 20

mkdir -p "$work/config" "$work/cache"
XDG_CONFIG_HOME="$work/config" TEMP="$work/cache" "$server" --headless --port 0 --adapter lo >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)
wait_for "$work/server.out" "listening on port " 20
port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)
base="http://127.0.0.1:$port"

mkdir -p "$out"
fail=0
# The live stream first (it needs the controller and the server as they are), then the page as an operator
# and a developer meet it, which at last stops the controller for a while and ends the server.
python3 "$(dirname "$0")/stream_check.py" "$chromium" "$base" "$work" || fail=1
python3 "$(dirname "$0")/demo_page_check.py" "$chromium" "$base" "$work" "$out" "$sim_pid" "$server_pid" || fail=1
echo "screenshots: $out/demo-*.png"

if [ "$fail" != 0 ]; then
  echo "--- server"; cat "$work/server.out"
  echo "--- simulator"; cat "$work/sim.out"
  echo "--- chromium (last lines)"; tail -n 20 "$work"/chromium-*.err
fi
exit "$fail"
