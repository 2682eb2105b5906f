#!/usr/bin/env bash
# The benchmark: builds a Release server, simulator and the reference points in their own build folder,
# then runs everything in a network namespace of its own (loopback only, nothing reaches a real network):
# ZeltoSim, ZeltoHttpServer, nginx serving the same file, and the floors of bench/ (a minimal HTTP
# responder and a UDP echo). Prints one table: each figure, what it was measured at, its target, pass/FAIL.
#
# Not a test: the figures depend on the machine and its load. Counts and times come from the environment:
#   BENCH_BUILD_DIR (build-bench)  BENCH_FILE_SECONDS (5)  BENCH_FILE_ROUNDS (2)  BENCH_ROUNDS (3)
#   BENCH_SAMPLES (1000)  BENCH_MANY_SAMPLES (100)  BENCH_REQUESTS (100000)  BENCH_CONNECTIONS (1000)
#   BENCH_SLOW_CLIENTS (300)  BENCH_EARLY (64)  BENCH_BIG_LIST (60000)  BENCH_SMALL_LIST (150)
#   BENCH_SKIP_BUILD (set: use the programs as they are built)
#
# bench/streams.sh, when it exists and is executable, runs last, inside the namespace with the servers up,
# with the build folder as its argument: rows it adds with bench_row (bench/lib.sh) join the table, and
# what it prints follows the table. Its environment names the ports, the programs and the server's process
# (see bench_export below).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. "$root/bench/lib.sh"

: "${BENCH_BUILD_DIR:=build-bench}"
: "${BENCH_FILE_SECONDS:=5}"
: "${BENCH_FILE_ROUNDS:=2}"
: "${BENCH_ROUNDS:=3}"
: "${BENCH_SAMPLES:=1000}"
: "${BENCH_MANY_SAMPLES:=100}"
: "${BENCH_REQUESTS:=100000}"
: "${BENCH_CONNECTIONS:=1000}"
: "${BENCH_SLOW_CLIENTS:=300}"
: "${BENCH_EARLY:=64}"
: "${BENCH_BIG_LIST:=60000}"
: "${BENCH_SMALL_LIST:=150}"

server_port=8080 nginx_port=8081 floor_port=8082 echo_port=8443

# --- outside the namespace: packages and the build ------------------------------------------------------

bench_deps() {
  scripts/deps.sh
  local missing=()
  for p in nginx wrk; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  # nginx's package starts the system's nginx on port 80; the benchmark runs its own, so the installation
  # is told not to start services (unless the machine already says so).
  local policy=/usr/sbin/policy-rc.d made=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod 755 "$policy" && made=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    [ -n "$made" ] && $sudo rm -f "$policy"
    return 1
  }
  [ -n "$made" ] && $sudo rm -f "$policy"
  return 0
}

bench_build() {
  CMAKE_CXX_COMPILER_LAUNCHER=ccache cmake -S . -B "$BENCH_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DZELTO_TESTS=OFF -DZELTO_BENCH=ON >/dev/null
  cmake --build "$BENCH_BUILD_DIR" --target ZeltoHttpServer ZeltoSim zelto_bench_floor zelto_bench_client
}

if [ -z "${ZELTO_BENCH_INSIDE:-}" ]; then
  if [ -z "${BENCH_SKIP_BUILD:-}" ]; then
    bench_deps
    bench_build
  fi
  # root makes a network namespace as it is; anyone else in a user namespace of their own as well.
  unshare_args=(-n)
  [ "$(id -u)" -ne 0 ] && unshare_args=(-r -n)
  exec unshare "${unshare_args[@]}" env ZELTO_BENCH_INSIDE=1 "$root/scripts/bench.sh" "$@"
fi

# --- inside the namespace --------------------------------------------------------------------------------

ip link set lo up
bin=$(cd "$BENCH_BUILD_DIR/bin" && pwd)
client="$bin/zelto_bench_client"
tmp=$(mktemp -d /tmp/zelto-bench.XXXXXX)
export BENCH_ROWS="$tmp/rows.tsv"
: >"$BENCH_ROWS"
pids=()
sim_pid=""
server_pid=""

cleanup() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}" $sim_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup INT TERM EXIT

