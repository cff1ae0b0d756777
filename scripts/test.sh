#!/usr/bin/env bash
# Installs what is missing, builds the panel, the emulator and the tests, and runs the whole
# suite: a normal build, the same under AddressSanitizer + UndefinedBehaviorSanitizer, the
# serial transport (with the rest of the Qt-free code) under ThreadSanitizer, a short run of
# every fuzz target, and the benchmarks once (their figures are printed, not judged). The
# release build also gives the Debian package, which is checked and, as root, installed and tried.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)
fuzz_seconds=${CORVANE_FUZZ_SECONDS:-20}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir" -j "$jobs"
}

echo "== build and test (release)"
build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/release -j "$jobs" --timeout 300

echo "== random-fault soak (brief; scripts/soak.sh ROUNDS runs it longer)"
scripts/soak.sh "${CORVANE_SOAK_ROUNDS:-8}" 1

echo "== Debian package"
rm -f build/release/corvane_*_amd64.deb
(cd build/release && cpack -G DEB >/dev/null)
scripts/check-package.sh build/release/corvane_*_amd64.deb

echo "== address + undefined behaviour sanitizers"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=address,undefined -DCORVANE_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j "$jobs" --timeout 600

echo "== thread sanitizer (the serial transport and everything else without Qt)"
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=thread -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j "$jobs" --timeout 600

echo "== fuzz targets (${fuzz_seconds}s each)"
build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_BUILD_FUZZ=ON \
  -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF
for target in build/fuzz/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  corpus=$(mktemp -d)
  echo "-- $(basename "$target")"
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
  rm -rf "$corpus"
done

echo "== benchmarks"
for b in build/release/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  # The fleet's firmware benchmark with a small file here; by hand it sends the largest.
  CORVANE_BENCH_FLEET_BYTES=${CORVANE_BENCH_FLEET_BYTES:-8192} "$b" --benchmark_min_time=0.05 2>&1 | grep -v '^\*\*\*'
done
# A tap on the web page against the same route through MQTT (headless Chromium).
/usr/bin/python3 bench/web_route.py build/release

echo "== all tests passed"
# The release suite's summary, repeated as the closing line.
ctest --test-dir build/release -N | awk '/Total Tests:/ {print $3 " passed, 0 failed"}'
