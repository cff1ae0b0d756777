#!/usr/bin/env bash
# Checks the Debian package the way an installer meets it: its contents, the desktop entry and
# the AppStream metainfo through their validators, then (as root) installs it with apt and runs
# the installed programs, corvanectl against the installed emulator on a pseudo-terminal.
# Usage: scripts/check-package.sh corvane_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
sim=
svc=
trap '[ -n "$svc" ] && kill "$svc" 2>/dev/null; [ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

echo "-- contents of $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"
expected=(
  usr/bin/corvane usr/bin/corvane-sim usr/bin/corvanectl usr/bin/corvane-mqtt
  usr/share/man/man1/corvane-mqtt.1.gz usr/lib/systemd/system/corvane-mqtt@.service
  usr/lib/sysusers.d/corvane-mqtt.conf usr/share/doc/corvane/examples/corvane-mqtt.conf
  usr/share/applications/org.corvane.Corvane.desktop
  usr/share/metainfo/org.corvane.Corvane.metainfo.xml
  usr/share/man/man1/corvane.1.gz usr/share/man/man1/corvane-sim.1.gz usr/share/man/man1/corvanectl.1.gz
  usr/share/bash-completion/completions/corvanectl
  usr/bin/corvaned usr/share/man/man8/corvaned.8.gz usr/lib/systemd/system/corvaned@.service
  usr/lib/systemd/system/corvaned.service usr/lib/sysusers.d/corvaned.conf
  usr/share/doc/corvane/examples/corvaned.conf
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/corvane.png")
done
missing=0
for f in "${expected[@]}"; do
  [ -s "$work/root/$f" ] || { echo "missing from the package: /$f" >&2; missing=1; }
done
# The panel's network module, where the panel looks for it: the library folder beside bin/.
compgen -G "$work/root/usr/lib*/corvane/corvane-net.so" >/dev/null ||
  compgen -G "$work/root/usr/lib/*/corvane/corvane-net.so" >/dev/null ||
  { echo "missing from the package: the network module corvane-net.so" >&2; missing=1; }
# corvane-mqtt is corvaned by its older name.
[ "$(readlink "$work/root/usr/bin/corvane-mqtt")" = corvaned ] || { echo "corvane-mqtt is no link to corvaned" >&2; missing=1; }
[ "$missing" -eq 0 ]
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "no computed Qt dependency" >&2; exit 1; }

echo "-- validators"
desktop-file-validate "$work/root/usr/share/applications/org.corvane.Corvane.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.corvane.Corvane.metainfo.xml"
for page in "$work"/root/usr/share/man/man[18]/*.gz; do
  # A manual page that groff cannot read gives warnings and no text.
  [ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null | head -n 3)" ] || { echo "unreadable: $page" >&2; exit 1; }
done
# corvanectl's commands: each tag line whole (a tag broken over two source lines leaves its end
# in the text below it), and status says everything it prints.
ctl_text=$(MANWIDTH=200 man -l "$work/root/usr/share/man/man1/corvanectl.1.gz" 2>/dev/null)
for tag in 'search [--wait MS]' 'config --mac MAC --auto|--static ADDRESS [--new-mac MAC]' \
           'scene save FILE [--edid INn=EDIDFILE ...]' 'scene apply FILE [--dry-run]' 'watch [--interval MS]'; do
  grep -qxF "       $tag" <<<"$ctl_text" || { echo "corvanectl.1: no whole tag line '$tag'" >&2; exit 1; }
done
for said in 'input.s EDID' 'the device line'; do
  grep -q "$said" <<<"$ctl_text" || { echo "corvanectl.1: status does not mention $said" >&2; exit 1; }
done

if [ "$(id -u)" -ne 0 ]; then
  echo "-- not root: the package is not installed here, the installed programs are not tried"
  exit 0
fi
echo "-- apt install"
# --reinstall: a run on a machine that has this version installed tries the package just built.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb" >/dev/null
/usr/bin/corvanectl --version
/usr/bin/corvane --version
/usr/bin/corvane-sim --help >/dev/null
/usr/bin/corvane-mqtt --version | grep -q '^corvane-mqtt '
/usr/bin/corvaned --version
# An installed program loads modules only from where the package put them.
if strings -a /usr/bin/corvane | grep -Eq '^/[^.].*corvane-net\.so$'; then
  echo "/usr/bin/corvane names a module in a build folder" >&2
  exit 1
fi
getent passwd corvane-mqtt >/dev/null || { echo "no corvane-mqtt user" >&2; exit 1; }
id -nG corvane-mqtt | grep -qw dialout || { echo "corvane-mqtt is not in dialout" >&2; exit 1; }
getent passwd corvaned >/dev/null || { echo "no corvaned user" >&2; exit 1; }

echo "-- installed corvanectl against the installed emulator"
export CORVANE_PORT_DIR="$work/ports"
/usr/bin/corvane-sim --serial com201 --quiet >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do
  grep -q '^serial:' "$work/sim.log" && break
  sleep 0.1
done
grep '^serial:' "$work/sim.log"
timeout 60 /usr/bin/corvanectl status --port COM201

echo "-- installed corvaned against the installed emulator, its API called"
/usr/bin/corvaned --port COM201=desk --web 127.0.0.1:0 >"$work/svc.log" 2>&1 &
svc=$!
for _ in $(seq 100); do
  grep -q 'desk: switcher online' "$work/svc.log" && break
  sleep 0.1
done
api_port=$(sed -n 's/^corvaned: API on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/svc.log")
[ -n "$api_port" ] || { cat "$work/svc.log" >&2; exit 1; }
exec 3<>"/dev/tcp/127.0.0.1/$api_port"
printf 'GET /api/switchers/desk HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n' >&3
answer=$(timeout 10 cat <&3)
exec 3<&-
grep -q '"online":true' <<<"$answer" || { echo "corvaned: $answer" >&2; exit 1; }