# waits until http://127.0.0.1:PORT/PATH answers 200 (up to SECONDS); false when it never does.
wait_http() {
  local port=$1 path=$2 seconds=${3:-15}
  for _ in $(seq $((seconds * 10))); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "http://127.0.0.1:$port$path")" = 200 ] && return 0
    sleep 0.1
  done
  return 1
}

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# An ALC of COUNT real variables v00000, v00001, ... for controller NAD. Their addresses repeat every
# BENCH_SMALL_LIST variables, so that the 100 that spread_query names lie at the same addresses in either
# list and cost the same memory reads: the lists differ only in their length.
make_alc() {
  awk -v n="$1" -v nad="$2" -v s="$BENCH_SMALL_LIST" 'BEGIN {
    print "; " n " generated variables"
    print ";CPU Zelto-2 NAD " nad
    print ";Addr Flags Count Offset Size Scope Type Name Description"
    for (i = 0; i < n; i++) printf "%04X 2 1 0 4 global real v%05d Value number %d\n", (i % s) * 4, i, i
  }'
}

# The query naming 100 variables of a list of COUNT on controller NAD: the same 100 places in each block of
# BENCH_SMALL_LIST variables, the blocks spread evenly over the list.
spread_query() {
  awk -v n="$1" -v nad="$2" -v s="$BENCH_SMALL_LIST" 'BEGIN {
    for (k = 0; k < 100; k++)
      printf "%sc%d.v%05d", (k ? "&" : "/?"), nad, int((k + 0.5) * s / 100) + s * int(k * int(n / s) / 100)
  }'
}

# Starts ZeltoSim hosting NAD with the ALC file (replacing the one that runs).
start_sim() {
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  "$bin/ZeltoSim" --device lo --nad "$1" --alc "$2" >"$tmp/sim.log" 2>&1 &
  sim_pid=$!
  sleep 0.3
}

# Asks for a variable until its value is known (the first request fetches the controller's list).
warm_variable() {
  local url="http://127.0.0.1:$server_port/?$1"
  for _ in $(seq 60); do
    curl -s --max-time 30 "$url" | grep -q '<value>?</value>' || return 0
    sleep 0.5
  done
  echo "warning: $1 stays unknown" >&2
}

# Waits until the server answers a file again (earlier figures may leave it busy).
settle() { wait_http $server_port /index.html 20 || echo "warning: the server answers no file" >&2; }

start_all() {
  cp "$bin/index.html" "$tmp/index.html"
  mkdir -p "$tmp/config" "$tmp/cache" "$tmp/nginx"
  # nginx as one process in the foreground (like the server, one thread does its I/O), with every path of
  # its own in the temporary folder.
  cat >"$tmp/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
error_log $tmp/nginx/error.log;
pid $tmp/nginx/nginx.pid;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  types { text/html html; }
  server { listen 127.0.0.1:$nginx_port; root $tmp; }
}
CONF
  nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -e "$tmp/nginx/error.log" &
  pids+=($!)
  "$bin/zelto_bench_floor" --http-port $floor_port --udp-port $echo_port --file "$tmp/index.html" >/dev/null &
  pids+=($!)
  start_sim 10 "$bin/demo.alc"
  XDG_CONFIG_HOME="$tmp/config" TEMP="$tmp/cache" "$bin/ZeltoHttpServer" --headless --port $server_port \
    --adapter lo >"$tmp/server.log" 2>&1 &
  server_pid=$!
  pids+=($server_pid)
  wait_http $server_port /index.html || { cat "$tmp/server.log" >&2; exit 1; }
  wait_http $nginx_port /index.html || { cat "$tmp/nginx/error.log" >&2; exit 1; }
  wait_http $floor_port /index.html
  warm_variable c10.temp
}

# --- the figures; each adds its rows ------------------------------------------------------------------

# wrk's request rate for a file with CONNECTIONS at PORT; answers other than 2xx or 3xx and broken
# connections follow the rate.
file_rate() {
  wrk -t1 -c"$2" -d"${BENCH_FILE_SECONDS}s" -H "Connection: close" "http://127.0.0.1:$1/index.html" |
    awk '/Requests\/sec/ { rate = int($2) } /Non-2xx/ { bad = bad " " $NF " non-2xx" }
         /Socket errors/ { bad = bad " " $0 } END { print rate (bad ? " (" substr(bad, 2) ")" : "") }'
}

