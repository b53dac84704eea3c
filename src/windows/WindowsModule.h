// The windows live in a module of their own beside the executable (yubinbox-windows.so), loaded
// only when windows are opened: the command line then starts without the toolkit's libraries.
#pragma once

namespace yubin::app {

inline constexpr const char* kWindowsModuleFile = "yubinbox-windows.so";
inline constexpr const char* kRunWindowsSymbol = "yubinbox_run_windows";
inline constexpr const char* kRunImportWindowSymbol = "yubinbox_run_import_window";

}  // namespace yubin::app
