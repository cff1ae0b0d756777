#!/usr/bin/env bash
# Runs one part of the screen-reader suite (panel_atspi.py) against the panel and the switcher
# emulator inside a virtual X server with a session bus and the accessibility bus, driven as
# an operator without a mouse drives it: AT-SPI for reading and pressing, xdotool for keys.
# Usage: run.sh PART CORVANE CORVANE-SIM. Exit 77 (skipped) where the tools are missing.
set -u
part=$1 panel=$2 sim=$3
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "skipped: $*"; exit 77; }
for tool in xvfb-run dbus-run-session xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || skip "at-spi2-core is not installed"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"

work=$(mktemp -d /tmp/corvane-atspi-XXXXXX)
chmod 700 "$work"
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# The switcher on a pseudo-terminal, published as a COM port in a folder of this run only.
mkdir "$work/ports"
# The first status reply comes late, so the busy indicator stays open long enough to be read.
CORVANE_PORT_DIR=$work/ports "$sim" --serial --fault "delay=800:01 04 01" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '^serial:' "$work/sim.log" && break
  sleep 0.1
done
port=$(sed -n 's/^serial: com\([0-9]*\) .*/COM\1/p' "$work/sim.log" | head -n 1)
[ -n "$port" ] || { cat "$work/sim.log"; echo "the emulator did not start"; exit 1; }

# The desktop part runs under a window manager (openbox, with Super+Up and Super+Down bound to
# maximize and restore as GNOME and Xfce bind them); the others run without one.
wm=
if [ "$part" = desktop ]; then
  for tool in openbox xprop; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
  done
  sed 's|<keyboard>|<keyboard><keybind key="W-Up"><action name="Maximize"/></keybind><keybind key="W-Down"><action name="Unmaximize"/></keybind>|' \
    /etc/xdg/openbox/rc.xml >"$work/rc.xml"
  wm="openbox --config-file $work/rc.xml"
fi
inner=$work/inner.sh
cat >"$inner" <<'IN'
"$AT_SPI_LAUNCHER" --launch-immediately >/dev/null 2>&1 &
bus=$!
wm_pid=
if [ -n "$DESKTOP_WM" ]; then
  # Running once it names itself on the root window; started again while the display is not
  # ready for it yet.
  for _ in $(seq 50); do
    if [ -z "$wm_pid" ] || ! kill -0 "$wm_pid" 2>/dev/null; then
      $DESKTOP_WM >/dev/null 2>&1 &
      wm_pid=$!
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
fi
sleep 0.7
/usr/bin/python3 "$@"
rc=$?
[ -n "$wm_pid" ] && kill $wm_pid 2>/dev/null
kill $bus 2>/dev/null
exit $rc
IN
export DESKTOP_WM=$wm AT_SPI_LAUNCHER=$launcher CORVANE_PORT_DIR=$work/ports XDG_RUNTIME_DIR=$work
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
unset QT_QPA_PLATFORM CORVANE_UDP_TO
# A display number of its own, away from other sessions starting at the same moment. A virtual
# X server the panel cannot reach (75 from the script: it ended before it appeared) is the
# session's fault, not the panel's: up to three sessions are tried before that counts.
for attempt in 1 2 3; do
  xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$inner" \
    ${ATSPI_SCRIPT:-$here/panel_atspi.py} "$part" "$panel" "$port" 2> >(grep -v -E 'dbus-daemon|SpiRegistry|fd limit|XDG_RUNTIME_DIR' >&2)
  rc=$?
  [ "$rc" -eq 75 ] || exit "$rc"
  echo "session $attempt: the panel could not reach the virtual display; another one"
done
exit 1
