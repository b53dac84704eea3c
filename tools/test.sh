#!/usr/bin/env bash
# Installs what is missing, checks the layering of src/ (tools/check-layering.py), builds, and
# runs every test (no display needed). Whatever built the folder before (tools/run.sh, an older
# configuration), the tests, the benchmarks and the windows are switched on here, and a run in
# which no test executes fails. Arguments go to ctest (`-LE slow`).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
# No library includes a header of one it may not use, and Qt stays in the windows.
tools/check-layering.py
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUBIN_BUILD_TESTS=ON -DYUBIN_BUILD_BENCH=ON \
  -DYUBIN_BUILD_GUI=ON
cmake --build build -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# Three processes per core: the quick ones mostly wait (see tests/CMakeLists.txt), and a slow one
# takes three of the slots.
ctest --test-dir build --output-on-failure --no-tests=error -j"$((3 * $(nproc)))" "$@"
