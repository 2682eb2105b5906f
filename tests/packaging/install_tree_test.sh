#!/usr/bin/env bash
# cmake --install puts every file where it belongs; the installed server, started from the tree in a
# read-only mount, serves the demo page from share/zeltohttpserver/www, keeps its settings in the folder
# --config names and, as its own folder cannot be written, writes its log below $XDG_STATE_HOME.
# Arguments: the build folder, the source folder.
build=$1 source=$2
. "$(dirname "$0")/common.sh"
enter_private_network "$@"

P=$tmp/P
cmake --install "$build" --prefix "$P" >"$tmp/install.log" || fail "cmake --install: $(cat "$tmp/install.log")"

expected="bin/ZeltoHttpServer bin/ZeltoSim share/zeltohttpserver/www/index.html share/zeltohttpserver/www/demo.js
share/zeltohttpserver/www/demo.css share/zeltohttpserver/Readme.txt share/zeltohttpserver/demo.alc
share/applications/zeltohttpserver.desktop share/icons/hicolor/scalable/apps/zeltohttpserver.svg
lib/systemd/system/zeltohttpserver.service share/man/man1/ZeltoHttpServer.1.gz share/man/man1/ZeltoSim.1.gz
share/doc/zeltohttpserver/copyright share/doc/zeltohttpserver/changelog.gz"
for f in $expected; do [ -f "$P/$f" ] || fail "$f is not installed"; done
[ -x "$P/bin/ZeltoHttpServer" ] && [ -x "$P/bin/ZeltoSim" ] || fail "the programs are not executable"
[ "$(find "$P" -type f | wc -l)" -eq "$(echo $expected | wc -w)" ] || fail "unexpected files: $(find "$P" -type f)"
grep -qx "ExecStart=$P/bin/ZeltoHttpServer --headless .*" "$P/lib/systemd/system/zeltohttpserver.service" ||
  fail "the unit does not start the installed program"

# The unit, the desktop entry and the manual page pass their checkers.
if command -v systemd-analyze >/dev/null; then
  MANPATH=$P/share/man systemd-analyze verify "$P/lib/systemd/system/zeltohttpserver.service" >"$tmp/verify.log" 2>&1 ||
    fail "systemd-analyze verify: $(cat "$tmp/verify.log")"
  [ ! -s "$tmp/verify.log" ] || fail "systemd-analyze verify warns: $(cat "$tmp/verify.log")"
else
  echo "systemd-analyze is missing (scripts/deps.sh installs systemd); the unit is not verified"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$P/share/applications/zeltohttpserver.desktop" || fail "desktop-file-validate"
fi
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$P/share/man/man1/ZeltoHttpServer.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page: $warnings"
fi

# The installed tree, read-only as /usr is on a sealed system.
mount --bind "$P" "$P" && mounted=$P && mount -o remount,bind,ro "$P" || skip "cannot mount the tree read-only"
touch "$P/bin/probe" 2>/dev/null && fail "the tree can still be written"
mkdir -p "$tmp/conf" "$tmp/cache"
printf 'LogToFile=1\n' >"$tmp/conf/ZeltoHttpServer.conf"
# The service manager's end of the readiness protocol: every datagram on a line of its own.
python3 - "$tmp/notify" "$tmp/notify.txt" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "ab", 0) as f:
    while True:
        f.write(s.recv(4096) + b"\n")
PY
for _ in $(seq 50); do [ -S "$tmp/notify" ] && break; sleep 0.1; done
env -u XDG_CONFIG_HOME XDG_STATE_HOME="$tmp/state" HOME="$tmp/home" TEMP="$tmp/cache" NOTIFY_SOCKET="$tmp/notify" \
  "$P/bin/ZeltoHttpServer" --headless --port 0 --config "$tmp/conf" >"$tmp/server.out" 2>"$tmp/server.err" &
server=$!
wait_for "$tmp/server.out" "listening on port"
port=$(port_of "$tmp/server.out")
wait_for "$tmp/notify.txt" "READY=1"

get "http://127.0.0.1:$port/index.html" "$tmp/index.html"
cmp -s "$tmp/index.html" "$source/www/index.html" || fail "/index.html is not the demo page"
get "http://127.0.0.1:$port/?sys.server_version" "$tmp/version.xml"
grep -q "<value>1.0.3</value>" "$tmp/version.xml" || fail "sys.server_version: $(cat "$tmp/version.xml")"

kill -TERM $server
wait $server || fail "the server did not stop cleanly: $(cat "$tmp/server.err")"
wait_for "$tmp/notify.txt" "STOPPING=1"

log=$tmp/state/ZeltoHttpServer/ZeltoHttpServer.log
grep -q "File request from 127.0.0.1: /index.html" "$log" || fail "no request in $log"
[ "$(grep -c "the log goes to $log" "$tmp/server.out")" = 1 ] || fail "the log's place was not said once: $(cat "$tmp/server.out")"
[ ! -e "$tmp/home/.config" ] || fail "settings went to the home folder despite --config"
grep -qx "LogToFile=1" "$tmp/conf/ZeltoHttpServer.conf" && grep -qx "Port=80" "$tmp/conf/ZeltoHttpServer.conf" ||
  fail "the settings were not saved in --config: $(cat "$tmp/conf/ZeltoHttpServer.conf")"
[ -f "$tmp/conf/ZeltoComServer.conf" ] || fail "the adapter setting was not saved in --config"
echo "PASS"
