#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
# The Japanese fonts stand in for the fonts the windows name; Xvfb, xdotool and ImageMagick
# take the screenshots and run the installed package; dpkg-dev finds the package's dependencies
# and lintian checks the package. python3 runs the layering check (tools/check-layering.py).
# gettext's msgfmt compiles the command line's message catalogues (po/*.po); xgettext and msgcmp
# check that every message has its translation.
# libpq-dev is the client library of the publish to PostgreSQL; postgresql is the server the
# publishing tests start privately (and psql, the benchmark's yardstick).
packages=(g++ cmake make pkg-config qt6-base-dev libsqlite3-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev libzip-dev libpq-dev postgresql sqlite3 xvfb xauth x11-utils
          fonts-ipafont-gothic fonts-ipafont-mincho xdotool imagemagick dpkg-dev procps man-db
          lintian file python3 gettext)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
