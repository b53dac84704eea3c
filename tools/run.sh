#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program (its windows). Only the program is
# built; the folder's other options (the tests) stay as they are, so tools/test.sh before or
# after this finds its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_GUI=ON
cmake --build build -j"$(nproc)" --target yubinbox
exec build/bin/yubinbox "$@"
