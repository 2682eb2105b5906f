#!/usr/bin/env bash
# The demo web page in a real browser: headless Chromium against the real server and ZeltoSim, all inside
# a network namespace of this test's own (nothing leaves the machine). Asking once a second, the page must
# show live values of the demo controller, and a setpoint written through the page must read back. On its
# live stream, a value changed in the controller must reach the page within one second while the page
# sends no further requests (stream_check.py). A screenshot of the page is saved into the build folder.
#
# usage: browser_test.sh SERVER_BINARY SIM_BINARY DEMO_ALC OUTPUT_DIR
set -euo pipefail

server=$1 sim=$2 alc=$3 out=$4
. "$(dirname "$0")/common.sh"

"$sim" --alc "$alc" 10 >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening" 20

mkdir -p "$work/config" "$work/cache"
XDG_CONFIG_HOME="$work/config" TEMP="$work/cache" "$server" --headless --port 0 --adapter lo >"$work/server.out" 2>&1 &
pids+=($!)
wait_for "$work/server.out" "listening on port " 20
port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)
base="http://127.0.0.1:$port"

# The page writes the setpoint given after "#" when it opens, then polls once a second (as it does where
# a stream cannot be had; the browser's virtual time does not run while a stream stays open).
browser dom --dump-dom "$base/index.html#setpoint=42.5&transport=poll" >"$work/dom.html"

fail=0
check() {
  if grep -q -E "$2" "$work/dom.html"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
check "the page polled the server" 'data-polls="[1-9]'
check "the page says that it polls" 'data-transport="polling"'
check "the page reports the server live" 'data-state="live"'
check "the written setpoint read back" 'data-written="42.5"'
check "the setpoint row shows the written value" '<tr data-name="c10.setpoint"[^>]*>.*<td class="value">42.5</td>'
check "a live temperature value" '<tr data-name="c10.temp"[^>]*><td class="name">c10.temp</td><td class="value">-?[0-9]+([.,][0-9]+)?</td>'
check "the description from the controller's list" 'Tank temperature \[°C\]'
check "the server version" '<dd id="server-version">1\.0\.3</dd>'

python3 "$(dirname "$0")/stream_check.py" "$chromium" "$base" "$work" || fail=1

mkdir -p "$out"
browser shot --window-size=1000,1100 --screenshot="$out/browser_demo.png" "$base/index.html#transport=poll" >/dev/null
if [ -s "$out/browser_demo.png" ]; then echo "screenshot: $out/browser_demo.png"; else echo "FAILED: no screenshot"; fail=1; fi

if [ "$fail" != 0 ]; then
  echo "--- page as the browser left it"; cat "$work/dom.html"
  echo "--- server"; cat "$work/server.out"
  echo "--- simulator"; cat "$work/sim.out"
  echo "--- chromium (last lines)"; tail -20 "$work/chromium.err"
fi
exit "$fail"
