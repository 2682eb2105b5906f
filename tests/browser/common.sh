# The start that the browser tests share; source it first: . "$(dirname "$0")/common.sh"
# Finds Chromium (exit 77, a skip, without it), runs the calling script again inside a private network
# namespace with only the loopback adapter (nothing leaves the machine), brings in $work, $pids and
# wait_for, and defines `browser NAME ARGS...`: headless Chromium with a fresh profile of that name.
chromium=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$chromium" ]; then
  echo "chromium is not installed (scripts/deps.sh installs it); skipping"
  exit 77
fi

if [ "${ZELTO_BROWSER_NETNS:-}" != 1 ]; then
  if ! unshare -n true 2>/dev/null; then
    echo "cannot create a network namespace here (needs root); skipping"
    exit 77
  fi
  exec env ZELTO_BROWSER_NETNS=1 unshare -n "$0" "$@"
fi
ip link set lo up

. "$(dirname "${BASH_SOURCE[0]}")/../background.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../wait_for.sh"

browser() {
  "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --disable-dev-shm-usage \
    --user-data-dir="$work/profile-$1" --virtual-time-budget=6000 "${@:2}" 2>>"$work/chromium.err"
}
