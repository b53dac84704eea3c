#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program (its windows).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)" --target yubinbox
exec build/src/app/yubinbox "$@"
