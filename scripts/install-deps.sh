#!/usr/bin/env bash
# Installs what building, running and testing the panel needs on Debian 12 (run as root).
# Packages already present are left alone, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-httpserver-dev qt6-websockets-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-wqy-microhei fonts-liberation
  dbus at-spi2-core python3-pyatspi xdotool openbox x11-utils
  dpkg-dev desktop-file-utils appstream man-db
  iproute2
  mosquitto libmosquitto-dev mosquitto-clients
  chromium chromium-driver python3-selenium python3-paho-mqtt
)
# The web page's accessibility audit comes from the npm registry: npm where no Node.js is there.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "corvane: missing packages: ${missing[*]} (run this script as root, or install them with apt-get)" >&2
  exit 1
fi
echo "corvane: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
