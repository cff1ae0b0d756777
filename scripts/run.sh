#!/usr/bin/env bash
# Installs what is missing, builds the panel and the switcher emulator, starts the emulator on
# a pseudo-terminal published as a COM port, and runs the panel beside it. The emulator stops
# when the panel closes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "corvane: no display found; start it under a virtual one with: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi

scripts/install-deps.sh
cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/release corvane corvane-sim

: "${CORVANE_PORT_DIR:=${XDG_RUNTIME_DIR:+$XDG_RUNTIME_DIR/corvane/ports}}"
: "${CORVANE_PORT_DIR:=/tmp/corvane-$(id -u)/ports}"
export CORVANE_PORT_DIR

log=$(mktemp -t corvane-sim.XXXXXX)
build/release/sim/corvane-sim --serial --tcp 127.0.0.1:8000 --udp >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do
  grep -q '^serial:' "$log" && break
  sleep 0.1
done
echo "corvane: switcher emulator: $(grep -m1 '^serial:' "$log" || echo 'not started, see its log')"
build/release/app/corvane "$@"
