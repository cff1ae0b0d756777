#!/usr/bin/env bash
# The web page in headless Chromium: fetches the pinned axe-core from the npm registry once into
# the build folder, then runs the page test. Skipped (77) where Chromium's driver is missing.
set -euo pipefail
here=$(dirname "$0")
tools=$1; shift
axe=$tools/node_modules/axe-core/axe.min.js
if [ ! -f "$axe" ] && command -v npm >/dev/null; then
  npm install --prefix "$tools" --no-audit --no-fund --loglevel=error axe-core@4.10.2 >/dev/null
fi
mkdir -p "$tools/shots"
exec /usr/bin/python3 "$here/page_test.py" "$@" "$axe" "$tools/shots"
