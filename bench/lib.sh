# Helpers shared by scripts/bench.sh and the scripts of bench/: a network namespace of their own, reading
# the clients' key=value lines, arithmetic on their figures, and the rows of the one table the run prints.
# Source it; BENCH_ROWS names the file that collects the rows.

# bench_private_network SECONDS COMMAND...: outside its namespace, runs COMMAND (the script itself, "$0"
# "$@") again in a network namespace of its own (unshare -n, or -rn when not root) for at most SECONDS and
# does not return; inside, brings the loopback adapter up. Nothing a script sends leaves the machine.
bench_private_network() {
  local seconds=$1
  shift
  if [ "${ZELTO_BENCH_NETNS:-}" != 1 ]; then
    local ns=(unshare -n)
    [ "$(id -u)" = 0 ] || ns=(unshare -rn)
    exec env ZELTO_BENCH_NETNS=1 timeout "$seconds" "${ns[@]}" "$@"
  fi
  ip link set lo up
}

# bench_kv LINE KEY: the value of KEY in a "key=value key=value" line ("" when absent).
bench_kv() {
  awk -v k="$2" '{ for (i = 1; i <= NF; i++) { n = index($i, "="); if (n && substr($i, 1, n - 1) == k) { print substr($i, n + 1); exit } } }' <<<"$1"
}

# bench_calc EXPRESSION: an awk expression, printed with up to two decimals ("2 * 3.5 / 4" gives 1.75).
bench_calc() {
  awk "BEGIN { v = $1; if (v == int(v)) printf \"%d\\n\", v; else printf \"%.2f\\n\", v }"
}

# bench_min A B: the smaller number; the other when one is empty.
bench_min() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || (b != "" && b + 0 < a + 0)) print b; else print a }'
}

# bench_verdict VALUE OP LIMIT: "pass" when VALUE OP LIMIT holds (OP one of < <= > >=), else "FAIL";
# "n/a" when VALUE is empty (the figure could not be taken).
bench_verdict() {
  if [ -z "$1" ]; then echo "n/a"; return; fi
  awk "BEGIN { exit !($1 $2 $3) }" && echo "pass" || echo "FAIL"
}

# bench_both VERDICT...: "pass" when every verdict is pass, else the first that is not.
bench_both() {
  for v in "$@"; do [ "$v" = pass ] || { echo "$v"; return; }; done
  echo "pass"
}

# bench_row FIGURE MEASURED TARGET VERDICT: one row of the table.
bench_row() {
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >>"$BENCH_ROWS"
  printf '  %-52s %s  [%s]\n' "$1" "$2" "$4" >&2
}

# bench_table: the rows collected so far, as one Markdown table.
bench_table() {
  echo "| figure | measured | target | |"
  echo "|---|---|---|---|"
  awk -F'\t' '{ printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4 }' "$BENCH_ROWS"
}

# bench_ms MICROSECONDS: milliseconds with two decimals.
bench_ms() { awk -v u="$1" 'BEGIN { printf "%.2f ms", u / 1000 }'; }
