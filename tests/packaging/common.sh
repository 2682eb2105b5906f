# Shared by the installation tests: checks, a temporary folder, and the server started and asked inside a
# network namespace of the test's own (only its loopback adapter exists there).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

cleanup() {
  local pids
  pids=$(jobs -p)
  [ -z "$pids" ] || kill $pids 2>/dev/null || true
  [ -z "${mounted:-}" ] || umount "$mounted" || true
  rm -rf "$tmp"
}

# Re-runs this script in a private network (and mount) namespace; returns in the namespace itself, with a
# temporary folder $tmp that is removed at the end.
enter_private_network() {
  if [ "${ZELTO_IN_PRIVATE_NETWORK:-}" != 1 ]; then
    unshare -rnm true 2>/dev/null || skip "no network namespace of our own (unshare -rnm refused)"
    ZELTO_IN_PRIVATE_NETWORK=1 exec unshare -rnm "$BASH" "$0" "$@"
  fi
  ip link set lo up
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelto-install.XXXXXX")
  trap cleanup EXIT
}

. "$(dirname "${BASH_SOURCE[0]}")/../wait_for.sh"

# The port a started server reported in its output file.
port_of() { sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$1" | head -n1; }

# The body of a GET; fails on a status other than 200.
get() {
  local url=$1 out=$2
  local status
  status=$(curl -sg -o "$out" -w '%{http_code}' "$url") || fail "GET $url: curl failed"
  [ "$status" = 200 ] || fail "GET $url answered $status: $(cat "$out")"
}
