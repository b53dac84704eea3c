#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, and starts the installed program as
# an ordinary user under Xvfb: the menu must open (its marker in the user's runtime folder,
# since /usr/lib/yubinbox is root's) and its close button must end it and remove the marker.
#   tools/install-deb.sh [DISPLAY_NUMBER]        (default 15; needs root or sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
display=":${1:-15}"
user=yubintest
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=ON
cmake --build build -j"$(nproc)" --target yubinbox
(cd build && cpack -G DEB)
deb=$(ls -t build/yubinbox_*.deb | head -1)
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
echo "installed: $(command -v yubinbox) -> $(readlink -f "$(command -v yubinbox)")"
desktop-file-validate /usr/share/applications/yubinbox.desktop 2>/dev/null || true
man -w yubinbox >/dev/null && echo "man page: $(man -w yubinbox)"

id "$user" >/dev/null 2>&1 || $sudo useradd --create-home --shell /bin/bash "$user"
uid=$(id -u "$user")
home=$(getent passwd "$user" | cut -d: -f6)
runtime="/tmp/yubinbox-$uid"   # no login session here, so no XDG_RUNTIME_DIR

Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
# Started the way the desktop entry starts it.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/yubinbox.desktop)
as_user=(sudo -u "$user")
[ "$(id -u)" -eq 0 ] && as_user=(runuser -u "$user" --)
"${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY="$display" $exec_line &
sleep 3
window=$(DISPLAY="$display" xdotool search --name "frmMENU" | head -1 || true)
[ -n "$window" ] || { echo "FAIL: the menu did not open" >&2; exit 1; }
[ -f "$runtime/checkfile.txt" ] || { echo "FAIL: no marker in $runtime" >&2; exit 1; }
echo "menu open as $user; marker: $runtime/checkfile.txt"
DISPLAY="$display" import -window "$window" build/installed-menu.png
DISPLAY="$display" xdotool windowfocus --sync "$window" key alt+x
for _ in $(seq 50); do pgrep -u "$user" -x yubinbox >/dev/null || break; sleep 0.1; done
if pgrep -u "$user" -x yubinbox >/dev/null; then echo "FAIL: still running" >&2; exit 1; fi
[ ! -e "$runtime/checkfile.txt" ] || { echo "FAIL: marker left behind" >&2; exit 1; }
echo "OK: the installed program ran as $user and closed cleanly (screenshot build/installed-menu.png)"
