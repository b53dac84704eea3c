// The entry points of the windows module. The executable loads the module only when it opens
// windows, so the command line never loads the toolkit's libraries at all.
#include "windows/ImportWindowDriver.h"
#include "windows/Startup.h"
#include "windows/WindowsModule.h"

extern "C" __attribute__((visibility("default"))) int yubinbox_run_windows(int argc, char** argv) {
    return yubin::app::RunWindows(argc, argv);
}

extern "C" __attribute__((visibility("default"))) int yubinbox_run_import_window(int argc,
                                                                                 char** argv) {
    return yubin::app::RunImportWindow(argc, argv);
}
