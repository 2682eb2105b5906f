#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running ZeltoHttpServer need.
# Idempotent and silent when everything is there. Runs as root, or through sudo when that is available.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libboost-dev libmosquitto-dev
  mosquitto mosquitto-clients python3-paho-mqtt python3-prometheus-client
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux procps curl unzip python3 media-types
  xvfb chromium
  clang libclang-rt-14-dev
  dpkg-dev lintian systemd desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
    echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
    exit 1
  fi
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
