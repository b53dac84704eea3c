#!/usr/bin/env bash
# Pictures of the file chooser (settings mode, data-file mode) and the database creation
# window under a virtual X server, into docs/.
# Usage: tools/screenshots-chooser.sh [display number, default 99]
set -euo pipefail
cd "$(dirname "$0")/.."
display=":${1:-99}"
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=ON >/dev/null
cmake --build build -j2 --target yubin_screenshots_chooser
mkdir -p docs

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  xdpyinfo -display "$display" >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY="$display" QT_QPA_PLATFORM=xcb build/src/windows/yubin_screenshots_chooser docs