# The server and nginx take turns, BENCH_FILE_ROUNDS times; the best rate of each counts, so that a moment
# of load from elsewhere on the machine does not decide the ratio.
figure_file_rate() {
  local c r ours theirs best_ours best_theirs share
  for c in 1 8; do
    best_ours=0 best_theirs=0
    for r in $(seq "$BENCH_FILE_ROUNDS"); do
      ours=$(file_rate $server_port "$c")
      theirs=$(file_rate $nginx_port "$c")
      [ "${ours%% *}" -gt "${best_ours%% *}" ] && best_ours=$ours
      [ "${theirs%% *}" -gt "${best_theirs%% *}" ] && best_theirs=$theirs
    done
    share=$(awk -v a="${best_ours%% *}" -v b="${best_theirs%% *}" 'BEGIN { if (b > 0) printf "%.0f", 100 * a / b }')
    bench_row "file rate with $c connection$([ "$c" = 1 ] || echo s) against nginx" \
      "${best_ours%% *}/s${best_ours#"${best_ours%% *}"} vs ${best_theirs%% *}/s${best_theirs#"${best_theirs%% *}"} = $share%" \
      "≥ 60%" "$(bench_verdict "$share" '>=' 60)"
  done
}

# The floor and the server take turns, BENCH_ROUNDS times; each keeps its lowest median (the server with
# the p99 of that round), for the same reason as the file rates.
figure_warm_variable() {
  local r floor echo one best_floor="" best_echo="" best_one="" base ratio spread p50 p99
  for r in $(seq "$BENCH_ROUNDS"); do
    floor=$("$client" seq --port $floor_port --path /index.html --count "$BENCH_SAMPLES" --warmup 20)
    echo=$("$client" udp --port $echo_port --count $((BENCH_SAMPLES * 5)))
    one=$("$client" seq --port $server_port --path "/?c10.temp" --count "$BENCH_SAMPLES" --warmup 20)
    [ "$(bench_kv "$one" bad)" = 0 ] || echo "warning: c10.temp answered $(bench_kv "$one" bad_status)" >&2
    best_floor=$(bench_min "$best_floor" "$(bench_kv "$floor" p50)")
    best_echo=$(bench_min "$best_echo" "$(bench_kv "$echo" p50)")
    if [ -z "$best_one" ] || [ "$(bench_verdict "$(bench_kv "$one" p50)" '<' "$(bench_kv "$best_one" p50)")" = pass ]; then
      best_one=$one
    fi
  done
  p50=$(bench_kv "$best_one" p50)
  p99=$(bench_kv "$best_one" p99)
  base=$(bench_calc "$best_floor + 5 * $best_echo")
  ratio=$(bench_calc "$p50 / $base")
  spread=$(bench_calc "$p99 / $p50")
  bench_row "warm one-variable median against the floor" \
    "$p50 µs vs $base µs = ${ratio}× (HTTP $best_floor µs + 5 × UDP $best_echo µs)" "≤ 1.3×" \
    "$(bench_verdict "$ratio" '<=' 1.3)"
  bench_row "warm one-variable p99 against p50" "$p99 µs / $p50 µs = ${spread}×" "≤ 3×" \
    "$(bench_verdict "$spread" '<=' 3)"
}

# The same request over one kept-alive connection and over a new connection each time, taking turns
# BENCH_ROUNDS times; each keeps its lowest median.
figure_kept_alive() {
  local r new kept best_new="" best_kept="" ratio
  for r in $(seq "$BENCH_ROUNDS"); do
    new=$("$client" seq --port $server_port --path "/?c10.temp" --count "$BENCH_SAMPLES" --warmup 20)
    kept=$("$client" seq --port $server_port --path "/?c10.temp" --count "$BENCH_SAMPLES" --warmup 20 --keep-alive 1)
    [ "$(bench_kv "$kept" bad)" = 0 ] || echo "warning: c10.temp kept alive answered $(bench_kv "$kept" bad_status)" >&2
    best_new=$(bench_min "$best_new" "$(bench_kv "$new" p50)")
    best_kept=$(bench_min "$best_kept" "$(bench_kv "$kept" p50)")
  done
  ratio=$(bench_calc "$best_kept / $best_new")
  bench_row "warm one-variable median, kept-alive connection vs a new one each time" \
    "$best_kept µs vs $best_new µs = ${ratio}×" "≤ 1×" "$(bench_verdict "$ratio" '<=' 1)"
}

