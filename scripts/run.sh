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
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -f "$log"' EXIT

start_sim() {  # start_sim <options...>: true once the emulator says where it is reachable
  build/release/sim/corvane-sim "$@" >"$log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do
    grep -q '^serial:' "$log" && return 0
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
  done
  kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; sim=
  return 1
}

# Serial, TCP and UDP; where the network ports are taken, serial alone.
if start_sim --serial --tcp 127.0.0.1:8000 --udp || start_sim --serial; then
  echo "corvane: switcher emulator: $(grep -m1 '^serial:' "$log")"
else
  echo "corvane: the switcher emulator did not start:" >&2
  cat "$log" >&2
fi
build/release/app/corvane "$@"
