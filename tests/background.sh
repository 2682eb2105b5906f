# Shell tests and benchmarks: a temporary folder $work and the list $pids of background processes, both
# removed on exit (the processes killed). Source it, then `some_program & pids+=($!)`.
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