# The median of COUNT requests for PATH, in µs; with a warning when any was not answered 200.
median_of() {
  local line
  line=$("$client" seq --port $server_port --path "$1" --count "$2" --warmup 3)
  [ "$(bench_kv "$line" bad)" = 0 ] || echo "warning: $1 answered $(bench_kv "$line" bad_status)" >&2
  bench_kv "$line" p50
}

# One ZeltoSim runs at a time (they would share UDP port 8442), so the small and the large list take
# turns; each figure keeps its lowest median over BENCH_ROUNDS rounds.
figure_lists() {
  local small="$tmp/small.alc" big="$tmp/big.alc" r one="" many="" many_big="" ratio fetch fetch_start
  make_alc "$BENCH_SMALL_LIST" 11 >"$small"
  make_alc "$BENCH_BIG_LIST" 12 >"$big"
  for r in $(seq "$BENCH_ROUNDS"); do
    start_sim 11 "$small"
    warm_variable c11.v00000
    one=$(bench_min "$one" "$(median_of "/?c11.v00001" "$BENCH_MANY_SAMPLES")")
    many=$(bench_min "$many" "$(median_of "$(spread_query "$BENCH_SMALL_LIST" 11)" "$BENCH_MANY_SAMPLES")")
    start_sim 12 "$big"
    fetch_start=$SECONDS
    warm_variable c12.v00000
    fetch=$((SECONDS - fetch_start))
    many_big=$(bench_min "$many_big" "$(median_of "$(spread_query "$BENCH_BIG_LIST" 12)" "$BENCH_MANY_SAMPLES")")
  done
  ratio=$(bench_calc "$many / $one")
  bench_row "100 variables against one ($BENCH_SMALL_LIST-entry list)" \
    "$(bench_ms "$many") vs $(bench_ms "$one") = ${ratio}×" "≤ 2×" "$(bench_verdict "$ratio" '<=' 2)"
  ratio=$(bench_calc "$many_big / $many")
  bench_row "100 variables of a $BENCH_BIG_LIST-entry list against a $BENCH_SMALL_LIST-entry one" \
    "$(bench_ms "$many_big") vs $(bench_ms "$many") = ${ratio}× (list fetched in ~${fetch} s)" "≤ 1.5×" \
    "$(bench_verdict "$ratio" '<=' 1.5)"
  start_sim 10 "$bin/demo.alc"
  warm_variable c10.temp
}

figure_silent() {
  local line worst overlapped verdict
  line=$("$client" during --port $server_port --bg-path "/?c99.temp" --path /index.html --delay-ms 200 --count 5)
  worst=$(bench_kv "$line" max)
  overlapped=$(bench_kv "$line" overlapped)
  verdict=$(bench_both "$(bench_verdict "$worst" '<' 5000)" "$(bench_verdict "$(bench_kv "$line" bad)" '==' 0)")
  [ "$overlapped" = 1 ] || verdict="n/a (the silent request ended first)"
  bench_row "a file while a silent controller is asked" \
    "worst of 5: $(bench_ms "$worst") (the silent request: $(bench_ms "$(bench_kv "$line" bg_us)"))" "< 5 ms" "$verdict"
  settle
  local query="/?c80.temp" nad
  for nad in $(seq 81 89); do query="$query&c$nad.temp"; done
  line=$("$client" seq --port $server_port --path "$query" --count 1)
  local took
  took=$(bench_calc "$(bench_kv "$line" p50) / 1000000")
  bench_row "ten silent controllers in one request" "$took s" "≤ 1.7 s" \
    "$(bench_both "$(bench_verdict "$took" '<=' 1.7)" "$(bench_verdict "$(bench_kv "$line" bad)" '==' 0)")"
}

figure_connections() {
  local line ok mib
  line=$("$client" crowd --port $server_port --path /index.html --count "$BENCH_CONNECTIONS" --hold-ms 500 \
    --pid "$server_pid")
  ok=$(bench_kv "$line" ok)
  mib=$(bench_calc "$(bench_kv "$line" rss_kib) / 1024")
  local others
  # status_503=271 status_0=665 become "503 ×271, no answer ×665"
  others=$(tr ' ' '\n' <<<"$line" | grep '^status_' | sed 's/^status_//; s/=/ ×/; s/^0 /no answer /' |
    paste -sd, - | sed 's/,/, /g' || true)
  bench_row "$BENCH_CONNECTIONS connections open at once" \
    "$ok answered 200${others:+ ($others)}, RSS peak $mib MiB" "all answered, RSS < 64 MiB" \
    "$(bench_both "$(bench_verdict "$ok" '==' "$BENCH_CONNECTIONS")" "$(bench_verdict "$mib" '<' 64)")"
}

