#!/usr/bin/env bash
# A page of another site in a real browser tries to write a controller variable: headless Chromium opens a
# page served by python3 -m http.server on another loopback port, which tries an image, a form POST and a
# no-cors fetch POST against the server, and an image without referrer against the server's address on a
# private network (where the browser sends no Sec-Fetch-* headers; the server runs with --write-header).
# The value must stay as it was, and the server must have refused every one of them. Everything runs in a
# network namespace of this test's own (nothing leaves the machine).
#
# usage: cross_site_test.sh SERVER_BINARY SIM_BINARY DEMO_ALC
set -euo pipefail

server=$1 sim=$2 alc=$3
. "$(dirname "$0")/common.sh"
# A private-network address of the server (on lo, inside this namespace).
ip addr add 10.77.0.1/32 dev lo

"$sim" --alc "$alc" 10 >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.out" "ZeltoSim listening" 20

mkdir -p "$work/config/Tessvik" "$work/cache"
printf 'LogToFile=1\n' >"$work/config/Tessvik/ZeltoHttpServer.conf"
XDG_CONFIG_HOME="$work/config" TEMP="$work/cache" "$server" --headless --port 0 --adapter lo --write-header \
  --log "$work/server.log" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for "$work/server.out" "listening on port " 20
port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)
base="http://127.0.0.1:$port"

fail=0
ok() { echo "ok: $1"; }
failed() { echo "FAILED: $1"; fail=1; }
setpoint() { curl -sg "$base/?c10.setpoint" | sed -n 's/.*<name>c10.setpoint<\/name><value>\([^<]*\)<.*/\1/p'; }

# A script writes with the header; without it the write is refused.
curl -sg -H 'X-Zelto-Write: 1' "$base/?c10.setpoint=40" >/dev/null
[ "$(setpoint)" = 40 ] && ok "a script with the write header writes" || failed "a script with the write header writes"
status=$(curl -sg -o /dev/null -w '%{http_code}' "$base/?c10.setpoint=41")
[ "$status" = 403 ] && ok "a write without the header gets 403" || failed "a write without the header gets 403 ($status)"

# The other site's page.
site_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/site"
cat >"$work/site/index.html" <<HTML
<!doctype html>
<title>elsewhere</title>
<img src="$base/?c10.setpoint=91">
<img referrerpolicy="no-referrer" src="http://10.77.0.1:$port/?c10.setpoint=92">
<form id="f" method="POST" action="$base/" target="sink"><input name="c10.setpoint" value="93"></form>
<iframe name="sink"></iframe>
<script>
fetch("$base/", { method: "POST", mode: "no-cors", body: new URLSearchParams("c10.setpoint=94") })
  .finally(() => { document.getElementById("f").submit(); });
</script>
HTML
python3 -m http.server "$site_port" --bind 127.0.0.1 --directory "$work/site" >"$work/site.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$site_port/" && break; sleep 0.1; done

browser site --dump-dom "http://127.0.0.1:$site_port/" >"$work/dom.html" || true

value=$(setpoint)
[ "$value" = 40 ] && ok "the value stays 40" || failed "the value stays 40 (it is $value)"
refused() { grep -c "Refused request .*$1" "$work/server.log" || true; }
n=$(refused "Writes from another site are refused.*c10.setpoint=9[134]")
[ "$n" -ge 3 ] && ok "image, form POST and fetch POST refused as another site's ($n)" \
  || failed "image, form POST and fetch POST refused as another site's ($n)"
n=$(refused "Writes need the header 'X-Zelto-Write: 1'.*c10.setpoint=92")
[ "$n" -ge 1 ] && ok "the image without referrer refused for want of the header" \
  || failed "the image without referrer refused for want of the header"

if [ "$fail" != 0 ]; then
  echo "--- server log"; cat "$work/server.log" || true
  echo "--- server"; cat "$work/server.out"
  echo "--- chromium (last lines)"; tail -20 "$work/chromium.err"
fi
exit "$fail"
