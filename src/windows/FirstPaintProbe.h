// For the start-up benchmark: with YUBIN_FIRST_PAINT_PROBE set in the environment, the
// program reports the moment its first window has painted (CLOCK_MONOTONIC, on standard
// error: "first paint: <nanoseconds>") and ends at once, marker removed, as a start that the
// user closes right away. Without the variable nothing is installed.
#pragma once

namespace yubin::app {

void InstallFirstPaintProbeIfAsked();

}  // namespace yubin::app
