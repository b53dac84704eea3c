#!/usr/bin/env bash
# Screenshots of the import window under a virtual X server (Xvfb): opened, files chosen,
# running, after the run; saved as docs/import-*.png. Imports the published data files
# (../shared/data, or YUBIN_SHARED_DATA_DIR) into a temporary database.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=ON >/dev/null
cmake --build build -j"$(nproc)" --target yubinbox >/dev/null
data="${YUBIN_SHARED_DATA_DIR:-../shared/data}"
for f in KEN_ALL.CSV JIGYOSYO.CSV; do
  [ -f "$data/$f" ] || { echo "missing $data/$f" >&2; exit 1; }
done
work="$(mktemp -d)"
# A free display of our own.
display=""
for n in $(seq $((100 + $$ % 400)) 999); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  if [ -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  kill $xvfb 2>/dev/null || true
done
[ -n "$display" ] || { echo "Xvfb cannot start" >&2; exit 1; }
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p docs
export HOME="$work" XDG_CONFIG_HOME="$work/.config"
build/bin/yubinbox createdb "$work/yubinbox.mdb" >/dev/null
DISPLAY="$display" QT_QPA_PLATFORM=xcb build/bin/yubinbox import-window \
  --db "$work/yubinbox.mdb" --ken-all "$data/KEN_ALL.CSV" --jigyosyo "$data/JIGYOSYO.CSV" \
  --pause 1 --screenshots docs
ls docs/import-*.png
