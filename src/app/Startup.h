// Start-up of the windows: the single-instance marker and the main menu.
#pragma once

namespace yubin::app {

// Makes the application object, runs Main and the event loop; returns the exit code.
int RunWindows(int argc, char** argv);

}  // namespace yubin::app
