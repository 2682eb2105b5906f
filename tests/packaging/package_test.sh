#!/usr/bin/env bash
# cpack -G DEB makes zeltohttpserver_1.0.3_amd64.deb with dependencies computed from the binaries, lintian
# finds no error in it, and the server unpacked from it (dpkg-deb -x) runs headless beside the unpacked
# ZeltoSim: it serves the demo page from the installed web folder and answers a variable request.
# Arguments: the build folder (with CPackConfig.cmake).
build=$1
. "$(dirname "$0")/common.sh"
command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null || skip "dpkg-dev is missing (scripts/deps.sh)"
enter_private_network "$@"

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/pkg") >"$tmp/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$tmp/cpack.log")"
deb=$tmp/pkg/zeltohttpserver_1.0.3_amd64.deb
[ -f "$deb" ] || fail "no $deb: $(ls "$tmp/pkg")"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 zlib1g; do
  [[ "$depends" == *"$lib "* ]] || fail "Depends lacks $lib: $depends"
done

if command -v lintian >/dev/null; then
  # lintian refuses to run as (mapped) root without this; the package is only read.
  lintian --allow-root "$deb" >"$tmp/lintian.log" 2>&1 || true
  cat "$tmp/lintian.log"
  ! grep -q '^E:' "$tmp/lintian.log" || fail "lintian reports errors"
else
  echo "lintian is missing (scripts/deps.sh installs it); the package is not checked"
fi

root=$tmp/root
dpkg-deb -x "$deb" "$root"
[ -f "$root/usr/lib/systemd/system/zeltohttpserver.service" ] || [ -f "$root/lib/systemd/system/zeltohttpserver.service" ] ||
  fail "the package holds no service unit"
grep -q '^ExecStart=/usr/bin/ZeltoHttpServer ' "$root"/usr/lib/systemd/system/zeltohttpserver.service ||
  fail "the packaged unit does not start /usr/bin/ZeltoHttpServer"

# ZeltoSim finds the demo program in the unpacked share folder; both talk Q-link over loopback only.
"$root/usr/bin/ZeltoSim" --device lo --nad 10 >"$tmp/sim.out" 2>"$tmp/sim.err" &
wait_for "$tmp/sim.out" "ZeltoSim listening"
mkdir -p "$tmp/conf" "$tmp/cache"
TEMP="$tmp/cache" HOME="$tmp/home" \
  "$root/usr/bin/ZeltoHttpServer" --headless --port 0 --adapter lo --config "$tmp/conf" >"$tmp/server.out" 2>"$tmp/server.err" &
server=$!
wait_for "$tmp/server.out" "listening on port"
port=$(port_of "$tmp/server.out")

get "http://127.0.0.1:$port/index.html" "$tmp/index.html"
cmp -s "$tmp/index.html" "$root/usr/share/zeltohttpserver/www/index.html" || fail "/index.html is not the demo page"
get "http://127.0.0.1:$port/?c10.setpoint=47&c10.setpoint" "$tmp/vars.xml"
grep -q "<var><name>c10.setpoint</name><value>47</value><description>[^<]" "$tmp/vars.xml" ||
  fail "the variable request: $(cat "$tmp/vars.xml")"

kill -TERM $server
wait $server || fail "the server did not stop cleanly: $(cat "$tmp/server.err")"
echo "PASS"
