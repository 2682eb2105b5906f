#!/usr/bin/env bash
# Installs what is missing, builds the server and runs it headless in the foreground (Ctrl+C stops it).
# Arguments go to the server, e.g. scripts/run.sh --port 8080 --adapter eth0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target ZeltoHttpServer
exec "$build/bin/ZeltoHttpServer" --headless "$@"