figure_memory() {
  local before after line
  "$client" seq --port $server_port --path /index.html --count 200 >/dev/null
  sleep 0.5
  before=$(rss_kib "$server_pid")
  # Files, a login, a missing file and variables, in turn, from four clients at once.
  line=$("$client" load --port $server_port --count "$BENCH_REQUESTS" --connections 4 \
    --paths "/index.html,/?username=bench&password=x,/index.html,/missing.html,/index.html,/?c10.temp,/index.html,/?sys.server_version,/index.html,/demo.css")
  sleep 1
  after=$(rss_kib "$server_pid")
  bench_row "RSS before and after $BENCH_REQUESTS requests" \
    "$(bench_calc "$before / 1024") → $(bench_calc "$after / 1024") MiB ($(bench_calc "$after - $before") KiB; $(bench_kv "$line" rate)/s)" \
    "growth < 1 MiB" "$(bench_verdict "$((after - before))" '<' 1024)"
}

figure_slow_clients() {
  local line worst
  line=$("$client" slow --port $server_port --path /index.html --slow "$BENCH_SLOW_CLIENTS" --warm-ms 3000 --count 10 \
    --interval-ms 200)
  worst=$(bench_kv "$line" max)
  bench_row "a file with $BENCH_SLOW_CLIENTS clients sending a byte a second" \
    "worst of 10: $(bench_ms "$worst"), $(bench_kv "$line" bad) not answered 200" "answered within 1 s" \
    "$(bench_both "$(bench_verdict "$worst" '<=' 1000000)" "$(bench_verdict "$(bench_kv "$line" bad)" '==' 0)")"
}

figure_early_answers() {
  local line worst
  line=$("$client" early --port $server_port --path /index.html --early "$BENCH_EARLY" --method DELETE --count 3)
  worst=$(bench_kv "$line" max)
  bench_row "a file right after $BENCH_EARLY requests answered 405" \
    "worst of 3: $(bench_ms "$worst"), $(bench_kv "$line" bad) not answered 200 ($(bench_kv "$line" early_405) × 405 in $(bench_kv "$line" refused_ms) ms)" \
    "answered within 1 s" \
    "$(bench_both "$(bench_verdict "$worst" '<=' 1000000)" "$(bench_verdict "$(bench_kv "$line" bad)" '==' 0)")"
}

# What bench/streams.sh finds in its environment.
bench_export() {
  export BENCH_LIB="$root/bench/lib.sh" BENCH_BIN="$bin" BENCH_CLIENT="$client" BENCH_TMP="$tmp"
  export BENCH_PORT=$server_port BENCH_NGINX_PORT=$nginx_port BENCH_FLOOR_PORT=$floor_port BENCH_ECHO_PORT=$echo_port
  export BENCH_SERVER_PID=$server_pid BENCH_NAD=10
}

figure_streams() {
  [ -x "$root/bench/streams.sh" ] || return 0
  bench_export
  "$root/bench/streams.sh" "$(dirname "$bin")" >"$tmp/streams.txt" 2>&1 || echo "warning: bench/streams.sh failed" >&2
}

# --- the run ---------------------------------------------------------------------------------------------

# Runs one figure after the server is free again, and says how long it took.
measure() {
  local start=$SECONDS
  settle
  "$1"
  echo "  ($1: $((SECONDS - start)) s)" >&2
}

started=$SECONDS
start_all
echo "Measuring (load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores) ..." >&2
# The lists come last but one: the server keeps the long list in memory, which the RSS figures leave out.
for figure in file_rate warm_variable kept_alive silent connections memory slow_clients early_answers lists streams; do
  measure "figure_$figure"
done

echo
bench_table
echo
if [ -s "$tmp/streams.txt" ]; then
  echo "bench/streams.sh:"
  sed 's/^/  /' "$tmp/streams.txt"
  echo
fi
[ -x "$root/bench/controllers.sh" ] && { echo "bench/controllers.sh:"; "$root/bench/controllers.sh" "$(dirname "$bin")" 2>&1 | sed 's/^/  /' || true; echo; }
echo "Release build, loopback in a network namespace of its own; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)" \
  "at the end; $((SECONDS - started)) s."
