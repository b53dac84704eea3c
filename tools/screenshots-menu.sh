#!/usr/bin/env bash
# Screenshots of the main menu and the help window under Xvfb, for the manual and the README:
#   tools/screenshots-menu.sh [DISPLAY_NUMBER]      (default 15; the build must exist)
# Writes docs/manual/manual-images/menu-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
display=":${1:-15}"
exe=build/bin/yubinbox
out=docs/manual/manual-images
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run tools/install-deps.sh" >&2; exit 1; }
done
[ -x "$exe" ] || { echo "build $exe first" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
  rm -f "$(dirname "$exe")/checkfile.txt"
}
trap cleanup EXIT
sleep 1
export DISPLAY="$display" XDG_CONFIG_HOME="$work/config"

window_of() {  # waits for a window whose name holds $1
  for _ in $(seq 50); do
    id=$(xdotool search --name "$1" 2>/dev/null | tail -1) && [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
  echo "no window $1" >&2; return 1
}

shot() {  # window name, file
  local id
  id=$(window_of "$1")
  import -window "$id" "$2"
}

start() {  # HOME folder
  rm -f "$(dirname "$exe")/checkfile.txt"
  HOME="$1" "$exe" >/dev/null 2>&1 &
  app=$!
  sleep 1.5
}

stop() {
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=""
}

# 1. The first start: no settings file.
mkdir -p "$work/first/Documents"
start "$work/first"
shot frmMENU "$out/menu-first-start.png"
# The help window (F1).
menu=$(window_of frmMENU)
xdotool windowfocus --sync "$menu" key F1
sleep 1
shot 操作説明 "$out/menu-help.png"
stop

# 2. The administrator after creating a database: import offered.
mkdir -p "$work/admin/Documents" "$work/admin/db"
HOME="$work/admin" "$exe" newdb "$work/admin/db" >/dev/null
start "$work/admin"
shot frmMENU "$out/menu-administrator.png"
stop

# 3. An ordinary user whose settings point at the administrator's database: refused.
mkdir -p "$work/user/Documents"
HOME="$work/user" "$exe" use "$work/admin/db/yubinbox.mdb" >/dev/null
start "$work/user"
# No window manager places the box: put it over the menu as a desktop would.
box=$(window_of '^yubinbox$')
xdotool windowmove "$box" 130 200
sleep 0.3
import -window root -crop 660x500+0+0 "$out/menu-user.png"
stop
echo "written: $(ls "$out"/menu-*.png | tr '\n' ' ')"
