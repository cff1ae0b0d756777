#!/usr/bin/env bash
# Random-fault soak: corvanectl against corvane-sim, whose every exchange may be dropped,
# delayed, corrupted, split, merged or preceded by noise. Routes, statuses, EDID presets and
# firmware upgrades, over the serial link and TCP in random order. Every operation must end
# (no hang), end with 0 or 1, and say 0 only when the emulator's state agrees; the emulator's
# memory must stay flat.
#
#   scripts/soak.sh [ROUNDS] [SEED] [RATE]     (defaults 40, the time, 5%)
#
# scripts/test.sh runs a few rounds; run it longer by hand. Needs a release build.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-40}
seed=${2:-$(date +%s)}
rate=${3:-5%}
build=${CORVANE_BUILD:-build/release}
sim=$build/sim/corvane-sim
ctl=$build/cli/corvanectl
[ -x "$sim" ] && [ -x "$ctl" ] || { echo "soak: build $build first" >&2; exit 2; }

work=$(mktemp -d)
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export CORVANE_PORT_DIR=$work/ports
mkdir -p "$CORVANE_PORT_DIR"

"$sim" --serial com240 --tcp 127.0.0.1:0 --quiet --reboot-ms 300 --fault-random "$seed:$rate" \
  --edid-out "$work/edid" --fw-out "$work/received.bin" >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 100); do
  grep -q 'tcp: ' "$work/sim.out" 2>/dev/null && break
  sleep 0.05
done
tcp=$(sed -n 's/.*tcp: \(127\.0\.0\.1:[0-9]*\).*/\1/p' "$work/sim.out" | head -n 1)
[ -n "$tcp" ] || { echo "soak: the emulator did not start: $(cat "$work/sim.out")" >&2; exit 1; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$simpid/status"; }
rss_start=$(rss)

RANDOM=$((seed % 32768))
failures=0
fail() { echo "soak: FAIL round $round: $*" >&2; failures=$((failures + 1)); }

# run LINK ARGS...: corvanectl over the link, bounded; sets $status and $out.
run() {
  local link=$1; shift
  local where=(--port COM240)
  [ "$link" = tcp ] && where=(--host "$tcp")
  set +e
  out=$(timeout 60 "$ctl" "$@" "${where[@]}" 2>"$work/err")
  status=$?
  set -e
  if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
    fail "corvanectl $* over $link ended with $status: $(tail -n 1 "$work/err")"
  fi
}
# readback LINK ARGS...: the same until it says 0 (faults hit read-backs too).
readback() {
  for _ in 1 2 3 4 5 6; do
    run "$@"
    [ "$status" -eq 0 ] && return 0
  done
  fail "no read-back of '$*' in six tries"
  return 1
}

routes=("" "")
names=()
while IFS= read -r line; do names+=("$line"); done < <("$ctl" edid --help | sed -n 's/^ *[0-9][0-9]*  //p')
device='Device: Corvane 4x2     Version:1.32-20261207'
counts=(0 0 0 0)

for round in $(seq "$rounds"); do
  link=serial
  [ $((RANDOM % 2)) -eq 0 ] && link=tcp
  case $((RANDOM % 4)) in
  0)
    input=$((RANDOM % 4 + 1)); output=$((RANDOM % 2 + 1))
    run "$link" route "$input" "$output"
    counts[0]=$((counts[0] + 1))
    if [ "$status" -eq 0 ]; then
      [ "$out" = "OUTPUT $output: IN $input" ] || fail "route printed '$out'"
      routes[$((output - 1))]=$input
    else
      routes[$((output - 1))]=""  # a set that timed out may have been carried out
    fi
    if readback "$link" route; then
      for o in 1 2; do
        want=${routes[$((o - 1))]}
        got=$(sed -n "s/^OUTPUT $o: IN //p" <<<"$out")
        [ -z "$want" ] || [ "$got" = "$want" ] || fail "output $o shows input $got, expected $want"
        routes[$((o - 1))]=$got
      done
    fi
    ;;
  1)
    run "$link" status --json
    counts[1]=$((counts[1] + 1))
    if [ "$status" -eq 0 ]; then
      grep -qF "\"line\":\"$device\"" <<<"$out" || fail "status with a wrong device: $out"
      for o in 1 2; do
        want=${routes[$((o - 1))]}
        if [ -n "$want" ] && ! grep -qE "\{\"output\":$o,\"signal\":(true|false),\"input\":$want\}" <<<"$out"; then
          fail "status shows another route for output $o: $out"
        fi
      done
    fi
    ;;
  2)
    preset=$((RANDOM % 15 + 1)); input=$((RANDOM % 4 + 1))
    run "$link" edid set "$preset" --to "IN$input"
    counts[2]=$((counts[2] + 1))
    if [ "$status" -eq 0 ] && readback "$link" edid status; then
      got=$(sed -n "s/^IN$input: //p" <<<"$out")
      [ "$got" = "${names[$((preset - 1))]}" ] || fail "IN$input uses '$got' after preset $preset"
    fi
    ;;
  3)
    size=$((RANDOM % 1200 + 300))
    head -c "$size" /dev/urandom >"$work/image.bin"
    "$ctl" firmware pack "$work/image.bin" "$work/image.fw" >/dev/null
    rm -f "$work/received.bin"
    run "$link" firmware upgrade "$work/image.fw"
    counts[3]=$((counts[3] + 1))
    if [ "$status" -eq 0 ]; then
      cmp -s -n "$size" "$work/image.bin" "$work/received.bin" || fail "the switcher holds another image"
    fi
    ;;
  esac
done

rss_end=$(rss)
echo "soak: $rounds rounds (seed $seed, rate $rate): ${counts[0]} routes, ${counts[1]} statuses," \
  "${counts[2]} EDID presets, ${counts[3]} upgrades; emulator memory ${rss_start} -> ${rss_end} kB"
if [ $((rss_end - rss_start)) -gt 16384 ]; then
  fail "the emulator grew by $((rss_end - rss_start)) kB"
fi
[ "$failures" -eq 0 ] || { echo "soak: $failures failures" >&2; exit 1; }
