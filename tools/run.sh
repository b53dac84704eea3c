#!/usr/bin/env bash
# Installs what is missing, builds the program and starts its windows. Only the program is
# built; the folder's other options (the tests) stay as they are, so tools/test.sh before or
# after this finds its tests.
# Without a display it says so at once, builds the command line only, and shows its job
# instead: the subcommands, and the import of the published data files into a temporary
# database when they are at hand (YUBIN_SHARED_DATA_DIR, or ../shared/data beside the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/bin/yubinbox

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
  tools/install-deps.sh
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=ON
  cmake --build build -j"$(nproc)" --target yubinbox
  exec "$exe" "$@"
fi

echo "run.sh: no display found (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are not set):"
echo "run.sh: the windows cannot open here. Building the command line and showing it instead."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=OFF
cmake --build build -j"$(nproc)" --target yubinbox

show() {
  echo
  echo "\$ yubinbox $*"
  "$exe" "$@"
}
show --help

data="${YUBIN_SHARED_DATA_DIR:-../shared/data}"
ken_all="" jigyosyo=""
for name in KEN_ALL.CSV ken_all.csv ken_all.zip; do
  [ -z "$ken_all" ] && [ -f "$data/$name" ] && ken_all="$data/$name"
done
for name in JIGYOSYO.CSV jigyosyo.csv jigyosyo.zip; do
  [ -z "$jigyosyo" ] && [ -f "$data/$name" ] && jigyosyo="$data/$name"
done
if [ -z "$ken_all" ] || [ -z "$jigyosyo" ]; then
  echo
  echo "run.sh: the published data files (KEN_ALL.CSV and JIGYOSYO.CSV, or ken_all.zip and"
  echo "run.sh: jigyosyo.zip) are not in $data; set YUBIN_SHARED_DATA_DIR to their folder to see"
  echo "run.sh: an import. The monthly refresh is described in the README and in man yubinbox."
  exit 0
fi

# A temporary database and a temporary home: the user's own settings file stays untouched.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/.config"
db="$work/yubinbox.mdb"
show createdb "$db"
show import --db "$db" --ken-all "$ken_all" --jigyosyo "$jigyosyo"
show summary --db "$db"
show lookup --db "$db" 100-0001
show search --db "$db" --limit 3 千代田区 丸の内
echo
echo "run.sh: done; the temporary database is removed. With a display, tools/run.sh opens the windows."
exit 0
