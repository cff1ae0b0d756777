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

# Serial, TCP and UDP, all reachable from this machine only; where the TCP port is taken, serial
# alone. Its search and configuration ports are picked by the system and answer the sender's
# own port; CORVANE_UDP_TO aims the panel's Search and Config... at them, so no datagram leaves
# the machine.
if start_sim --serial --tcp 127.0.0.1:8000 --udp 127.0.0.1:0,0 --udp-reply source || start_sim --serial; then
  echo "corvane: switcher emulator: $(grep -m1 '^serial:' "$log")"
  udp=$(sed -n 's/^.*udp: \(127\.0\.0\.1:[0-9]*,[0-9]*\).*$/\1/p' "$log" | head -n 1)
  if [ -n "$udp" ]; then
    export CORVANE_UDP_TO=$udp
    echo "corvane: Search and Config... go to the emulator at $udp (CORVANE_UDP_TO)"
  else
    echo "corvane: TCP 127.0.0.1:8000 (or a UDP port) could not be opened: the emulator answers on its serial port only," \
      "and Search and Config... broadcast on the network as for real switchers" >&2
  fi
else
  echo "corvane: the switcher emulator did not start:" >&2
  cat "$log" >&2
fi
build/release/panel/corvane "$@"
