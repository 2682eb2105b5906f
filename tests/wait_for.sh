# Shell tests: wait_for FILE PATTERN [SECONDS] waits until FILE holds a line matching PATTERN (grep), for
# SECONDS at most (10 by default); on time-out it shows the file and returns 1.
wait_for() {
  local file=$1 pattern=$2 tenths=$((${3:-10} * 10))
  for _ in $(seq "$tenths"); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$pattern' in $file:"; cat "$file" 2>/dev/null; return 1
}
