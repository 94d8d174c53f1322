#!/usr/bin/env bash
# Takes a PNG of every console window into docs/screenshots/ (or the directory
# given as $1): builds console_screenshots into build/ and runs it under Xvfb
# on a 1280x800 screen, against a real core on a free loopback port, real
# chat users and (for the IRC link window) a real ngircd it starts itself.
# The test run never builds or runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots}")
scripts/install-deps.sh
for tool in xvfb-run Xvfb; do
  if ! command -v "$tool" >/dev/null; then
    echo "screenshots.sh: $tool is missing (Debian package xvfb; scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target console_screenshots
mkdir -p "$out"
# The X server's own platform, not the offscreen one the tests use: the
# pictures should show what an operator's desktop shows.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" build/tests/console/console_screenshots "$out"
